#pragma once
// The connection check's conversation with the board, without a window:
// "?" (any reply), "S?" (buffer and filter), "G?" (gain code, 0..5) and "F?"
// (rate code, 0..10 and within the model's list), in this order, stopping at
// the first failure. Each finding is handed to the caller as soon as it is
// read, so a check that fails later keeps what it learnt before.

#include <QString>
#include <functional>

#include "board/Protocol.h"

enum class CheckFailure {
    None,
    NoAnswer,     // "?" or "S?" unanswered: NoAnswerText
    StatusReply,  // "S?" answered with unusable characters: ReplyErrorText
    Gain,         // "G?" unanswered or out of range
    Rate,         // "F?" unanswered, out of range or without a list entry: RateErrorText
};

struct ConnectionCheckSteps {
    // One command transaction: true with the reply when the board answered.
    std::function<bool(const QString& command, QString& reply)> transact;
    std::function<void(const QString& reply)> presenceRead;  // optional
    std::function<void(const StatusSummary&)> statusRead;    // optional
    std::function<void(int gainCode)> gainRead;              // optional
    // Optional; false when the code has no entry after all (a reply error).
    std::function<bool(int rateCode)> rateRead;
};

// `rateEntries`: number of entries of the data-rate list (11 or 7).
CheckFailure RunConnectionCheck(const ConnectionCheckSteps& steps, const QString& boardName,
                                int rateEntries);

// The status text of a failure ("" for None), as the window shows it.
QString CheckFailureText(CheckFailure failure, const QString& boardName);
