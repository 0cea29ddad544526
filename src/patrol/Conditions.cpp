#include "patrol/Conditions.h"

#include "patrol/bregexp.h"

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

namespace {

bool isAsciiPunct(QChar c)
{
    const char16_t u = c.unicode();
    return u < 0x80 && !QChar::isLetterOrNumber(u) && u > 0x20;
}

// The index of the "]" that closes the class opened at start; -1 when it is never closed. A "]"
// right after "[" or "[^" is a member, and so are POSIX names like [:alpha:].
qsizetype classEnd(const QString &p, qsizetype start)
{
    qsizetype i = start + 1;
    if (i < p.size() && p[i] == u'^')
        ++i;
    if (i < p.size() && p[i] == u']')
        ++i;
    for (; i < p.size() && p[i] != u']'; ++i) {
        if (p[i] == u'\\') {
            ++i;
        } else if (p[i] == u'[' && i + 1 < p.size() && p[i + 1] == u':') {
            const qsizetype end = p.indexOf(u":]", i + 2);
            if (end < 0)
                return -1;
            i = end + 1;
        }
    }
    return i < p.size() ? i : -1;
}

// Splits at "|" outside groups and classes; nothing when the pattern holds constructs the
// literal scan does not understand.
bool splitTopLevel(const QString &p, QStringList &alternatives)
{
    int depth = 0;
    qsizetype start = 0;
    for (qsizetype i = 0; i < p.size(); ++i) {
        const QChar c = p[i];
        if (c == u'\\') {
            ++i;
        } else if (c == u'[') {
            i = classEnd(p, i);
            if (i < 0)
                return false;
        } else if (c == u'(') {
            if (i + 1 < p.size() && (p[i + 1] == u'?' || p[i + 1] == u'*'))
                return false; // options, comments, verbs and the like change what follows
            ++depth;
        } else if (c == u')') {
            --depth;
        } else if (c == u'|' && depth == 0) {
            alternatives.append(p.mid(start, i - start));
            start = i + 1;
        }
    }
    alternatives.append(p.mid(start));
    return depth == 0;
}

// The longest run of plain characters outside groups and classes that a match must contain.
QString longestRequiredRun(const QString &p)
{
    QString best, run;
    auto endRun = [&] {
        if (run.size() > best.size())
            best = run;
        run.clear();
    };
    int depth = 0;
    for (qsizetype i = 0; i < p.size(); ++i) {
        const QChar c = p[i];
        if (c == u'\\') {
            if (i + 1 >= p.size())
                return QString();
            const QChar n = p[i + 1];
            ++i;
            if (depth > 0)
                continue;
            if (isAsciiPunct(n)) {
                run.append(n);
                continue;
            }
            // \d \w \s \b and their opposites stand for one class or a position; anything else
            // (\x{..}, \Q, back references, properties) is beyond this scan.
            if (QStringView(u"dDwWsSbBAzZ").contains(n)) {
                endRun();
                continue;
            }
            return QString();
        }
        if (c == u'[') {
            endRun();
            i = classEnd(p, i);
            if (i < 0)
                return QString();
            continue;
        }
        if (c == u'(') {
            endRun();
            ++depth;
            continue;
        }
        if (c == u')') {
            --depth;
            continue;
        }
        if (depth > 0)
            continue;
        if (c == u'{')
            return QString(); // a counted repeat may allow zero
        if (c == u'?' || c == u'*') {
            // The character before may be absent, both halves of it when it is a surrogate pair.
            run.chop(run.size() >= 2 && run.back().isLowSurrogate() ? 2 : 1);
            endRun();
            continue;
        }
        if (c == u'+' || c == u'.' || c == u'^' || c == u'$') {
            endRun();
            continue;
        }
        run.append(c);
    }
    endRun();
    return best;
}

} // namespace

QStringList requiredLiterals(const QString &pattern)
{
    QStringList alternatives;
    if (pattern.isEmpty() || !splitTopLevel(pattern, alternatives))
        return {};
    QStringList gate;
    for (const QString &alt : alternatives) {
        const QString lit = longestRequiredRun(alt);
        if (lit.isEmpty())
            return {};
        gate.append(lit.toCaseFolded());
    }
    return gate;
}

