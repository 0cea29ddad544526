#include "patrol/Conditions.h"

#include <QElapsedTimer>
#include <QHash>

namespace Conditions {

Condition parse(const QString &text)
{
    Condition c;
    const QStringList pieces = text.split(u' ');
    c.linkOnly = !pieces.isEmpty() && pieces.front() == u"@";
    for (const QString &piece : pieces) {
        if (piece.isEmpty() || piece == u"@")
            continue;
        Term t;
        t.negative = piece.front() == u'-';
        t.pattern = t.negative ? piece.mid(1) : piece;
        t.gate = requiredLiterals(t.pattern);
        c.terms.push_back(std::move(t));
    }
    return c;
}

// The search time of one line, started by its first search.
class ConditionSet::Clock
{
public:
    explicit Clock(std::chrono::nanoseconds budget)
        : m_budget(budget.count())
    { }

    // Called before each search: false once the line has used up its time.
    bool allowSearch()
    {
        if (!m_timer.isValid()) {
            m_timer.start();
            return true;
        }
        return m_timer.nsecsElapsed() < m_budget;
    }

private:
    QElapsedTimer m_timer;
    qint64 m_budget;
};

ConditionSet::ConditionSet(const QStringList &conditions, std::chrono::nanoseconds lineBudget)
    : m_bucketOf(kBucketMask + 1, -1)
    , m_lineBudget(lineBudget)
{
    QHash<QString, int> idOf;
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
                    it = idOf.insert(lit, int(m_literals.size()));
                    m_literals.append(lit);
                    int &bucket = m_bucketOf[lit.front().unicode() & kBucketMask];
                    if (bucket < 0) {
                        bucket = int(m_byFirst.size());
                        m_byFirst.emplace_back();
                    }
                    m_byFirst[size_t(bucket)].push_back(*it);
                }
                ids.push_back(*it);
            }
            p.gates.push_back(std::move(ids));
        }
        m_conditions.push_back(std::move(p));
    }
    m_seen.assign(size_t(m_literals.size()), 0);
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

void ConditionSet::markLiterals(QStringView line) const
{
    if (++m_lineNumber == 0) {
        std::fill(m_seen.begin(), m_seen.end(), 0);
        m_lineNumber = 1;
    }
    if (m_literals.isEmpty())
        return;
    const QString folded = foldCase(line);
    const QStringView f(folded);
    for (qsizetype pos = 0; pos < f.size(); ++pos) {
        const int bucket = m_bucketOf[f[pos].unicode() & kBucketMask];
        if (bucket < 0)
            continue;
        for (int id : m_byFirst[size_t(bucket)]) {
            const QString &lit = m_literals[id];
            if (m_seen[size_t(id)] != m_lineNumber && lit.front() == f[pos] && f.sliced(pos).startsWith(lit))
                m_seen[size_t(id)] = m_lineNumber;
        }
    }
}

ConditionSet::Answer ConditionSet::evaluate(const Prepared &p, QStringView line, Clock &clock) const
{
    const std::vector<Term> &terms = p.condition.terms;
    // Every term must pass, so the order of trying them does not change the answer: the cheap
    // literal tests go first.
    for (size_t i = 0; i < terms.size(); ++i) {
        if (!terms[i].negative && !gateOpen(p.gates[i]))
            return Answer::Miss;
    }
    for (size_t i = 0; i < terms.size(); ++i) {
        bool found = false;
        if (gateOpen(p.gates[i])) {
            if (!clock.allowSearch())
                return Answer::Error;
            switch (p.expressions[i].search(line)) {
            case bregexp::Outcome::Found:
                found = true;
                break;
            case bregexp::Outcome::NotFound:
                break;
            case bregexp::Outcome::GaveUp:
                // Neither found nor absent: a negative term must not pass on it.
                return Answer::Error;
            }
        }
        if (found == terms[i].negative)
            return Answer::Miss;
    }
    return Answer::Hit;
}

void ConditionSet::countError(const Prepared &p) const
{
    ++m_errors;
    if (p.told)
        return;
    p.told = true;
    // A condition can be long; its start is enough to find it in the list.
    const QString shown = p.text.size() > 60 ? p.text.left(60) + QChar(0x2026) : p.text;
    qWarning("korvani: condition %d \"%s\" gave up on a line, its search being too costly; it does not hit there",
        p.position, qUtf8Printable(shown));
}

bool ConditionSet::match(QStringView line, quint8 mode) const
{
    if (line.isEmpty() || m_conditions.empty())
        return false;
    // The engine refuses text with a lone surrogate, which would fail every term of the line.
    QString repaired;
    if (!bregexp::isWellFormed(line)) {
        repaired = bregexp::wellFormed(line);
        line = repaired;
    }
    markLiterals(line);
    Clock clock(m_lineBudget);
    for (const Prepared &p : m_conditions) {
        if (p.condition.linkOnly && mode == PageMode)
            continue;
        switch (evaluate(p, line, clock)) {
        case Answer::Hit:
            return true;
        case Answer::Miss:
            break;
        case Answer::Error:
            countError(p);
            break;
        }
    }
    return false;
}

} // namespace Conditions
