#include "patrol/ConditionList.h"

#include <QListWidget>

ConditionList::ConditionList(QListWidget *list, QObject *parent)
    : QObject(parent)
    , m_list(list)
{
    QAbstractItemModel *model = list->model();
    auto stale = [this] { m_dirty = true; };
    connect(model, &QAbstractItemModel::rowsInserted, this, stale);
    connect(model, &QAbstractItemModel::rowsRemoved, this, stale);
    connect(model, &QAbstractItemModel::rowsMoved, this, stale);
    connect(model, &QAbstractItemModel::dataChanged, this, stale);
    connect(model, &QAbstractItemModel::modelReset, this, stale);
    connect(model, &QAbstractItemModel::layoutChanged, this, stale);
}

void ConditionList::refresh()
{
    m_conditions.clear();
    const int n = std::min(m_list->count(), kSlots);
    for (int i = 0; i < n; ++i) {
        const QString text = m_list->item(i)->text();
        if (text.isEmpty())
            continue;
        Conditions::Condition c = Conditions::parse(text);
        // Neither a condition without terms nor a link-only one in page mode can hit; the first
        // is dropped here, the second is left to hits().
        if (!c.terms.empty())
            m_conditions.push_back(std::move(c));
    }
    m_dirty = false;
}

bool ConditionList::MatchCondition(QStringView line, quint8 mode)
{
    if (line.isEmpty())
        return false;
    if (m_dirty)
        refresh();
    const QString folded = line.toString().toCaseFolded();
    for (const Conditions::Condition &c : m_conditions) {
        if (Conditions::hits(c, line, folded, mode))
            return true;
    }
    return false;
}
