#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

class clINI;

// The target health that survives a restart, kept in the section "HEALTH" of the settings file,
// which a Windows copy does not know.
namespace HealthStore {

// One target's run of failures under way and a recovery not told yet.
struct Entry
{
    QString address;
    int failures = 0;
    QDateTime firstFailure;
    bool alerted = false;
    bool recoveryPending = false;
    QDateTime failedSince;
    int failedVisits = 0;
    QDateTime worksAgain;
    friend bool operator==(const Entry &, const Entry &) = default;
};

void write(clINI &ini, const QList<Entry> &entries);
QList<Entry> read(clINI &ini);

} // namespace HealthStore
