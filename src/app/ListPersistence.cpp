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

// The non-empty rows as the window's sorted lists order them: by the same collation,
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

// Each key is written once, with its final value: the rows close up and the rest are blank.
void saveSorted(clINI &ini, const ListKey &list, const QStringList &rows)
{
    const QStringList sorted = sortedRows(rows.mid(0, Keys::kListSlots));
    for (int i = 0; i < Keys::kListSlots; ++i)
        ini.SaveSetting(list.section, list.key(i), sorted.value(i));
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

} // namespace ListPersistence
