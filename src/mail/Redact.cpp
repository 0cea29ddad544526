#include "mail/Redact.h"

using namespace Qt::Literals::StringLiterals;

namespace mail {

QString withoutPassword(const QString &address)
{
    const qsizetype scheme = address.indexOf(u"://"_s);
    const qsizetype from = scheme < 0 ? 0 : scheme + 3;
    qsizetype to = address.indexOf(u'/', from);
    if (to < 0)
        to = address.size();
    if (to <= from)
        return address;
    // The server setting takes the last "@" before the path as the end of the user part.
    const qsizetype at = address.lastIndexOf(u'@', to - 1);
    if (at < from)
        return address;
    const qsizetype colon = address.indexOf(u':', from);
    if (colon < 0 || colon > at)
        return address;
    return address.left(colon + 1) + u"****"_s + address.mid(at);
}

} // namespace mail
