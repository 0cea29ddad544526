#include "patrol/LiteralScan.h"

#include "patrol/LiteralGate.h"

#include <QSet>

#include <deque>
#include <map>

namespace Conditions {

namespace {

struct Trie
{
    std::vector<std::map<char16_t, quint32>> children {1};
    std::vector<std::vector<int>> ends {1};
    QHash<char16_t, quint16> classes;

    Trie(const QStringList &literals, qsizetype reach)
    {
        for (int id = 0; id < literals.size(); ++id) {
            quint32 state = 0;
            for (QChar c : QStringView(literals[id]).first(std::min(reach, literals[id].size()))) {
                const char16_t u = c.unicode();
                auto it = children[state].find(u);
                if (it == children[state].end()) {
                    it = children[state].emplace(u, quint32(children.size())).first;
                    children.emplace_back();
                    ends.emplace_back();
                }
                state = it->second;
                if (!classes.contains(u))
                    classes.insert(u, quint16(classes.size() + 1));
            }
            ends[state].push_back(id);
        }
    }
};

bool isWellFormed(QStringView text)
{
    const char16_t *p = reinterpret_cast<const char16_t *>(text.utf16());
    const qsizetype n = text.size();
    // Surrogates are rare in page text: a first pass the compiler can vectorise looks for any.
    bool any = false;
    for (qsizetype i = 0; i < n; ++i)
        any |= (p[i] & 0xF800) == 0xD800;
    if (!any)
        return true;
    for (qsizetype i = 0; i < n; ++i) {
        if (!QChar::isSurrogate(p[i]))
            continue;
        if (!QChar::isHighSurrogate(p[i]) || i + 1 >= n || !QChar::isLowSurrogate(p[i + 1]))
            return false;
        ++i;
    }
    return true;
}

// Cells of the table for literals looked for by their first reach code units, at most.
qsizetype cellsAtMost(const QStringList &literals, qsizetype reach)
{
    qsizetype states = 1;
    QSet<char16_t> units;
    for (const QString &l : literals) {
        const QStringView start = QStringView(l).first(std::min(reach, l.size()));
        states += start.size();
        for (QChar c : start)
            units.insert(c.unicode());
    }
    return units.size() >= LiteralScan::kMaxCells ? LiteralScan::kMaxCells + 1 : states * (units.size() + 1);
}

} // namespace

LiteralScan::LiteralScan(const QStringList &literals)
    : m_literalCount(int(literals.size()))
{
    qsizetype longest = 0;
    for (const QString &l : literals)
        longest = std::max(longest, l.size());
    // The longest literal first; shorter reaches until the table fits.
    for (qsizetype reach : {longest, qsizetype(64), qsizetype(16), qsizetype(4), qsizetype(1)}) {
        if (reach <= longest && cellsAtMost(literals, reach) <= kMaxCells) {
            m_reach = reach;
            break;
        }
    }
    if (m_reach == 0)
        return;
    const Trie t(literals, m_reach);

    m_classes = quint32(t.classes.size() + 1);
    m_classOfFolded = t.classes;
    const std::array<char16_t, 0x10000> &folds = bmpFolds();
    m_classOfUnit.assign(0x10000, 0);
    for (char32_t u = 0; u < 0x10000; ++u) {
        if (folds[u] == 0 && u != 0)
            m_classOfUnit[u] = kSlow;
        else
            m_classOfUnit[u] = t.classes.value(folds[u], 0);
    }

    const size_t states = t.children.size();
    m_next.assign(states * m_classes, 0);
    m_suffix.assign(states, -1);
    m_reports.assign(states, 0);
    std::vector<quint32> fail(states, 0);
    // Breadth first, so that a state's failure state is complete before the state.
    std::deque<quint32> queue;
    for (const auto &[u, child] : t.children[0]) {
        m_next[t.classes.value(u)] = child;
        queue.push_back(child);
    }
    while (!queue.empty()) {
        const quint32 s = queue.front();
        queue.pop_front();
        const quint32 f = fail[s];
        for (quint32 c = 0; c < m_classes; ++c)
            m_next[s * m_classes + c] = m_next[f * m_classes + c];
        for (const auto &[u, child] : t.children[s]) {
            const quint32 c = t.classes.value(u);
            fail[child] = m_next[f * m_classes + c];
            m_next[s * m_classes + c] = child;
            queue.push_back(child);
        }
        m_suffix[s] = t.ends[f].empty() || f == 0 ? m_suffix[f] : qint32(f);
        m_reports[s] = !t.ends[s].empty() || m_suffix[s] >= 0;
    }
    m_reports[0] = !t.ends[0].empty(); // an empty literal is everywhere
    m_endsFrom.reserve(states + 1);
    for (const std::vector<int> &ids : t.ends) {
        m_endsFrom.push_back(quint32(m_endIds.size()));
        m_endIds.insert(m_endIds.end(), ids.begin(), ids.end());
    }
    m_endsFrom.push_back(quint32(m_endIds.size()));
}

void LiteralScan::report(quint32 state, std::vector<int> &found) const
{
    for (qint32 s = qint32(state); s >= 0; s = m_suffix[size_t(s)])
        found.insert(
            found.end(), m_endIds.begin() + m_endsFrom[size_t(s)], m_endIds.begin() + m_endsFrom[size_t(s) + 1]);
}

quint32 LiteralScan::step(quint32 state, char16_t foldedUnit) const
{
    return m_next[state * m_classes + m_classOfFolded.value(foldedUnit, 0)];
}

bool LiteralScan::scan(QStringView text, std::vector<int> &found) const
{
    bool wellFormed = true;
    if (m_reach == 0) {
        for (int id = 0; id < m_literalCount; ++id)
            found.push_back(id);
        return isWellFormed(text);
    }
    if (m_reports[0])
        report(0, found);
    const char16_t *p = reinterpret_cast<const char16_t *>(text.utf16());
    const qsizetype n = text.size();
    quint32 state = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const quint16 c = m_classOfUnit[p[i]];
        if (c != kSlow) [[likely]] {
            state = m_next[state * m_classes + c];
            if (m_reports[state])
                report(state, found);
            continue;
        }
        char32_t cp = QChar::ReplacementCharacter;
        if (QChar::isHighSurrogate(p[i]) && i + 1 < n && QChar::isLowSurrogate(p[i + 1])) {
            cp = QChar::surrogateToUcs4(p[i], p[i + 1]);
            ++i;
        } else if (QChar::isSurrogate(p[i])) {
            wellFormed = false;
        } else {
            cp = p[i];
        }
        const char32_t f = foldCase(cp);
        char16_t units[2];
        const int count = QChar::requiresSurrogates(f) ? 2 : 1;
        if (count == 2) {
            units[0] = QChar::highSurrogate(f);
            units[1] = QChar::lowSurrogate(f);
        } else {
            units[0] = char16_t(f);
        }
        for (int k = 0; k < count; ++k) {
            state = step(state, units[k]);
            if (m_reports[state])
                report(state, found);
        }
    }
    return wellFormed;
}

} // namespace Conditions
