#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QListWidget;
class QListWidgetItem;

// What a row of the extracted-line list keeps beside its text: the conditions that hit its line,
// as they read when it was examined.
namespace HitRow {

// "3番目「大阪 -東京」": a condition by its position in its list, counted from 1, and its text,
// cut short when long.
QString condition(int position, const QString &text);

// The conditions at these positions of the condition list, as condition() shows them.
QStringList conditions(const QListWidget *keywords, const QList<int> &positions);

void setConditions(QListWidgetItem *row, const QStringList &conditions);

// The lines shown under a row's text: the conditions that hit its line, then "新着" when the row
// was marked as a new hit or "送信済み" when its line was in the history already. Empty for a
// row whose line hit nothing.
QString explanation(const QListWidgetItem *row);

} // namespace HitRow
