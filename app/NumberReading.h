#pragma once
// How the program turns text into numbers, everywhere: the COM number, the
// sample count, reply digits and sample texts.
//
// Blanks, tabs and line feeds are ignored wherever they stand. A number is read
// from the start of what remains and reading stops at the first character that
// cannot continue it; text without a number reads as 0.

#include <QString>
#include <optional>

// Decimal reading (the sample count, millivolt sample texts): optional sign,
// digits, one ".", optional exponent (E or D, with optional sign); "&H10"
// reads as 0. Never returns NaN; an exponent too large gives +/-infinity.
double ReadNumber(QStringView text);

// The COM number: as ReadNumber, and a leading "&H" reads hexadecimal
// digits, "&O" octal ("&H10" is 16).
double ReadComNumber(QStringView text);

// Unsigned hexadecimal reading of a sample text ("0"-"9", "A"-"F" in either
// case). Six digits give 0 .. 16777215; never negative.
double ReadHexNumber(QStringView text);

// Value of one hexadecimal digit character, or -1 when it is none.
int HexDigitValue(QChar c);

// Nearest whole number, halves to the even neighbour. Empty when the value is
// not finite or does not fit a 32-bit integer.
std::optional<int> RoundHalfEven(double value);

// Nearest whole number, halves away from zero (the rule of displayed numbers).
double RoundHalfAwayFromZero(double value);

// Fixed-point text with exactly `decimals` decimals, at least one digit before
// the point, "." as the point whatever the locale, the last decimal rounded
// half away from zero, a minus sign for a negative value (also when it rounds
// to zero: -0.0004 gives "-0.000"; -0.0 is not negative and gives "0.000").
QString FormatFixed(double value, int decimals);
