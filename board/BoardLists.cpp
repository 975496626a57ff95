#include "board/BoardLists.h"

#include "board/Protocol.h"

const QStringList& GainListEntries()
{
    static const QStringList list{QStringLiteral("Gain=1"),  QStringLiteral("Gain=8"),
                                  QStringLiteral("Gain=16"), QStringLiteral("Gain=32"),
                                  QStringLiteral("Gain=64"), QStringLiteral("Gain=128")};
    return list;
}

QStringList RateListEntries(int count)
{
    static const QStringList full{
        QStringLiteral("5sps"),   QStringLiteral("10sps"),  QStringLiteral("20sps"),
        QStringLiteral("50sps"),  QStringLiteral("60sps"),  QStringLiteral("100sps"),
        QStringLiteral("200sps"), QStringLiteral("400sps"), QStringLiteral("800sps"),
        QStringLiteral("960sps"), QStringLiteral("1200sps")};
    static_assert(kTamrixRateCount == 11, "the full list has eleven entries");
    return full.mid(0, qBound(0, count, int(full.size())));
}

const QStringList& ChannelListEntries()
{
    static const QStringList list{QStringLiteral("CH0=Ain0-Ain1"), QStringLiteral("CH1=Ain2-Ain3"),
                                  QStringLiteral("CH0 + CH1")};
    return list;
}
