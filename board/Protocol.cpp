#include "board/Protocol.h"

#include "app/NumberReading.h"

namespace {

// Upper-case hexadecimal of the 16-bit (two's complement) value.
QString Hex16(int value)
{
    return QString::number(static_cast<quint16>(value), 16).toUpper();
}

} // namespace

QString PresenceCommand() { return QStringLiteral("?"); }
QString StatusQueryCommand() { return QStringLiteral("S?"); }
QString GainQueryCommand() { return QStringLiteral("G?"); }
QString RateQueryCommand() { return QStringLiteral("F?"); }

QString RateCommand(int listIndex)
{
    const QString hex = Hex16(listIndex);
    return QStringLiteral("F") + hex.right(1);
}

QString GainCommand(int listIndex)
{
    return QStringLiteral("G") + Hex16(listIndex);
}

QString StartCommand(bool hexFormat, int channelIndex, int count)
{
    return (hexFormat ? QStringLiteral("A") : QStringLiteral("M")) + Hex16(channelIndex)
        + Hex16(count).rightJustified(4, QLatin1Char('0'));
}

QString StopCommand(bool hexFormat)
{
    return hexFormat ? QStringLiteral("AX") : QStringLiteral("MX");
}

std::optional<int> CodeDigit(const QString& reply)
{
    if (reply.size() < 2)
        return std::nullopt;
    const int value = HexDigitValue(reply.at(1));
    return value < 0 ? 0 : value;
}

bool IsAccepted(const QString& reply)
{
    return reply.startsWith(QLatin1String("OK"), Qt::CaseSensitive);
}

std::optional<StatusSummary> ParseStatusReply(const QString& reply, const QString& boardName)
{
    // A position beyond the end of the reply is an empty character, which
    // matches none of the valid values.
    const QString buffer = reply.mid(1, 1);
    const QString filter = reply.mid(2, 1);

    StatusSummary out;
    if (buffer == QLatin1String("0")) {
        out.status = boardName + QStringLiteral(" : BUF OFF, ");
        out.label = QStringLiteral("BUF OFF / ");
    } else if (buffer == QLatin1String("1")) {
        out.status = boardName + QStringLiteral(" : BUF ON, ");
        out.label = QStringLiteral("BUF ON / ");
    } else {
        return std::nullopt;
    }

    if (filter == QLatin1String("3")) {
        out.status += QStringLiteral("Sinc3");
        out.label += QStringLiteral("Sinc3");
    } else if (filter == QLatin1String("4")) {
        out.status += QStringLiteral("Sinc4");
        out.label += QStringLiteral("Sinc4");
    } else {
        return std::nullopt;
    }
    return out;
}

QString NoAnswerText(const QString& boardName)
{
    return boardName + QStringLiteral("が応答しませんでした");
}

QString ReplyErrorText(const QString& boardName)
{
    return boardName + QStringLiteral("の応答エラーです");
}

QString RateErrorText(const QString& boardName)
{
    return boardName + QStringLiteral(" 応答エラー");
}
