#include "analysis/NoiseDensityText.h"

#include <cmath>

#include "analysis/NoiseStats.h"

namespace {

QString levelUnit(bool hexCodes) { return hexCodes ? QStringLiteral("dBFS") : QStringLiteral("dB re 1 mV"); }

QString number(double v, int decimals) { return FixedFigure(v, decimals); }

} // namespace

QString ToneListText(const Spectrum& sp, bool hexCodes, bool rateKnown)
{
    QStringList tones;
    const int decimals = sp.binWidth < 1 ? 2 : 1;
    for (const SpectrumPeak& pk : sp.peaks)
        tones << number(pk.frequency, rateKnown ? decimals : 4)
                     + (rateKnown ? QStringLiteral(" Hz ") : QStringLiteral(" ")) + number(pk.level, 1) + u' '
                     + levelUnit(hexCodes);
    return tones.isEmpty() ? QStringLiteral("なし") : tones.join(QStringLiteral(", "));
}

QStringList SpectrumHeaders(bool hexCodes)
{
    return {QStringLiteral("ノイズフロア [") + levelUnit(hexCodes) + QStringLiteral("/√Hz]"),
            QStringLiteral("RBW [Hz]"),
            QStringLiteral("セグメント長"),
            QStringLiteral("平均回数"),
            QStringLiteral("トーン"),
            QStringLiteral("SNR [dB]"),
            QStringLiteral("THD [dB]"),
            QStringLiteral("SINAD [dB]"),
            QStringLiteral("SFDR [dB]"),
            QStringLiteral("ENOB [bit]")};
}

QStringList SpectrumCells(const Spectrum& sp, bool hexCodes, bool rateKnown)
{
    const QString none = QStringLiteral("---");
    if (sp.density.empty())
        return QStringList(SpectrumHeaders(hexCodes).size(), none);
    QStringList c{number(sp.floor, 1), number(sp.resolutionBandwidth, sp.resolutionBandwidth < 1 ? 3 : 2),
                  QString::number(sp.segmentLength), QString::number(sp.segments),
                  ToneListText(sp, hexCodes, rateKnown)};
    const SineFigures& s = sp.sine;
    if (s.present)
        c << number(s.snr, 1) << number(s.thd, 1) << number(s.sinad, 1) << number(s.sfdr, 1) << number(s.enob, 2);
    else
        c << none << none << none << none << none;
    return c;
}

QString SpectrumTable(const std::vector<std::pair<QString, Spectrum>>& channels, bool hexCodes, bool rateKnown)
{
    QString out = (QStringList{QStringLiteral("CH")} + SpectrumHeaders(hexCodes)).join(u'\t') + u'\n';
    for (const auto& [name, sp] : channels)
        out += (QStringList{name} + SpectrumCells(sp, hexCodes, rateKnown)).join(u'\t') + u'\n';
    return out;
}