namespace {

bool mayMatch(const Term &t, QStringView foldedLine)
{
    if (t.gate.isEmpty())
        return true;
    for (const QString &lit : t.gate) {
        if (foldedLine.contains(lit))
            return true;
    }
    return false;
}

bool passes(const Term &t, QStringView line, QStringView foldedLine)
{
    const bool found = mayMatch(t, foldedLine) && bregexp::search(t.pattern, line);
    return found != t.negative;
}

} // namespace

bool hits(const Condition &c, QStringView line, QStringView foldedLine, quint8 mode)
{
    if (c.terms.empty() || (c.linkOnly && mode == PageMode))
        return false;
    // Every term must pass, so the order of trying them does not change the answer: the cheap
    // literal tests go first.
    for (const Term &t : c.terms) {
        if (!t.negative && !mayMatch(t, foldedLine))
            return false;
    }
    for (const Term &t : c.terms) {
        if (!passes(t, line, foldedLine))
            return false;
    }
    return true;
}

ConditionSet::ConditionSet(const QStringList &conditions)
    : m_bucketOf(0x10000, -1)
{
    QHash<QString, int> idOf;
    for (const QString &text : conditions) {
        if (text.isEmpty())
            continue;
        Prepared p {parse(text), {}};
        if (p.condition.terms.empty())
            continue;
        for (const Term &t : p.condition.terms) {
            std::vector<int> ids;
            for (const QString &lit : t.gate) {
                auto it = idOf.constFind(lit);
                if (it == idOf.constEnd()) {
                    it = idOf.insert(lit, int(m_literals.size()));
                    m_literals.append(lit);
                    int &bucket = m_bucketOf[lit.front().unicode()];
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

bool ConditionSet::passes(const Prepared &p, size_t term, QStringView line) const
{
    const Term &t = p.condition.terms[term];
    const bool found = gateOpen(p.gates[term]) && bregexp::search(t.pattern, line);
    return found != t.negative;
}

bool ConditionSet::match(QStringView line, quint8 mode) const
{
    if (line.isEmpty() || m_conditions.empty())
        return false;
    if (++m_lineNumber == 0) {
        std::fill(m_seen.begin(), m_seen.end(), 0);
        m_lineNumber = 1;
    }
    if (!m_literals.isEmpty()) {
        const QString folded = line.toString().toCaseFolded();
        const QStringView f(folded);
        for (qsizetype pos = 0; pos < f.size(); ++pos) {
            const int bucket = m_bucketOf[f[pos].unicode()];
            if (bucket < 0)
                continue;
            for (int id : m_byFirst[size_t(bucket)]) {
                if (m_seen[size_t(id)] != m_lineNumber && f.sliced(pos).startsWith(m_literals[id]))
                    m_seen[size_t(id)] = m_lineNumber;
            }
        }
    }
    for (const Prepared &p : m_conditions) {
        if (p.condition.linkOnly && mode == PageMode)
            continue;
        const size_t n = p.condition.terms.size();
        bool possible = true;
        for (size_t i = 0; i < n && possible; ++i)
            possible = p.condition.terms[i].negative || gateOpen(p.gates[i]);
        if (!possible)
            continue;
        bool all = true;
        for (size_t i = 0; i < n && all; ++i)
            all = passes(p, i, line);
        if (all)
            return true;
    }
    return false;
}

bool matchAny(const QStringList &conditions, QStringView line, quint8 mode)
{
    if (line.isEmpty())
        return false;
    static QHash<QString, Condition> parsed;
    const QString folded = line.toString().toCaseFolded();
    for (const QString &text : conditions) {
        if (text.isEmpty())
            continue;
        auto it = parsed.constFind(text);
        if (it == parsed.constEnd()) {
            if (parsed.size() > 4096)
                parsed.clear();
            it = parsed.insert(text, parse(text));
        }
        if (hits(*it, line, folded, mode))
            return true;
    }
    return false;
}

} // namespace Conditions
