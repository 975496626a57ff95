#pragma once
// The three programs built from this tree differ only by the values in one
// BuildProfile. Form1 consults the profile it was created with; each
// program's main() passes its own constant.

enum class ProgramKind { VexloDemo, Vexlo, Tamrix };

struct BuildProfile {
    ProgramKind kind;
    const char* programName;          // executable / application name

    // Model choice
    bool hasModelChoice;              // Frame4 with two model options exists
    const char* optionTamrixName;     // object name of the Tamrix option
    const char* optionSelvorName;     // object name of the Selvor option
    bool tamrixSelectedAtStartup;     // Tamrix option selected by start-up
    const char* startupCaption;       // caption set by start-up (UTF-8)
    bool optionClickFillsRateList;    // Vexlo: the model options refill Combo1

    // Control states
    bool hasControlStates;            // DisableControls / EnableControls exist
    bool rateListSelectsFirst;        // FillRateList* selects entry 0
    bool hasShortRateList;            // FillRateListShort exists

    // Port opening
    int maxComNumber;                 // above it: comRangeMessage; 0 = no check
    const char* comRangeMessage;      // UTF-8
    bool alwaysTamrixSettings;        // line settings fixed at 115200,N,8,1

    // Connection check
    const char* boardName;            // name in the board messages
    bool clearStatusOnOpenFailure;    // Status emptied after a failed opening
    bool enableModelOptionsOnCheckFailure;

    // Measurement
    bool recogniseNG;                 // "NG" refusal recognised at start
    bool clearStatusAtStart;          // Status emptied when a measurement starts
    bool stopMessage;                 // "測定停止しました" shown at stop

    // Window layout
    bool tamrixLayout;                // no Frame3/Frame4, 8010 x 8085 client area
};

extern const BuildProfile kVexloDemoProfile;
extern const BuildProfile kVexloProfile;
extern const BuildProfile kTamrixProfile;
