#pragma once

#include "patrol/TargetHealth.h"

#include <QDateTime>
#include <QString>

// What the user reads of a target's health: the alert and recovery mails, the desktop notes and
// the tooltip of its row.
namespace HealthTexts {

QString alertSubject(const QString &address);
QString recoverySubject(const QString &address);
// The alert of a target whose session has run out.
QString loginLostSubject(const QString &address);
// The desktop's note of it.
QString loginLostNote();
QString alertBody(const QString &address, const QString &reason, const QDateTime &firstFailure, int count);
QString recoveryBody(
    const QString &address, const QDateTime &failedSince, int failedVisits, const QDateTime &worksAgain);

// The desktop's note of a run of failures, and of its end.
QString alertNote(int failures, const QDateTime &firstFailure, const QDateTime &now);
QString recoveryNote(const QDateTime &firstFailure, const QDateTime &worksAgain, int failures);

// The tooltip of a target's row.
QString tooltip(const TargetHealth::State &s);

} // namespace HealthTexts
