#pragma once
// How the program reads a COM name and which line settings a model uses:
// the window's port opening and vexlo-cli share these rules.

#include <QString>
#include <QStringView>

enum class ComNameFault {
    None,
    NotCom,      // does not begin with "COM" exactly
    OutOfRange,  // the number is above the allowed maximum
    NoPort,      // the number, rounded, names no port (does not fit an integer)
};

struct ComNameReading {
    ComNameFault fault = ComNameFault::None;
    int number = 0;  // valid when fault is None
};

// "COM" exactly (case-sensitive), then a number by ReadComNumber ("&H" and
// "&O" included, blanks ignored); above `maxNumber` (when it is above 0) is
// out of range; the number is rounded to the nearest whole one, halves to even.
ComNameReading ReadComName(QStringView name, int maxNumber);

// "115200,N,8,1" for the Tamrix model, "38400,N,8,1" for Selvor.
QString LineSettingsText(bool tamrix);
