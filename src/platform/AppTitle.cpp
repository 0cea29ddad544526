#include "platform/AppTitle.h"

namespace AppTitle {
namespace {

QString &title()
{
    static QString t = QStringLiteral("Korvani");
    return t;
}

} // namespace

QString version()
{
    return QStringLiteral("%1.%2.%3").arg(kMajor).arg(kMinor).arg(kPatch);
}

QString get()
{
    return title();
}

void set(const QString &t)
{
    title() = t;
}

} // namespace AppTitle
