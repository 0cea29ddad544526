#include "survey/OsVersion.h"

#include <QList>
#include <QSysInfo>

#include <limits>

using namespace Qt::StringLiterals;

namespace Survey {

QString osVersionFrom(int platformId, QStringView kernelVersion)
{
    const QString failed = u"0.0.0.0"_s;
    QList<qint64> numbers;
    qint64 current = -1;
    for (const QChar c : kernelVersion) {
        if (c >= u'0' && c <= u'9') {
            current = (current < 0 ? 0 : current * 10) + (c.unicode() - u'0');
            if (current > std::numeric_limits<qint32>::max())
                return failed;
        } else if (c == u'.' && current >= 0 && numbers.size() < 2) {
            numbers.append(current);
            current = -1;
        } else {
            break;
        }
    }
    if (current >= 0)
        numbers.append(current);
    if (numbers.isEmpty())
        return failed;
    while (numbers.size() < 3)
        numbers.append(0);
    return u"%1.%2.%3.%4"_s.arg(platformId).arg(numbers[0]).arg(numbers[1]).arg(numbers[2]);
}

QString osVersion()
{
#if defined(Q_OS_WIN)
    const int platform = kPlatformWindowsNt;
#elif defined(Q_OS_LINUX)
    const int platform = kPlatformLinux;
#else
    const int platform = kPlatformOtherUnix;
#endif
    return osVersionFrom(platform, QSysInfo::kernelVersion());
}

} // namespace Survey
