#pragma once

#include <QString>
#include <QStringList>

class QListWidget;
class clINI;

// Loading and saving the three lists of the main window: conditions, targets and sent history.
namespace ListPersistence {

// RIREKISUU as a loop bound: the highest history key index. Text that is no number or beyond the
// 32-bit range falls back to 500; a value above 32767 is capped there (list rows are 16-bit).
// A negative value means no history key at all.
int historyLimit(const QString &text);

void load(clINI &ini, QListWidget *keywords, QListWidget *urls, QListWidget *history);

// The stored history, newest first, as load() lists it; and its save, the newest entries kept.
QStringList history(clINI &ini);
void saveHistory(clINI &ini, const QStringList &history);

// The rows of the three lists, taken on the window's thread; a save may run elsewhere.
struct Lists
{
    QStringList conditions;
    QStringList targets;
    QStringList history;
};
Lists rows(QListWidget *keywords, QListWidget *urls, QListWidget *history);
// Conditions and targets close up in sorted order; the newest history entries are kept. The
// writes reach the file when ini is committed or dropped.
void save(clINI &ini, const Lists &lists);

} // namespace ListPersistence
