#include "board/ConnectionCheck.h"

CheckFailure RunConnectionCheck(const ConnectionCheckSteps& steps, const QString& boardName,
                                int rateEntries)
{
    QString reply;
    if (!steps.transact(PresenceCommand(), reply))
        return CheckFailure::NoAnswer;
    if (steps.presenceRead)
        steps.presenceRead(reply);

    if (!steps.transact(StatusQueryCommand(), reply))
        return CheckFailure::NoAnswer;
    const std::optional<StatusSummary> summary = ParseStatusReply(reply, boardName);
    if (!summary)
        return CheckFailure::StatusReply;
    if (steps.statusRead)
        steps.statusRead(*summary);

    {
        const bool ok = steps.transact(GainQueryCommand(), reply);
        const std::optional<int> code = ok ? CodeDigit(reply) : std::nullopt;
        if (!code || *code > kMaxGainCode)
            return CheckFailure::Gain;
        if (steps.gainRead)
            steps.gainRead(*code);
    }

    const bool ok = steps.transact(RateQueryCommand(), reply);
    const std::optional<int> code = ok ? CodeDigit(reply) : std::nullopt;
    // A code the model's list has no entry for (Selvor offers only 0 .. 6) is
    // a reply error as well.
    if (!code || *code > kMaxRateCode || *code >= rateEntries)
        return CheckFailure::Rate;
    if (steps.rateRead && !steps.rateRead(*code))
        return CheckFailure::Rate;
    return CheckFailure::None;
}

QString CheckFailureText(CheckFailure failure, const QString& boardName)
{
    switch (failure) {
    case CheckFailure::None:
        return {};
    case CheckFailure::NoAnswer:
        return NoAnswerText(boardName);
    case CheckFailure::StatusReply:
        return ReplyErrorText(boardName);
    case CheckFailure::Gain:
        return QStringLiteral("ゲイン設定読出しできませんでした");
    case CheckFailure::Rate:
        return RateErrorText(boardName);
    }
    return {};
}
