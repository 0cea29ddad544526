#include "patrol/HealthStore.h"

#include "settings/clINI.h"

#include <QStringList>

using namespace Qt::StringLiterals;

namespace HealthStore {

namespace {

const QString kHealthSection = u"HEALTH"_s;
const QString kHealthCount = u"COUNT"_s;

QString healthKey(qsizetype i)
{
    return u"T"_s + QString::number(i);
}

QString stamp(const QDateTime &t)
{
    return t.isValid() ? t.toString(Qt::ISODate) : QString();
}

} // namespace

// One value per target: the numbers and times first, the address last, since it may hold any
// character, the separator included.
void write(clINI &ini, const QList<Entry> &entries)
{
    const int before = qMax(0, ini.GetSetting(kHealthSection, kHealthCount, QString()).toInt());
    if (entries.isEmpty() && before == 0)
        return;
    ini.SaveSetting(kHealthSection, kHealthCount, QString::number(entries.size()));
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const Entry &e = entries[i];
        const QStringList fields {QString::number(e.failures), stamp(e.firstFailure), e.alerted ? u"1"_s : u"0"_s,
            e.recoveryPending ? u"1"_s : u"0"_s, stamp(e.failedSince), QString::number(e.failedVisits),
            stamp(e.worksAgain), e.address};
        ini.SaveSetting(kHealthSection, healthKey(i), fields.join(u'|'));
    }
    for (qsizetype i = entries.size(); i < before; ++i)
        ini.SaveSetting(kHealthSection, healthKey(i), QString());
}

QList<Entry> read(clINI &ini)
{
    QList<Entry> out;
    const int count = qBound(0, ini.GetSetting(kHealthSection, kHealthCount, QString()).toInt(), 1000);
    for (int i = 0; i < count; ++i) {
        const QString value = ini.GetSetting(kHealthSection, healthKey(i), QString());
        const QStringList f = value.split(u'|');
        if (f.size() < 8)
            continue;
        Entry e;
        e.failures = qMax(0, f[0].toInt());
        e.firstFailure = QDateTime::fromString(f[1], Qt::ISODate);
        e.alerted = f[2] == u"1";
        e.recoveryPending = f[3] == u"1";
        e.failedSince = QDateTime::fromString(f[4], Qt::ISODate);
        e.failedVisits = qMax(0, f[5].toInt());
        e.worksAgain = QDateTime::fromString(f[6], Qt::ISODate);
        e.address = f.mid(7).join(u'|');
        if (!e.address.isEmpty() && (e.failures > 0 || e.recoveryPending))
            out.append(e);
    }
    return out;
}

} // namespace HealthStore
