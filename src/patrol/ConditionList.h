#pragma once

#include "patrol/Conditions.h"

#include <QHash>
#include <QObject>
#include <QTimer>

class QListWidget;

// The conditions of the condition list, parsed. An edit of the list takes effect with the next
// line tested: the model's signals mark the parsed form stale.
//
// The list shows which conditions are broken: a row is red while the engine refuses one of its
// patterns, or while it could not answer a line of the last target's page (with its linked pages),
// and its tooltip says why. Only the rows' colour and tooltip change, never their text.
class ConditionList : public QObject
{
    Q_OBJECT
public:
    explicit ConditionList(QListWidget *list, QObject *parent = nullptr);

    // The first hitting condition among the 100 slots decides; an empty line hits nothing. With
    // hitPositions, every slot is tried and the rows of those that hit are appended.
    bool MatchCondition(QStringView line, quint8 mode, QList<int> *hitPositions = nullptr);

    // Lines on which a condition gave up instead of answering, summed over the conditions.
    quint64 errorCount() const { return m_errors + m_conditions.errorCount(); }

    // A target's page check begins: what the conditions could not answer on the page before is
    // no longer shown (the counts since the start stay in the tooltips).
    void beginPage();

    static constexpr int kSlots = 100;

private:
    // Lines a condition could not answer, by the condition's text, so that they follow it when
    // the list is edited around it.
    struct Trouble
    {
        quint64 gaveUpPage = 0;
        quint64 crowdedOutPage = 0;
        quint64 gaveUpRun = 0;
        quint64 crowdedOutRun = 0;
    };

    void refresh();
    void takeTrouble();
    void showMarks();

    QListWidget *m_list;
    Conditions::ConditionSet m_conditions;
    std::vector<Conditions::ConditionSet::Standing> m_standings; // as last taken from m_conditions
    QHash<QString, Trouble> m_trouble;
    QTimer m_marksDue;
    bool m_dirty = true;
    quint64 m_errors = 0; // of the prepared sets that edits have replaced
    quint64 m_errorsSeen = 0; // of m_conditions, when its trouble was last taken
};
