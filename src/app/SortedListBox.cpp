#include "app/SortedListBox.h"

SortedListBox::SortedListBox(QWidget *parent)
    : QListWidget(parent)
    , m_collator(collator())
{ }

QCollator SortedListBox::collator()
{
    QCollator c(QLocale(QLocale::Japanese, QLocale::Japan));
    c.setCaseSensitivity(Qt::CaseInsensitive);
    return c;
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
