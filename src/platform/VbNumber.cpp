#include "platform/VbNumber.h"

#include <QString>

#include <charconv>
#include <cmath>
#include <limits>

namespace vb {
namespace {

bool isBlank(QChar c)
{
    const char16_t u = c.unicode();
    return u == 0x20 || (u >= 0x09 && u <= 0x0D);
}

QStringView trimmed(QStringView s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.sliced(b, e - b);
}

// &H / &O literals. Up to four hex digits are a 16-bit value and up to eight a 32-bit one, as the
// language typed its literals (&HFFFF is -1).
std::optional<double> parseRadix(QStringView s)
{
    int radix = 8;
    qsizetype i = 1;
    if (s.size() >= 2 && (s[1] == u'H' || s[1] == u'h')) {
        radix = 16;
        i = 2;
    } else if (s.size() >= 2 && (s[1] == u'O' || s[1] == u'o')) {
        i = 2;
    }
    if (i >= s.size())
        return std::nullopt;
    quint64 v = 0;
    qsizetype digits = 0;
    for (; i < s.size(); ++i) {
        const char16_t c = s[i].unicode();
        int d = -1;
        if (c >= u'0' && c <= u'9')
            d = c - u'0';
        else if (c >= u'a' && c <= u'f')
            d = c - u'a' + 10;
        else if (c >= u'A' && c <= u'F')
            d = c - u'A' + 10;
        if (d < 0 || d >= radix)
            return std::nullopt;
        v = v * radix + d;
        if (v > 0xFFFFFFFFull)
            return std::numeric_limits<double>::infinity();
        ++digits;
    }
    if (v <= 0xFFFF && (radix == 16 ? digits <= 4 : v <= 0177777))
        return static_cast<double>(static_cast<qint16>(v));
    return static_cast<double>(static_cast<qint32>(static_cast<quint32>(v)));
}

} // namespace

std::optional<double> parseNumber(QStringView text)
{
    QStringView s = trimmed(text);
    if (s.isEmpty())
        return std::nullopt;
    if (s[0] == u'&')
        return parseRadix(s);

    bool negative = false;
    if (s.front() == u'(' && s.back() == u')' && s.size() > 2) {
        negative = true;
        s = trimmed(s.sliced(1, s.size() - 2));
    }
    if (!s.isEmpty() && (s.front() == u'+' || s.front() == u'-')) {
        negative = negative != (s.front() == u'-');
        s = trimmed(s.sliced(1));
    } else if (!s.isEmpty() && (s.back() == u'+' || s.back() == u'-')) {
        negative = negative != (s.back() == u'-');
        s = trimmed(s.first(s.size() - 1));
    }
    if (s.isEmpty())
        return std::nullopt;

    // Mantissa: digits with thousands separators after the first digit, an optional point.
    QByteArray plain;
    plain.reserve(s.size());
    qsizetype i = 0;
    int intDigits = 0, fracDigits = 0;
    for (; i < s.size(); ++i) {
        const char16_t c = s[i].unicode();
        if (c >= u'0' && c <= u'9') {
            plain.append(static_cast<char>(c));
            ++intDigits;
        } else if (c == u',' && intDigits > 0) {
            continue;
        } else {
            break;
        }
    }
    if (i < s.size() && s[i] == u'.') {
        plain.append('.');
        for (++i; i < s.size() && s[i].unicode() >= u'0' && s[i].unicode() <= u'9'; ++i) {
            plain.append(static_cast<char>(s[i].unicode()));
            ++fracDigits;
        }
    }
    if (intDigits + fracDigits == 0)
        return std::nullopt;
    if (i < s.size() && (s[i] == u'E' || s[i] == u'e' || s[i] == u'D' || s[i] == u'd')) {
        plain.append('e');
        ++i;
        if (i < s.size() && (s[i] == u'+' || s[i] == u'-'))
            plain.append(static_cast<char>(s[i++].unicode()));
        int expDigits = 0;
        for (; i < s.size() && s[i].unicode() >= u'0' && s[i].unicode() <= u'9'; ++i, ++expDigits)
            plain.append(static_cast<char>(s[i].unicode()));
        if (expDigits == 0)
            return std::nullopt;
    }
    if (i != s.size())
        return std::nullopt;
    double v = 0;
    const auto [end, ec] = std::from_chars(plain.constData(), plain.constData() + plain.size(), v);
    if (ec == std::errc::result_out_of_range)
        v = plain.contains("e-") ? 0.0 : std::numeric_limits<double>::infinity();
    else if (ec != std::errc() || end != plain.constData() + plain.size())
        return std::nullopt;
    return negative ? -v : v;
}

namespace {

WholeNumber toWhole(QStringView text, double lo, double hi)
{
    const std::optional<double> v = parseNumber(text);
    if (!v)
        return {Conversion::TypeMismatch, 0};
    // nearbyint follows the default rounding mode: halves go to the even neighbour.
    const double r = std::nearbyint(*v);
    if (!(r >= lo && r <= hi))
        return {Conversion::Overflow, 0};
    return {Conversion::Ok, static_cast<qint32>(r)};
}

} // namespace

WholeNumber toInt16(QStringView text)
{
    return toWhole(text, -32768.0, 32767.0);
}

WholeNumber toInt32(QStringView text)
{
    return toWhole(text, -2147483648.0, 2147483647.0);
}

} // namespace vb
