// Reply parsing on any bytes the board might send back: the code digit of a
// "G?"/"F?" reply, the "OK" of a set command and the buffer/filter characters
// of the "S?" reply. The checks are properties of the reading, not a second
// copy of it: what follows the characters a reply is read from never changes
// the reading, "OK" is case-sensitive, and the two texts of a status agree.
#include "board/Protocol.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The serial layer hands replies over one character per byte.
    const QByteArray raw(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString reply = QString::fromLatin1(raw);
    const QString tail = QStringLiteral("\rOK S14 NG"); // another tail after the same start

    const std::optional<int> code = CodeDigit(reply);
    FUZZ_CHECK(reply.size() < 2 ? !code : code == CodeDigit(reply.left(2) + tail),
               "CodeDigit of %s", raw.toHex().constData());
    FUZZ_CHECK(!code || (*code >= 0 && *code <= 15), "CodeDigit gave %d", code.value_or(-1));

    const bool accepted = IsAccepted(reply);
    FUZZ_CHECK(accepted == IsAccepted(reply.left(2) + tail), "IsAccepted depends on the tail of %s",
               raw.toHex().constData());
    if (accepted) // the lower-case "ok" is no acceptance
        FUZZ_CHECK(!IsAccepted(reply.toLower()), "IsAccepted(%s)", raw.toHex().constData());

    for (const QString& name : {QStringLiteral("Vexlo"), QStringLiteral("Tamrix")}) {
        const std::optional<StatusSummary> s = ParseStatusReply(reply, name);
        const std::optional<StatusSummary> other = ParseStatusReply(reply.left(3) + tail, name);
        FUZZ_CHECK(reply.size() < 3 ? !s : s.has_value() == other.has_value() && (!s || s->status == other->status),
                   "ParseStatusReply of %s", raw.toHex().constData());
        if (s) {
            // "<name> : BUF ON, Sinc4" and "BUF ON / Sinc4" name the same state.
            const QString label = QString(s->label).replace(QStringLiteral(" / "), QStringLiteral(", "));
            FUZZ_CHECK(s->status == name + QStringLiteral(" : ") + label, "status %s, label %s",
                       qPrintable(s->status), qPrintable(s->label));
            FUZZ_CHECK(label == QStringLiteral("BUF ON, Sinc4") || label == QStringLiteral("BUF ON, Sinc3")
                           || label == QStringLiteral("BUF OFF, Sinc4") || label == QStringLiteral("BUF OFF, Sinc3"),
                       "label %s", qPrintable(s->label));
        }
    }
    return 0;
}
