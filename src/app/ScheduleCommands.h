#pragma once

#include <QObject>

class Form1;

// A target's own schedule, set from the target list's context menu or with Ctrl+T on the
// selected row; kept with the other lists and shown in the row's tooltip.
class ScheduleCommands : public QObject
{
    Q_OBJECT
public:
    explicit ScheduleCommands(Form1 &form);

    // Opens the dialog for the target; nothing for an empty row.
    void edit(const QString &address);

private:
    Form1 &m_form;
};
