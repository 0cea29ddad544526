#pragma once

#include "patrol/Schedule.h"

#include <QDialog>

#include <array>

class QCheckBox;
class QSpinBox;
class QTimeEdit;

// A target's own schedule as the user sets it: every so many minutes, optionally on some days
// and between two times, give or take a share of the interval.
class ScheduleDialog : public QDialog
{
    Q_OBJECT
public:
    ScheduleDialog(const QString &address, const std::optional<TargetSchedule> &current, QWidget *parent = nullptr);

    // What the user chose: nullopt for the shared countdown.
    std::optional<TargetSchedule> schedule() const;

private:
    void enableParts();

    QString m_address;
    std::optional<TargetSchedule> m_current;
    QCheckBox *m_own;
    QSpinBox *m_minutes;
    std::array<QCheckBox *, 7> m_days {};
    QCheckBox *m_hours;
    QTimeEdit *m_from;
    QTimeEdit *m_to;
    QSpinBox *m_jitter;
};
