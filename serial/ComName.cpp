#include "serial/ComName.h"

#include <optional>

#include "app/NumberReading.h"

ComNameReading ReadComName(QStringView name, int maxNumber)
{
    if (!name.startsWith(u"COM", Qt::CaseSensitive))
        return {ComNameFault::NotCom};
    const double number = ReadComNumber(name.mid(3));
    if (maxNumber > 0 && number > maxNumber)
        return {ComNameFault::OutOfRange};
    // Without a range check a number may not fit an integer: it names no port.
    const std::optional<int> com = RoundHalfEven(number);
    if (!com)
        return {ComNameFault::NoPort};
    return {ComNameFault::None, *com};
}

QString LineSettingsText(bool tamrix)
{
    return tamrix ? QStringLiteral("115200,N,8,1") : QStringLiteral("38400,N,8,1");
}
