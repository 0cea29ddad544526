// Masking a password: whatever text surrounds it, no part of a password in the user part of an
// address shows in the masked text, and the host after the last "@" still does.
//
// Input: one byte that says where a mark goes into the password, then typed text of four fields
// separated by U+001F: before the user, the user, the password, the rest. The mark, a character
// found nowhere else, stands for any part of the password: it must not show.
#include "FuzzSupport.h"
#include "mail/Redact.h"

#include <QRegularExpression>
#include <QStringList>

namespace {

constexpr QChar kMark(u'\uE000');

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    QString text = fuzz::typed(data + 1, size - 1);
    text.remove(kMark);
    const QStringList fields = text.split(QChar(u'\x1f'));
    if (fields.size() < 4)
        return 0;
    const QString &before = fields[0];
    const QString &user = fields[1];
    QString password = fields[2];
    const QString rest = fields.mid(3).join(QChar(u'\x1f'));
    // The first ":" of the user part ends the user.
    if (user.contains(u':'))
        return 0;
    password.insert(qsizetype(data[0]) % (password.size() + 1), kMark);
    const QString address = before + user + u':' + password + u'@' + rest;

    // A word before a password that begins with "//" reads as "scheme://", for the mail sender
    // too: such a text has a user part after the "//", and no password.
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    const QRegularExpressionMatch m = scheme.match(address);
    if (m.hasMatch() && m.capturedStart() + m.capturedLength() == before.size() + user.size() + 3)
        return 0;

    const QString masked = mail::withoutPassword(address);
    const QByteArray shown = fuzz::shown(address) + " -> " + fuzz::shown(masked);
    fuzz::check(!masked.contains(kMark), "no part of the password shows", shown);
    fuzz::check(masked.endsWith(address.mid(address.lastIndexOf(u'@'))), "the host stays", shown);
    return 0;
}
