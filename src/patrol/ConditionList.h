#pragma once

#include "patrol/Conditions.h"

#include <QObject>

class QListWidget;

// The conditions of the condition list, parsed. An edit of the list takes effect with the next
// line tested: the model's signals mark the parsed form stale.
class ConditionList : public QObject
{
    Q_OBJECT
public:
    explicit ConditionList(QListWidget *list, QObject *parent = nullptr);

    // The first hitting condition among the 100 slots decides; an empty line hits nothing.
    bool MatchCondition(QStringView line, quint8 mode);

    // Lines on which a condition gave up instead of answering, summed over the conditions.
    quint64 errorCount() const { return m_errors + m_conditions.errorCount(); }

    static constexpr int kSlots = 100;

private:
    void refresh();

    QListWidget *m_list;
    Conditions::ConditionSet m_conditions;
    bool m_dirty = true;
    quint64 m_errors = 0; // of the prepared sets that edits have replaced
};
