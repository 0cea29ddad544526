#include "patrol/Conditions.h"

#include "platform/Clip.h"

#include <QElapsedTimer>
#include <QHash>

#include <algorithm>

namespace Conditions {

Condition parse(const QString &text)
{
    Condition c;
    const QStringList pieces = text.split(u' ');
    c.linkOnly = !pieces.isEmpty() && pieces.front() == u"@";
    qsizetype at = 0;
    for (const QString &piece : pieces) {
        const qsizetype start = at;
        at += piece.size() + 1;
        if (piece.isEmpty() || piece == u"@")
            continue;
        Term t;
        t.negative = piece.front() == u'-';
        t.pattern = t.negative ? piece.mid(1) : piece;
        t.offset = start + (t.negative ? 1 : 0);
        t.gate = requiredLiterals(t.pattern);
        c.terms.push_back(std::move(t));
    }
    return c;
}

// The search time of one line, started by its first search. Each search is given the moment it
// must end by, the earliest of the line's and the condition's.
class ConditionSet::Clock
{
public:
    enum class Verdict { Search, Pause, ConditionSpent, LineSpent };

    explicit Clock(const Budgets &budgets)
        : m_condition(budgets.condition.count())
        , m_firstRound(std::min(budgets.condition, std::chrono::nanoseconds(kFirstRoundBudget)).count())
        , m_line(budgets.line.count())
    { }

    // Called before each search; on Search, deadline is when that search must end.
    Verdict allowSearch(Progress &p, bregexp::Clock::time_point &deadline)
    {
        // The line's first search is made whatever its time: a line is never left unsearched.
        const bool first = !m_started;
        const qint64 now = elapsed();
        if (now >= m_line && !first)
            return Verdict::LineSpent;
        qint64 left = 0;
        if (p.start < 0) {
            p.start = now;
            if (!p.firstRound && p.before >= m_condition)
                return Verdict::ConditionSpent;
            left = (p.firstRound ? m_firstRound : m_condition) - p.before;
        } else {
            const qint64 spent = p.before + now - p.start;
            if (!p.firstRound) {
                if (spent >= m_condition)
                    return Verdict::ConditionSpent;
                left = m_condition - spent;
            } else if (spent < m_firstRound) {
                left = m_firstRound - spent;
            } else {
                p.before = spent;
                p.start = -1;
                return Verdict::Pause;
            }
        }
        deadline = m_start + std::chrono::nanoseconds(std::min(now + left, m_line));
        return Verdict::Search;
    }

    // The condition's first round ends before its time does.
    void pause(Progress &p)
    {
        p.before += elapsed() - p.start;
        p.start = -1;
    }

private:
    qint64 elapsed()
    {
        const auto now = bregexp::Clock::now();
        if (!m_started) {
            m_started = true;
            m_start = now;
        }
        return std::chrono::duration_cast<std::chrono::nanoseconds>(now - m_start).count();
    }

