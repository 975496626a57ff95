#pragma once
// The board's text protocol as pure functions: the commands the host writes,
// the code characters they carry, and the rules by which a reply is read.
// Nothing here touches the port or the window, so every rule can be tested
// on its own. Commands are returned without the terminating carriage return;
// the caller appends `Terminator` (or SendCommand does).

#include <QString>
#include <optional>

// ---- Commands without parameters ------------------------------------------
QString PresenceCommand();      // "?"  any reply means the board is there
QString StatusQueryCommand();   // "S?" buffer and filter state
QString GainQueryCommand();     // "G?" gain code at character 2
QString RateQueryCommand();     // "F?" rate code at character 2

// ---- Commands with a code -----------------------------------------------
// "F" + the last hexadecimal digit of the 16-bit list index of Combo1.
// List index -1 (nothing selected) gives "FF".
QString RateCommand(int listIndex);
// "G" + the 16-bit list index of Combo3 in upper-case hexadecimal, no padding.
// List index -1 gives "GFFFF".
QString GainCommand(int listIndex);
// Measurement start: "A" (hexadecimal codes) or "M" (millivolts), the 16-bit
// channel list index in upper-case hexadecimal, then the sample count as four
// upper-case hexadecimal digits. Only the low 16 bits of `count` are used;
// callers check the range 0 .. 65535 first. Example: (true, 2, 100) -> "A20064".
QString StartCommand(bool hexFormat, int channelIndex, int count);
// Measurement stop: "AX" or "MX".
QString StopCommand(bool hexFormat);

// ---- Reading replies ------------------------------------------------------
// The code carried by a "G?" or "F?" reply: character 2 read as one
// hexadecimal digit (0 .. 15). A character that is no hexadecimal digit reads
// as 0. Empty when the reply is shorter than 2 characters (no usable reply).
std::optional<int> CodeDigit(const QString& reply);
// A set command ("G" / "F" + code) was accepted: the reply starts with "OK",
// exactly, case-sensitive. Anything else, a shorter reply included, is a
// refusal.
bool IsAccepted(const QString& reply);

// Buffer/filter summary of an "S?" reply: character 2 is the input buffer
// ("0" off, "1" on), character 3 the filter ("3" Sinc3, "4" Sinc4). Empty when
// either character is missing or has another value (a reply error).
struct StatusSummary {
    QString status;  // for Status, e.g. "Vexlo : BUF ON, Sinc4"
    QString label;   // for Label1, e.g. "BUF ON / Sinc4"
};
std::optional<StatusSummary> ParseStatusReply(const QString& reply, const QString& boardName);

// ---- Board messages that carry the board's name -----------------------------
QString NoAnswerText(const QString& boardName);     // "<name>が応答しませんでした"
QString ReplyErrorText(const QString& boardName);   // "<name>の応答エラーです"
QString RateErrorText(const QString& boardName);    // "<name> 応答エラー"

// How long every command transaction waits for the board's reply, in
// milliseconds: the connection check, the rate and gain buttons, the start's
// rate and gain commands and vexlo-cli all use this one value.
constexpr int kReplyTimeoutMs = 100;

// Number of data rates each model offers (codes 0 .. count-1).
constexpr int kTamrixRateCount = 11;
constexpr int kSelvorRateCount = 7;
// Highest gain code (list "Gain=1" .. "Gain=128").
constexpr int kMaxGainCode = 5;
// Highest rate code any board may report in the connection check.
constexpr int kMaxRateCode = 10;
