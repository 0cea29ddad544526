#include "app/ListPersistence.h"

#include "app/SortedListBox.h"
#include "platform/VbNumber.h"
#include "settings/clINI.h"

#include <QCollator>
#include <QListWidget>

#include <algorithm>

namespace ListPersistence {

int historyLimit(const QString &text)
{
    const vb::WholeNumber n = vb::toInt32(text);
    if (!n.ok())
        return Keys::kRirekiFallback;
    return qMin(n.value, Keys::kRirekiCap);
}

void load(clINI &ini, QListWidget *keywords, QListWidget *urls, QListWidget *history)
{
    for (int i = 0; i < Keys::kListSlots; ++i)
        keywords->addItem(ini.GetSetting(Keys::Keyword.section, Keys::Keyword.key(i), QString()));
    for (int i = 0; i < Keys::kListSlots; ++i)
        urls->addItem(ini.GetSetting(Keys::Url.section, Keys::Url.key(i), QString()));
    history->addItems(ListPersistence::history(ini));
}

QStringList history(clINI &ini)
{
    QStringList out;
    const int n = historyLimit(ini.GetSetting(Keys::RirekiSuu));
    for (int i = 0; i <= n; ++i) {
        const QString line = ini.GetSetting(Keys::Rireki.section, Keys::Rireki.key(i), QString());
        if (!line.isEmpty())
            out.append(line);
    }
    return out;
}

void saveHistory(clINI &ini, const QStringList &history)
{
    const int n = historyLimit(ini.GetSetting(Keys::RirekiSuu));
    for (int i = 0; i <= n; ++i)
        ini.SaveSetting(Keys::Rireki.section, Keys::Rireki.key(i), history.value(i));
}

namespace {

void saveSorted(clINI &ini, const ListKey &list, QListWidget *rows, SortedListBox *scratch)
{
    for (int i = 0; i < Keys::kListSlots; ++i) {
        const QListWidgetItem *row = rows->item(i);
        if (row && !row->text().isEmpty())
            scratch->addSorted(row->text());
        ini.SaveSetting(list.section, list.key(i), QString());
    }
    for (int j = 0; j < scratch->count(); ++j)
        ini.SaveSetting(list.section, list.key(j), scratch->item(j)->text());
}

// The non-empty rows in the order the sorted scratch list takes them: by the same collation,
// equal rows in the order they came.
QStringList sortedRows(const QStringList &rows)
{
    QCollator collator = SortedListBox::collator();
    QStringList sorted;
    for (const QString &row : rows) {
        if (!row.isEmpty())
            sorted.append(row);
    }
    std::stable_sort(sorted.begin(), sorted.end(),
        [&collator](const QString &a, const QString &b) { return collator.compare(a, b) < 0; });
    return sorted;
}

void saveSorted(clINI &ini, const ListKey &list, const QStringList &rows)
{
    for (int i = 0; i < Keys::kListSlots; ++i)
        ini.SaveSetting(list.section, list.key(i), QString());
    const QStringList sorted = sortedRows(rows.mid(0, Keys::kListSlots));
    for (qsizetype j = 0; j < sorted.size(); ++j)
        ini.SaveSetting(list.section, list.key(int(j)), sorted[j]);
}

QStringList texts(QListWidget *list)
{
    QStringList out;
    out.reserve(list->count());
    for (int i = 0; i < list->count(); ++i)
        out.append(list->item(i)->text());
    return out;
}

} // namespace

Lists rows(QListWidget *keywords, QListWidget *urls, QListWidget *history)
{
    return {texts(keywords), texts(urls), texts(history)};
}

void save(clINI &ini, const Lists &lists)
{
    saveSorted(ini, Keys::Keyword, lists.conditions);
    saveSorted(ini, Keys::Url, lists.targets);
    saveHistory(ini, lists.history);
}

void save(clINI &ini, QListWidget *keywords, QListWidget *urls, QListWidget *history, SortedListBox *scratch)
{
    saveSorted(ini, Keys::Keyword, keywords, scratch);
    scratch->clear();
    saveSorted(ini, Keys::Url, urls, scratch);
    saveHistory(ini, texts(history));
}

} // namespace ListPersistence
