#include "app/ScheduleCommands.h"

#include "app/Form1.h"
#include "app/ScheduleDialog.h"
#include "patrol/Patrol.h"
#include "patrol/TargetHealth.h"

#include <QAction>
#include <QListWidget>

using namespace Qt::StringLiterals;

ScheduleCommands::ScheduleCommands(Form1 &form)
    : QObject(&form)
    , m_form(form)
{
    auto *key = new QAction(&form);
    key->setShortcut(QKeySequence(u"Ctrl+T"_s));
    key->setShortcutContext(Qt::WindowShortcut);
    connect(key, &QAction::triggered, this, [this] {
        if (const QListWidgetItem *item = m_form.ListURL->currentItem())
            edit(item->text());
    });
    form.addAction(key);
}

void ScheduleCommands::edit(const QString &address)
{
    if (address.trimmed().isEmpty())
        return;
    Timetable &timetable = m_form.patrol()->timetable();
    ScheduleDialog dialog(address, timetable.find(address), &m_form);
    if (dialog.exec() != QDialog::Accepted || m_form.unloaded())
        return;
    timetable.set(address, dialog.schedule());
    m_form.patrol()->health().repaint(address);
    m_form.listsEdited();
}
