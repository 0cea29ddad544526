#include "app/SortedListBox.h"

SortedListBox::SortedListBox(QWidget *parent)
    : QListWidget(parent)
    , m_collator(QLocale(QLocale::Japanese, QLocale::Japan))
{
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
}

void SortedListBox::addSorted(const QString &text)
{
    // Insert after the last row that does not sort after the text: equal rows keep their order.
    int lo = 0, hi = count();
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (m_collator.compare(item(mid)->text(), text) <= 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    insertItem(lo, text);
}
