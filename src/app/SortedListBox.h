#pragma once

#include <QCollator>
#include <QListWidget>

// A list box that keeps its rows in ascending order without regard to letter case (Japanese
// collation); rows that compare equal keep the order in which they came.
class SortedListBox : public QListWidget
{
    Q_OBJECT
public:
    explicit SortedListBox(QWidget *parent = nullptr);

    void addSorted(const QString &text);

    // The order of the rows: Japanese, without regard to letter case.
    static QCollator collator();

private:
    QCollator m_collator;
};
