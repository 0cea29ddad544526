#include "mail/Redact.h"

#include "settings/ServerSetting.h"

#include <QUrl>

using namespace Qt::Literals::StringLiterals;

namespace mail {

namespace {

// A password may hold "@", "/", ":", "%" and spaces itself, and nothing tells its last "@" from
// one further on: everything from the first ":" after the scheme up to the last "@" may be it,
// even where that is more than the password. Its start and length; a length of -1 when none.
std::pair<qsizetype, qsizetype> passwordSpan(const QString &address)
{
    const qsizetype from = afterScheme(address);
    const qsizetype at = address.lastIndexOf(u'@');
    const qsizetype colon = address.indexOf(u':', from);
    if (at < from || colon < 0 || colon > at)
        return {0, -1};
    return {colon + 1, at - colon - 1};
}

} // namespace

QString withoutPassword(const QString &address)
{
    const auto [start, length] = passwordSpan(address);
    return length < 0 ? address : address.left(start) + u"****"_s + address.mid(start + length);
}

QString withoutPasswordIfAddress(const QString &text)
{
    return afterScheme(text) > 0 ? withoutPassword(text) : text;
}

QString withoutUserPart(const QString &address)
{
    if (afterScheme(address) == 0)
        return {};
    const QUrl url = QUrl::fromUserInput(address);
    if (!url.isValid() || url.host().isEmpty())
        return {};
    const QString out = url.adjusted(QUrl::RemoveUserInfo).toString(QUrl::FullyEncoded);
    // Where the parser ended the user part early (a password holding "/" or "#"), the rest of
    // the password is still in the address: it is not handed out at all.
    const auto [start, length] = passwordSpan(address);
    if (length > 0) {
        const QString secret = address.mid(start, length);
        if (out.contains(secret) || QUrl::fromPercentEncoding(out.toUtf8()).contains(secret))
            return {};
    }
    return out;
}

} // namespace mail
