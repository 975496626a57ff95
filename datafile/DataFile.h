#pragma once
// The data file as pure functions: what the file says (RenderDataFile) and the
// bytes that go to disk (EncodeShiftJis). Form1::mSaveDataFile gathers the
// inputs from the window and writes the bytes; nothing here touches a window
// or a file.

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <functional>

#include "measure/SampleBlock.h"

// Everything one data file is made of.
struct DataFileContent {
    QString title;          // line 1
    QString dateTime;       // line 2, already rendered (see DataFileDateTimeText)
    QString gainEntry;      // line 3: the gain list's selection
    QString filterCaption;  // line 4: the buffer/filter summary label
    QString rateEntry;      // line 5: the data-rate list's selection
    QString channelEntry;   // line 6: the channel list's selection
    QString channelList0;   // channel list entry 0 (two-channel column header)
    QString channelList1;   // channel list entry 1 (two-channel column header)
    QString shownChannel;   // what the channel list shows (one-channel column header)
    int channelMode = 0;    // 0 = CH0, 1 = CH1, 2 = CH0 + CH1
    bool hex = true;        // the block holds hexadecimal codes, else millivolts
    const SampleBlock* samples = nullptr; // texts of the block
    int rowCount = 0;       // rows written (entries 0..rowCount-1); the count on line 7
};

// The whole file as text: seven header lines, the column header and one row
// per record, every line ended by CR LF. A channel mode other than 0, 1 or 2
// writes the header with a count of 0 and no rows (callers refuse it first).
//
// Characters that would break the file's structure are written as "?":
// control characters anywhere, and a comma inside a sample text (it would
// shift the columns of a two-channel row).
QString RenderDataFile(const DataFileContent& content);

// Line 2: the time of saving, "yyyy/MM/dd HH:mm:ss" whatever the locale.
class QDateTime;
QString DataFileDateTimeText(const QDateTime& when);

// Millivolt row text: a text that reads wholly as one decimal number (blanks
// around it, optional sign, digits with an optional point, optional exponent)
// becomes that number with three decimals, rounded once from the decimal
// digits of the text (halves away from zero; a negative number that rounds to
// zero is "-0.000"); anything else, and a number too large for a double
// ("1E999"), is returned as it is.
QString MillivoltCellText(const QString& text);

// The number of a text that IsDecimalNumberText accepts, without exponent and
// blanks, the same digits with the point moved: " -1.5E2" gives "-150".
QString PlainDecimalText(QStringView text);

// True when `text` is one decimal number in the sense above.
bool IsDecimalNumberText(QStringView text);

// Shift-JIS (code page 932) bytes of `text`, no byte-order mark. A character
// Shift-JIS cannot hold becomes "?". Returns false, with `error` set, when the
// platform's Qt has no Shift-JIS encoder; `out` is then left empty.
bool EncodeShiftJis(QStringView text, QByteArray& out, QString* error = nullptr);

// The file's bytes in one step: the header as EncodeShiftJis of its text, the
// data rows as the bytes that were received (a row character up to U+00FF is
// written as that one byte; any other through Shift-JIS), rendered and
// encoded a slice of rows at a time so that a full block never needs its
// whole text at once.
bool EncodeDataFile(const DataFileContent& content, QByteArray& out, QString* error = nullptr);

// The same bytes handed to `sink` a slice at a time (a few tens of KiB), as
// they are produced. Stops and returns false, with `error` empty, as soon as
// the sink returns false; returns false with `error` set when there is no
// Shift-JIS encoder (the sink is then never called).
bool EncodeDataFile(const DataFileContent& content,
                    const std::function<bool(const QByteArray&)>& sink, QString* error = nullptr);
