#pragma once
// The sample block: the texts of one measurement exactly as the board sent
// them, with room for the largest block a start command can ask for.
//
// Reading works as with a plain array of records: `Samples[i].Ch0` and
// `Samples[i].Ch1` give the texts of entry i (a copy; an index outside the
// block gives empty texts). Writing goes through SetCh0 / SetCh1 / Set.
//
// A full block holds 131070 short texts. Stored as separate strings they
// would cost about 9 MiB and one allocation each; here every field is a
// fixed slot of up to 9 one-byte characters (the widest field the board
// sends), about 1.3 MiB for the whole block, allocated on the first store.
// Texts that do not fit a slot (longer, or characters above U+00FF) are kept
// aside unchanged, so any text set is read back exactly.

#include <QHash>
#include <QLatin1StringView>
#include <QString>
#include <QStringView>
#include <vector>

struct SampleRecord {
    QString Ch0;
    QString Ch1;
};

constexpr int kSampleCapacity = 65535;

class SampleBlock {
public:
    static constexpr int kSlotChars = 9;

    // Room of the block; constant.
    int size() const { return kSampleCapacity; }
    // The room is fixed; kept so that code that sizes the block still builds.
    void resize(int) {}

    // Entry i as texts. Returned const so that `Samples[i].Ch0 = ...` (which
    // would change only a copy) does not compile.
    const SampleRecord operator[](int i) const { return at(i); }
    SampleRecord at(int i) const { return {Field(i, 0), Field(i, 1)}; }
    QString Ch0(int i) const { return Field(i, 0); }
    QString Ch1(int i) const { return Field(i, 1); }
    // channel 0 = Ch0, 1 = Ch1.
    QString Field(int i, int channel) const;

    // Stores a text; an index outside 0..65534 or a channel other than 0/1 is
    // ignored (nothing is ever written beyond the block).
    void SetField(int i, int channel, QStringView text);
    void SetCh0(int i, QStringView text) { SetField(i, 0, text); }
    void SetCh1(int i, QStringView text) { SetField(i, 1, text); }
    void Set(int i, const SampleRecord& r) { SetField(i, 0, r.Ch0); SetField(i, 1, r.Ch1); }

    // Stores one-byte characters (U+0000..U+00FF) as SetField would store
    // their widened text, without building it (the file reader).
    void SetFieldLatin1(int i, int channel, QLatin1StringView text);

    // The field as one-byte characters without building a QString, for the
    // decoding loops. False when the field is kept aside (use Field()).
    bool FieldLatin1(int i, int channel, QLatin1StringView* out) const
    {
        if (!inRange(i, channel) || slots_.empty()) {
            *out = QLatin1StringView();
            return true;
        }
        const Slot& s = slots_[size_t(i) * 2 + size_t(channel)];
        if (s.len == kAside)
            return false;
        *out = QLatin1StringView(s.text, s.len);
        return true;
    }

    // Every text becomes empty and the storage is released.
    void Clear();
    // Bytes held by the block (for memory checks).
    size_t MemoryBytes() const;

private:
    struct Slot {
        unsigned char len;  // kAside: the text is in aside_
        char text[kSlotChars];
    };
    static constexpr unsigned char kAside = 0xFF;
    static bool inRange(int i, int channel)
    {
        return i >= 0 && i < kSampleCapacity && (channel == 0 || channel == 1);
    }

    std::vector<Slot> slots_;      // 2 per entry once anything was stored
    QHash<int, QString> aside_;    // key: 2 * index + channel
};
