#include "patrol/ConditionList.h"

#include "patrol/ConditionAdvice.h"

#include <QListWidget>

using namespace Qt::StringLiterals;

ConditionList::ConditionList(QListWidget *list, QObject *parent)
    : QObject(parent)
    , m_list(list)
{
    m_marksDue.setSingleShot(true);
    m_marksDue.setInterval(0);
    connect(&m_marksDue, &QTimer::timeout, this, &ConditionList::showMarks);
    m_marksDue.start();
    QAbstractItemModel *model = list->model();
    // The marks are shown once the edits of one event are done: loading the list is 100 edits.
    auto stale = [this] {
        m_dirty = true;
        m_marksDue.start();
    };
    connect(model, &QAbstractItemModel::rowsInserted, this, stale);
    connect(model, &QAbstractItemModel::rowsRemoved, this, stale);
    connect(model, &QAbstractItemModel::rowsMoved, this, stale);
    connect(model, &QAbstractItemModel::modelReset, this, stale);
    connect(model, &QAbstractItemModel::layoutChanged, this, stale);
    // The marks themselves change the rows' colour and tooltip, which leave the conditions as they are.
    connect(model, &QAbstractItemModel::dataChanged, this,
        [stale](const QModelIndex &, const QModelIndex &, const QList<int> &roles) {
            if (roles.isEmpty() || roles.contains(Qt::DisplayRole) || roles.contains(Qt::EditRole))
                stale();
        });
}

void ConditionList::refresh()
{
    QStringList texts;
    const int n = std::min(m_list->count(), kSlots);
    for (int i = 0; i < n; ++i)
        texts.append(m_list->item(i)->text());
    takeTrouble();
    m_errors += m_conditions.errorCount();
    m_conditions = Conditions::ConditionSet(texts);
    m_standings = m_conditions.standings();
    m_errorsSeen = 0;
    m_dirty = false;
}

bool ConditionList::MatchCondition(QStringView line, quint8 mode, QList<int> *hitPositions)
{
    if (m_dirty)
        refresh();
    const bool hit = m_conditions.match(line, mode, hitPositions);
    if (m_conditions.errorCount() != m_errorsSeen) {
        takeTrouble();
        m_marksDue.start();
    }
    return hit;
}

// Adds what the conditions could not answer since the last time to their trouble.
void ConditionList::takeTrouble()
{
    if (m_conditions.errorCount() == m_errorsSeen)
        return;
    m_errorsSeen = m_conditions.errorCount();
    const std::vector<Conditions::ConditionSet::Standing> now = m_conditions.standings();
    for (size_t i = 0; i < now.size() && i < m_standings.size(); ++i) {
        const quint64 gaveUp = now[i].gaveUp - m_standings[i].gaveUp;
        const quint64 crowdedOut = now[i].crowdedOut - m_standings[i].crowdedOut;
        if (gaveUp == 0 && crowdedOut == 0)
            continue;
        Trouble &t = m_trouble[now[i].text];
        t.gaveUpPage += gaveUp;
        t.gaveUpRun += gaveUp;
        t.crowdedOutPage += crowdedOut;
        t.crowdedOutRun += crowdedOut;
    }
    m_standings = now;
}

void ConditionList::beginPage()
{
    takeTrouble();
    bool shown = false;
    for (Trouble &t : m_trouble) {
        shown = shown || t.gaveUpPage > 0 || t.crowdedOutPage > 0;
        t.gaveUpPage = 0;
        t.crowdedOutPage = 0;
    }
    if (shown)
        showMarks();
}

void ConditionList::showMarks()
{
    m_marksDue.stop();
    if (m_dirty)
        refresh();
    takeTrouble();
    QHash<int, const Conditions::ConditionSet::Standing *> byPosition;
    for (const Conditions::ConditionSet::Standing &s : m_standings)
        byPosition.insert(s.position, &s);
    for (int i = 0; i < m_list->count(); ++i) {
        QListWidgetItem *row = m_list->item(i);
        const QString text = row->text();
        QStringList why;
        bool broken = false;
        if (const Conditions::ConditionSet::Standing *s = byPosition.value(i)) {
            if (s->error) {
                why << ConditionAdvice::errorText(text, *s->error);
                broken = true;
            }
        }
        const Trouble t = i < kSlots && !text.isEmpty() ? m_trouble.value(text) : Trouble {};
        if (t.gaveUpPage > 0 || t.gaveUpRun > 0) {
            why << u"検索に時間がかかりすぎるため、最後に調べたページの %1 行で判定をあきらめました（起動してから %2 行）"_s
                       .arg(t.gaveUpPage)
                       .arg(t.gaveUpRun);
        }
        if (t.crowdedOutPage > 0 || t.crowdedOutRun > 0) {
            why << u"前の検索単語が1行あたりの検索時間を使い切ったため、最後に調べたページの %1 行で調べられませんでした（起動してから %2 行）"_s
                       .arg(t.crowdedOutPage)
                       .arg(t.crowdedOutRun);
        }
        broken = broken || t.gaveUpPage > 0 || t.crowdedOutPage > 0;
        if (i < kSlots) {
            const QString notice = ConditionAdvice::narrowingNotice(text);
            if (!notice.isEmpty())
                why << notice;
        }
        const QVariant colour = broken ? QVariant(QBrush(Qt::red)) : QVariant();
        const QString tip = why.join(u'\n');
        if (row->data(Qt::ForegroundRole) != colour)
            row->setData(Qt::ForegroundRole, colour);
        if (row->toolTip() != tip)
            row->setToolTip(tip);
    }
}
