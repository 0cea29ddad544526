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
    QStringList texts;
    const int n = std::min(m_list->count(), kSlots);
    for (int i = 0; i < n; ++i)
        texts.append(m_list->item(i)->text());
    m_errors += m_conditions.errorCount();
    m_conditions = Conditions::ConditionSet(texts);
    m_dirty = false;
}

bool ConditionList::MatchCondition(QStringView line, quint8 mode)
{
    if (m_dirty)
        refresh();
    return m_conditions.match(line, mode);
}
