#pragma once

#include <QStringView>

#include <optional>

// Numbers read from text the way the original platform's language read them.
namespace vb {

// The value of a text that "reads as a number": blanks around it, a sign in front or behind,
// parentheses for a negative number, &H hexadecimal and &O octal, a decimal point, an exponent,
// thousands separators after the first digit. Empty and non-numeric text give nothing.
std::optional<double> parseNumber(QStringView text);

inline bool readsAsNumber(QStringView text)
{
    return parseNumber(text).has_value();
}

enum class Conversion { Ok, TypeMismatch, Overflow };

struct WholeNumber
{
    Conversion status = Conversion::TypeMismatch;
    qint32 value = 0;
    bool ok() const { return status == Conversion::Ok; }
};

// Conversion to a 16-bit or 32-bit whole number, halves rounded to the even neighbour. The caller
// chooses what a type mismatch or an overflow means.
WholeNumber toInt16(QStringView text);
WholeNumber toInt32(QStringView text);

} // namespace vb
