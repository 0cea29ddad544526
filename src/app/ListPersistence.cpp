#include "app/ListPersistence.h"

#include "app/SortedListBox.h"
#include "platform/VbNumber.h"
#include "settings/clINI.h"

#include <QListWidget>

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
    const int n = historyLimit(ini.GetSetting(Keys::RirekiSuu));
    for (int i = 0; i <= n; ++i) {
        const QString line = ini.GetSetting(Keys::Rireki.section, Keys::Rireki.key(i), QString());
        if (!line.isEmpty())
            history->addItem(line);
    }
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

} // namespace

void save(clINI &ini, QListWidget *keywords, QListWidget *urls, QListWidget *history, SortedListBox *scratch)
{
    saveSorted(ini, Keys::Keyword, keywords, scratch);
    scratch->clear();
    saveSorted(ini, Keys::Url, urls, scratch);
    const int n = historyLimit(ini.GetSetting(Keys::RirekiSuu));
    for (int i = 0; i <= n; ++i) {
        const QListWidgetItem *row = history->item(i);
        ini.SaveSetting(Keys::Rireki.section, Keys::Rireki.key(i), row ? row->text() : QString());
    }
}

} // namespace ListPersistence
