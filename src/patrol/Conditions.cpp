#include "patrol/Conditions.h"

#include <QElapsedTimer>
#include <QHash>

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

// The search time of one line, started by its first search. It reads the clock once per search,
// as a single budget for the line would: the condition's own start is the line's time then.
class ConditionSet::Clock
{
public:
    enum class Verdict { Search, ConditionSpent, LineSpent };

    explicit Clock(const Budgets &budgets)
        : m_condition(budgets.condition.count())
        , m_line(budgets.line.count())
    { }

    // Called before each search; conditionStart is -1 before the condition's first search.
    Verdict allowSearch(qint64 &conditionStart)
    {
        if (!m_timer.isValid()) {
            m_timer.start();
            conditionStart = 0;
            return Verdict::Search;
        }
        const qint64 now = m_timer.nsecsElapsed();
        if (now >= m_line)
            return Verdict::LineSpent;
        if (conditionStart < 0) {
            conditionStart = now;
            return Verdict::Search;
        }
        return now - conditionStart < m_condition ? Verdict::Search : Verdict::ConditionSpent;
    }

private:
    QElapsedTimer m_timer;
    qint64 m_condition;
    qint64 m_line;
};

ConditionSet::ConditionSet(const QStringList &conditions, Budgets budgets)
    : m_bucketOf(kBucketMask + 1, -1)
    , m_budgets(budgets)
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
    qint64 conditionStart = -1;
    for (size_t i = 0; i < terms.size(); ++i) {
        bool found = false;
        if (gateOpen(p.gates[i])) {
            switch (clock.allowSearch(conditionStart)) {
            case Clock::Verdict::Search:
                break;
            case Clock::Verdict::ConditionSpent:
                return Answer::GaveUp;
            case Clock::Verdict::LineSpent:
                return Answer::CrowdedOut;
            }
            switch (p.expressions[i].search(line)) {
            case bregexp::Outcome::Found:
                found = true;
                break;
            case bregexp::Outcome::NotFound:
                break;
            case bregexp::Outcome::GaveUp:
                // Neither found nor absent: a negative term must not pass on it.
                return Answer::GaveUp;
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
    const QString shown = p.text.size() > 60 ? p.text.left(60) + QChar(0x2026) : p.text;
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
                    e.errorString(), p.condition.terms[i].offset + std::max<qsizetype>(0, e.errorOffset())};
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
    // The engine refuses text with a lone surrogate, which would fail every term of the line.
    QString repaired;
    if (!bregexp::isWellFormed(line)) {
        repaired = bregexp::wellFormed(line);
        line = repaired;
    }
    markLiterals(line);
    Clock clock(m_budgets);
    bool hit = false;
    for (const Prepared &p : m_conditions) {
        if (p.condition.linkOnly && mode == PageMode)
            continue;
        const Answer a = evaluate(p, line, clock);
        if (a == Answer::Miss) [[likely]]
            continue;
        if (a != Answer::Hit) {
            countError(p, a);
            continue;
        }
        if (!hitPositions)
            return true;
        hit = true;
        hitPositions->append(p.position);
    }
    return hit;
}

} // namespace Conditions
