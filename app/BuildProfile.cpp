#include "app/BuildProfile.h"

const BuildProfile kVexloDemoProfile = {
    ProgramKind::VexloDemo, "Vexlo_Demo",
    /*hasModelChoice*/ true, "Option_CM", "Option_RS",
    /*tamrixSelectedAtStartup*/ false, "Vexlo ?? Demo", /*optionClickFillsRateList*/ false,
    /*hasControlStates*/ true, /*rateListSelectsFirst*/ true, /*hasShortRateList*/ true,
    /*maxComNumber*/ 16, "COM番号は1から16です", /*alwaysTamrixSettings*/ false,
    /*boardName*/ "Vexlo", /*clearStatusOnOpenFailure*/ false,
    /*enableModelOptionsOnCheckFailure*/ false,
    /*recogniseNG*/ true, /*clearStatusAtStart*/ true, /*stopMessage*/ true,
    /*tamrixLayout*/ false,
};

const BuildProfile kVexloProfile = {
    ProgramKind::Vexlo, "Vexlo",
    true, "Option3", "Option4",
    true, "Tamrix Demo", true,
    false, false, true,
    16, "可能なCOM番号は1から16です", false,
    "Vexlo", true,
    true,
    true, true, true,
    false,
};

const BuildProfile kTamrixProfile = {
    ProgramKind::Tamrix, "Tamrix",
    false, "", "",
    true, "Tamrix Demo", false,
    false, false, false,
    0, "", true,
    "Tamrix", true,
    false,
    false, false, false,
    true,
};
