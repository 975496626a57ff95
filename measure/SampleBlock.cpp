#include "measure/SampleBlock.h"

#include <cstring>

QString SampleBlock::Field(int i, int channel) const
{
    if (!inRange(i, channel) || slots_.empty())
        return {};
    const Slot& s = slots_[size_t(i) * 2 + size_t(channel)];
    if (s.len == kAside)
        return aside_.value(i * 2 + channel);
    return QString::fromLatin1(s.text, s.len);
}

void SampleBlock::SetField(int i, int channel, QStringView text)
{
    if (!inRange(i, channel))
        return;
    if (slots_.empty()) {
        if (text.isEmpty())
            return; // empty everywhere already
        slots_.resize(size_t(kSampleCapacity) * 2, Slot{0, {}});
    }
    Slot& s = slots_[size_t(i) * 2 + size_t(channel)];
    const int key = i * 2 + channel;
    bool fits = text.size() <= kSlotChars;
    for (qsizetype k = 0; fits && k < text.size(); ++k)
        fits = text[k].unicode() < 0x100;
    if (s.len == kAside)
        aside_.remove(key);
    if (!fits) {
        s.len = kAside;
        aside_.insert(key, text.toString());
        return;
    }
    s.len = static_cast<unsigned char>(text.size());
    for (qsizetype k = 0; k < text.size(); ++k)
        s.text[k] = static_cast<char>(text[k].unicode());
}

void SampleBlock::SetFieldLatin1(int i, int channel, QLatin1StringView text)
{
    if (!inRange(i, channel))
        return;
    if (text.size() > kSlotChars || (slots_.empty() && text.isEmpty())) {
        SetField(i, channel, QString(text));
        return;
    }
    if (slots_.empty())
        slots_.resize(size_t(kSampleCapacity) * 2, Slot{0, {}});
    Slot& s = slots_[size_t(i) * 2 + size_t(channel)];
    if (s.len == kAside)
        aside_.remove(i * 2 + channel);
    s.len = static_cast<unsigned char>(text.size());
    std::memcpy(s.text, text.data(), size_t(text.size()));
}

void SampleBlock::Clear()
{
    std::vector<Slot>().swap(slots_);
    aside_.clear();
}

size_t SampleBlock::MemoryBytes() const
{
    size_t bytes = slots_.capacity() * sizeof(Slot);
    for (auto it = aside_.cbegin(); it != aside_.cend(); ++it)
        bytes += sizeof(int) + sizeof(QString) + size_t(it.value().capacity()) * 2;
    return bytes;
}
