#include "platform/AppTitle.h"

namespace AppTitle {
namespace {

QString &title()
{
    static QString t = name();
    return t;
}

} // namespace

QString name()
{
    return QStringLiteral("Korvani");
}

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
