// Reply parsing on any bytes the board might send back: the code digit of a
// "G?"/"F?" reply, the "OK" of a set command and the buffer/filter characters
// of the "S?" reply.
#include "board/Protocol.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The serial layer hands replies over one character per byte.
    const QByteArray raw(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString reply = QString::fromLatin1(raw);

    const std::optional<int> code = CodeDigit(reply);
    FUZZ_CHECK(code.has_value() == (reply.size() >= 2), "CodeDigit presence for %s",
               raw.toHex().constData());
    if (code)
        FUZZ_CHECK(*code >= 0 && *code <= 15, "CodeDigit gave %d", *code);

    FUZZ_CHECK(IsAccepted(reply) == raw.startsWith("OK"), "IsAccepted(%s)", raw.toHex().constData());

    for (const QString& name : {QStringLiteral("Vexlo"), QStringLiteral("Tamrix")}) {
        const std::optional<StatusSummary> s = ParseStatusReply(reply, name);
        const bool valid = raw.size() >= 3 && (raw[1] == '0' || raw[1] == '1')
            && (raw[2] == '3' || raw[2] == '4');
        FUZZ_CHECK(s.has_value() == valid, "ParseStatusReply(%s)", raw.toHex().constData());
        if (s) {
            FUZZ_CHECK(s->status.startsWith(name + QStringLiteral(" : BUF ")), "status %s",
                       qPrintable(s->status));
            FUZZ_CHECK(s->label.startsWith(QStringLiteral("BUF ")), "label %s", qPrintable(s->label));
        }
    }
    return 0;
}
