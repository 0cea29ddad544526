#pragma once

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <cstdlib>

// What the targets share: reading input bytes as text, and stopping with a readable account of
// a broken property (libFuzzer keeps the input that caused it).
namespace fuzz {

// Two bytes a unit, little-endian: any UTF-16 at all, lone surrogates included.
inline QString utf16(const uint8_t *data, size_t size)
{
    QString s(qsizetype(size / 2), Qt::Uninitialized);
    for (qsizetype i = 0; i < s.size(); ++i)
        s[i] = QChar(char16_t(data[2 * i] | (data[2 * i + 1] << 8)));
    return s;
}

// Text as it is typed into a box or a settings file: Latin-1, or after a first byte 0xFF any
// UTF-16.
inline QString typed(const uint8_t *data, size_t size)
{
    if (size > 0 && data[0] == 0xFF)
        return utf16(data + 1, size - 1);
    return QString::fromLatin1(reinterpret_cast<const char *>(data), qsizetype(size));
}

inline QByteArray bytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
}

inline QByteArray shown(const QString &s)
{
    QByteArray out;
    for (QChar c : s) {
        const char16_t u = c.unicode();
        if (u >= 0x20 && u < 0x7F && u != u'\\')
            out.append(char(u));
        else
            out.append(QByteArray("\\u") + QByteArray::number(u, 16).rightJustified(4, '0'));
    }
    return out;
}

[[noreturn]] inline void fail(const char *property, const QByteArray &detail = {})
{
    std::fprintf(stderr, "\nproperty broken: %s\n%s\n", property, detail.constData());
    std::abort();
}

inline void check(bool ok, const char *property, const QByteArray &detail = {})
{
    if (!ok)
        fail(property, detail);
}

} // namespace fuzz