    bregexp::Clock::time_point m_start;
    bool m_started = false;
    qint64 m_condition;
    qint64 m_firstRound;
    qint64 m_line;
};

ConditionSet::ConditionSet(const QStringList &conditions, Budgets budgets)
    : m_budgets(budgets)
{
    QHash<QString, int> idOf;
    QStringList literals;
    for (qsizetype position = 0; position < conditions.size(); ++position) {
        const QString &text = conditions[position];
        if (text.isEmpty())
            continue;
        Prepared p;
        p.position = int(position);
        p.text = text;
        p.condition = parse(text);
        if (p.condition.terms.empty())
            continue;
        for (const Term &t : p.condition.terms) {
            p.expressions.emplace_back(t.pattern);
            std::vector<int> ids;
            for (const QString &lit : t.gate) {
                auto it = idOf.constFind(lit);
                if (it == idOf.constEnd()) {
                    it = idOf.insert(lit, int(literals.size()));
                    literals.append(lit);
                }
                ids.push_back(*it);
            }
            p.gates.push_back(std::move(ids));
        }
        m_conditions.push_back(std::move(p));
    }
    m_scan = LiteralScan(literals);
    m_seen.assign(size_t(literals.size()), 0);
    m_tried.assign(m_conditions.size(), 0);
    m_triggers.resize(size_t(literals.size()));
    // A condition cannot hit unless one literal of each of its positive terms occurs: those of
    // the first such term decide whether it is tried.
    for (size_t k = 0; k < m_conditions.size(); ++k) {
        const Prepared &p = m_conditions[k];
        const std::vector<int> *trigger = nullptr;
        for (size_t i = 0; i < p.condition.terms.size() && !trigger; ++i) {
            if (!p.condition.terms[i].negative && !p.gates[i].empty())
                trigger = &p.gates[i];
        }
        if (!trigger) {
            m_ungated.push_back(int(k));
            continue;
        }
        for (int id : *trigger)
            m_triggers[size_t(id)].push_back(int(k));
    }
}

bool ConditionSet::gateOpen(const std::vector<int> &ids) const
{
    if (ids.empty())
        return true;
    for (int id : ids) {
        if (m_seen[size_t(id)] == m_lineNumber)
            return true;
    }
    return false;
}

bool ConditionSet::findCandidates(QStringView line) const
{
    if (++m_lineNumber == 0) {
        std::fill(m_seen.begin(), m_seen.end(), 0);
        std::fill(m_tried.begin(), m_tried.end(), 0);
        m_lineNumber = 1;
    }
    m_found.clear();
    const bool wellFormed = m_scan.scan(line, m_found);
    m_candidates.clear();
    for (int id : m_found) {
        if (m_seen[size_t(id)] == m_lineNumber)
            continue;
        m_seen[size_t(id)] = m_lineNumber;
        for (int k : m_triggers[size_t(id)]) {
            if (m_tried[size_t(k)] != m_lineNumber) {
                m_tried[size_t(k)] = m_lineNumber;
                m_candidates.push_back(k);
            }
        }
    }
    if (!m_candidates.empty() || !m_ungated.empty()) {
        m_candidates.insert(m_candidates.end(), m_ungated.begin(), m_ungated.end());
        std::sort(m_candidates.begin(), m_candidates.end());
    }
    return wellFormed;
}

ConditionSet::Answer ConditionSet::evaluate(const Prepared &p, QStringView line, Clock &clock, Progress &progress) const
{
    const std::vector<Term> &terms = p.condition.terms;
    // Every term must pass, so the order of trying them does not change the answer: the cheap
    // literal tests go first.
    if (progress.firstRound) {
        for (size_t i = 0; i < terms.size(); ++i) {
            if (!terms[i].negative && !gateOpen(p.gates[i]))
                return Answer::Miss;
        }
    }
    for (size_t &i = progress.term; i < terms.size(); ++i, progress.level = 0) {
        bool found = false;
        bool answered = !gateOpen(p.gates[i]);
        while (!answered) {
            bregexp::Clock::time_point deadline;
            switch (clock.allowSearch(progress, deadline)) {
            case Clock::Verdict::Search:
                break;
            case Clock::Verdict::Pause:
                return Answer::Open;
            case Clock::Verdict::ConditionSpent:
                return Answer::GaveUp;
            case Clock::Verdict::LineSpent:
                return Answer::CrowdedOut;
            }
            switch (p.expressions[i].search(line, progress.level, deadline)) {
            case bregexp::Outcome::Found:
                found = true;
                answered = true;
                break;
            case bregexp::Outcome::NotFound:
                answered = true;
                break;
            case bregexp::Outcome::TimedOut:
                // The clock tells, at the next turn, whose time it was.
                if (progress.firstRound) {
                    clock.pause(progress);
                    return Answer::Open;
                }
                break;
            case bregexp::Outcome::GaveUp:
                if (progress.firstRound) {
                    ++progress.level;
                    clock.pause(progress);
                    return Answer::Open;
                }
                // Neither found nor absent: a negative term must not pass on it.
                if (progress.level == bregexp::kLastLevel)
                    return Answer::GaveUp;
                ++progress.level;
                break;
            }
        }
        if (found == terms[i].negative)
            return Answer::Miss;
    }
    return Answer::Hit;
}

void ConditionSet::countError(const Prepared &p, Answer a) const
{
    ++m_errors;
    quint64 &count = a == Answer::GaveUp ? p.gaveUp : p.crowdedOut;
    if (count++ > 0 || m_quiet)
        return;
    // A condition can be long; its start is enough to find it in the list.
    const QString shown = clipped(p.text, 60);
    if (a == Answer::GaveUp)
        qWarning("korvani: condition %d \"%s\" gave up on a line, its search being too costly; it does not hit there",
            p.position, qUtf8Printable(shown));
    else
        qWarning("korvani: condition %d \"%s\" was not searched on a line whose search time the conditions before it "
                 "had spent; it does not hit there",
            p.position, qUtf8Printable(shown));
}

std::vector<ConditionSet::Standing> ConditionSet::standings() const
{
    std::vector<Standing> out;
    out.reserve(m_conditions.size());
    for (const Prepared &p : m_conditions) {
        Standing s {p.position, p.text, std::nullopt, p.gaveUp, p.crowdedOut};
        for (size_t i = 0; i < p.expressions.size(); ++i) {
            const bregexp::Expression &e = p.expressions[i];
            if (!e.isValid()) {
                s.error = PatternError {
                    e.errorString(), p.condition.terms[i].offset + std::max<qsizetype>(0, e.errorOffset()), e.fault()};
                break;
            }
        }
        out.push_back(std::move(s));
    }
    return out;
}

bool ConditionSet::match(QStringView line, quint8 mode, QList<int> *hitPositions) const
{
    if (line.isEmpty() || m_conditions.empty())
        return false;
    const bool wellFormed = findCandidates(line);
    if (m_candidates.empty()) [[likely]]
        return false;
    // The engine refuses text with a lone surrogate, which would fail every term of the line.
    QString repaired;
    if (!wellFormed) {
        repaired = bregexp::wellFormed(line);
        line = repaired;
    }
    Clock clock(m_budgets);
    const qsizetype listed = hitPositions ? hitPositions->size() : 0;
    bool hit = false;
    // Without hitPositions the first hit decides, so the round ends there; the conditions left
    // open before it still make their full searches, as their errors are told.
    auto take = [&](const Prepared &p, Answer a) {
        if (a == Answer::Hit) {
            hit = true;
            if (!hitPositions)
                return false;
            hitPositions->append(p.position);
        } else if (a == Answer::GaveUp || a == Answer::CrowdedOut) {
            countError(p, a);
        }
        return true;
    };
    m_open.clear();
    for (int k : m_candidates) {
        const Prepared &p = m_conditions[size_t(k)];
        if (p.condition.linkOnly && mode == PageMode)
            continue;
        Progress progress;
        progress.condition = size_t(k);
        const Answer a = evaluate(p, line, clock, progress);
        if (a == Answer::Open)
            m_open.push_back(progress);
        else if (!take(p, a))
            break;
    }
    for (Progress &progress : m_open) {
        const Prepared &p = m_conditions[progress.condition];
        progress.firstRound = false;
        if (!take(p, evaluate(p, line, clock, progress)))
            break;
    }
    if (hitPositions)
        std::sort(hitPositions->begin() + listed, hitPositions->end());
    return hit;
}

} // namespace Conditions
