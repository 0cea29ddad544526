#include "mail/Redact.h"

using namespace Qt::Literals::StringLiterals;

namespace mail {

namespace {

bool isAsciiLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// Where the part after "scheme://" begins, or 0 when the text does not begin with a scheme.
qsizetype afterScheme(QStringView text)
{
    if (text.isEmpty() || !isAsciiLetter(text.front()))
        return 0;
    qsizetype i = 1;
    while (i < text.size()
        && (isAsciiLetter(text[i]) || (text[i] >= u'0' && text[i] <= u'9') || text[i] == u'+' || text[i] == u'-'
            || text[i] == u'.'))
        ++i;
    return text.sliced(i).startsWith(u"://") ? i + 3 : 0;
}

} // namespace

QString withoutPassword(const QString &address)
{
    // A password may hold "@", "/", ":", "%" and spaces itself, and nothing tells its last "@"
    // from one further on: everything from the first ":" after the scheme up to the last "@"
    // goes, even where that is more than the password.
    const qsizetype from = afterScheme(address);
    const qsizetype at = address.lastIndexOf(u'@');
    const qsizetype colon = address.indexOf(u':', from);
    if (at < from || colon < 0 || colon > at)
        return address;
    return address.left(colon + 1) + u"****"_s + address.mid(at);
}

} // namespace mail
