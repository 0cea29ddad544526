#include "patrol/LiteralGate.h"

#include <array>
#include <optional>

namespace Conditions {

namespace {

// Past these the pre-test is not worth its cost, and deeper nesting is close to what the engine
// refuses anyway.
constexpr int kMaxDepth = 64;
constexpr qsizetype kMaxLiterals = 32;

// The literals one of which every match contains; nothing when no such set is known.
using Requirement = std::optional<QStringList>;

bool isAsciiPunct(char16_t u)
{
    return u >= 0x20 && u < 0x7F && !QChar::isLetterOrNumber(u);
}

// Reads a pattern with the engine's default syntax (no extended mode, no options), accepting
// only: literal characters, escaped ASCII punctuation, ".", "^", "$", classes without nested
// "[" or escapes beyond the plain ones, the class escapes \d \w \s \h \v and their opposites, the
// assertions \b \B \A \z \Z \G, capturing and non-capturing groups, "|", and the quantifiers ? * + {n}
// {n,} {n,m} with an optional lazy or possessive mark. Everything else ends the reading with
// failure: quoting, POSIX classes, other "(?" groups, "(*", back references, properties, code
// escapes.
class Reader
{
public:
    explicit Reader(QStringView pattern)
        : m_p(pattern)
    { }

    bool read(Requirement &out)
    {
        out = alternation(0);
        return m_ok && m_pos == m_p.size();
    }

private:
    enum class Kind { Literal, Opaque, ZeroWidth, Group };
    struct Item
    {
        Kind kind = Kind::Opaque;
        QString text; // the character of a literal
        Requirement group;
    };

    void fail() { m_ok = false; }
    bool atEnd() const { return m_pos >= m_p.size(); }
    char16_t peek(qsizetype ahead = 0) const
    {
        return m_pos + ahead < m_p.size() ? m_p[m_pos + ahead].unicode() : char16_t(0);
    }

    static qsizetype score(const QStringList &literals)
    {
        qsizetype shortest = literals.front().size();
        for (const QString &l : literals)
            shortest = std::min(shortest, l.size());
        return shortest;
    }

    // A longer shortest literal rules out more lines; ties keep the earlier set.
    static void consider(Requirement &best, const QStringList &candidate)
    {
        if (!best || score(candidate) > score(*best))
            best = candidate;
    }

    Requirement alternation(int depth)
    {
        Requirement all = sequence(depth);
        while (m_ok && peek() == u'|' && !atEnd()) {
            ++m_pos;
            const Requirement next = sequence(depth);
            if (!all || !next) {
                all.reset();
                continue;
            }
            for (const QString &l : *next) {
                if (!all->contains(l))
                    all->append(l);
            }
            if (all->size() > kMaxLiterals)
                all.reset();
        }
        return all;
    }

    Requirement sequence(int depth)
    {
        QString run;
        Requirement best;
        auto endRun = [&] {
            if (!run.isEmpty())
                consider(best, {run});
            run.clear();
        };
        while (m_ok && !atEnd() && peek() != u'|' && peek() != u')') {
            const Item item = readItem(depth);
            if (!m_ok)
                break;
            int min = 1;
            const bool quantified = readQuantifier(min);
            if (!m_ok || (quantified && item.kind == Kind::ZeroWidth)) {
                fail();
                break;
            }
            switch (item.kind) {
            case Kind::Literal:
                if (min > 0)
                    run += item.text;
                if (quantified)
                    endRun();
                break;
            case Kind::Group:
                endRun();
                if (min > 0 && item.group)
                    consider(best, *item.group);
                break;
            case Kind::Opaque:
            case Kind::ZeroWidth:
                endRun();
                break;
            }
        }
        if (depth == 0 && peek() == u')' && !atEnd())
            fail(); // unbalanced: the engine refuses it, and the model ends here
        endRun();
        return best;
    }

    // Returns whether a quantifier follows; min is its lower bound.
    bool readQuantifier(int &min)
    {
        const char16_t c = peek();
        if (atEnd() || (c != u'?' && c != u'*' && c != u'+' && c != u'{'))
            return false;
        if (c == u'{') {
            qsizetype i = m_pos + 1;
            auto digits = [&] {
                const qsizetype start = i;
                while (i < m_p.size() && m_p[i] >= u'0' && m_p[i] <= u'9' && i - start < 6)
                    ++i;
                return i - start;
            };
            const qsizetype first = digits();
            if (first == 0 || first > 5) {
                fail(); // a "{" that is no quantifier, or one out of range
                return false;
            }
            min = m_p.sliced(m_pos + 1, first).toInt();
            if (i < m_p.size() && m_p[i] == u',') {
                ++i;
                if (digits() > 5) {
                    fail();
                    return false;
                }
            }
            if (i >= m_p.size() || m_p[i] != u'}') {
                fail();
                return false;
            }
            m_pos = i + 1;
        } else {
            min = c == u'+' ? 1 : 0;
            ++m_pos;
        }
        if (!atEnd() && (peek() == u'?' || peek() == u'+'))
            ++m_pos;
        if (!atEnd() && (peek() == u'?' || peek() == u'*' || peek() == u'+' || peek() == u'{'))
            fail();
        return true;
    }

    Item readItem(int depth)
    {
        Item item;
        const char16_t c = peek();
        if (QChar::isHighSurrogate(c)) {
            if (!QChar::isLowSurrogate(peek(1))) {
                fail();
                return item;
            }
            item.kind = Kind::Literal;
            item.text = m_p.sliced(m_pos, 2).toString();
            m_pos += 2;
            return item;
        }
        if (QChar::isLowSurrogate(c)) {
            fail();
            return item;
        }
        switch (c) {
        case u'.':
            ++m_pos;
            item.kind = Kind::Opaque;
            return item;
        case u'^':
        case u'$':
            ++m_pos;
            item.kind = Kind::ZeroWidth;
            return item;
        case u'[':
            readClass();
            item.kind = Kind::Opaque;
            return item;
        case u'(':
            if (peek(1) == u'*' || (peek(1) == u'?' && peek(2) != u':') || depth + 1 > kMaxDepth) {
                fail();
                return item;
            }
            m_pos += peek(1) == u'?' ? 3 : 1;
            item.kind = Kind::Group;
            item.group = alternation(depth + 1);
            if (!m_ok)
                return item;
            if (atEnd() || peek() != u')') {
                fail();
                return item;
            }
            ++m_pos;
            return item;
        case u'\\':
            return readEscape();
        case u'?':
        case u'*':
        case u'+':
        case u'{':
            fail(); // nothing to repeat, or a literal "{" the model does not take
            return item;
        default:
            item.kind = Kind::Literal;
            item.text = QString(QChar(c));
            ++m_pos;
            return item;
        }
    }

    Item readEscape()
    {
        Item item;
        const char16_t n = peek(1);
        if (m_pos + 1 >= m_p.size()) {
            fail();
            return item;
        }
        m_pos += 2;
        if (isAsciiPunct(n)) {
            item.kind = Kind::Literal;
            item.text = QString(QChar(n));
        } else if (QStringView(u"dDwWsShHvV").contains(QChar(n))) {
            item.kind = Kind::Opaque;
        } else if (QStringView(u"bBAzZG").contains(QChar(n))) {
            item.kind = Kind::ZeroWidth;
        } else {
            fail();
        }
        return item;
    }

    // A "]" right after "[" or "[^" is a member. A "[" inside may open a POSIX class or not,
    // depending on what follows; it is not modelled.
    void readClass()
    {
        qsizetype i = m_pos + 1;
        if (i < m_p.size() && m_p[i] == u'^')
            ++i;
        if (i < m_p.size() && m_p[i] == u']')
            ++i;
        for (; i < m_p.size(); ++i) {
            const char16_t u = m_p[i].unicode();
            if (u == u']') {
                m_pos = i + 1;
                return;
            }
            if (u == u'[' || QChar::isLowSurrogate(u))
                break;
            if (QChar::isHighSurrogate(u)) {
                if (i + 1 >= m_p.size() || !m_p[i + 1].isLowSurrogate())
                    break;
                ++i;
            } else if (u == u'\\') {
                if (i + 1 >= m_p.size())
                    break;
                const char16_t n = m_p[i + 1].unicode();
                if (!isAsciiPunct(n) && !QStringView(u"dDwWsShHvVb").contains(QChar(n)))
                    break;
                ++i;
            }
        }
        fail();
    }

    QStringView m_p;
    qsizetype m_pos = 0;
    bool m_ok = true;
};

} // namespace

QStringList requiredLiterals(const QString &pattern)
{
    Requirement req;
    if (pattern.isEmpty() || !Reader(pattern).read(req) || !req)
        return {};
    QStringList gate;
    for (const QString &l : *req) {
        const QString folded = foldCase(l);
        if (folded.isEmpty())
            return {};
        if (!gate.contains(folded))
            gate.append(folded);
    }
    return gate;
}

char32_t foldCase(char32_t c)
{
    // Engine releases have differed on whether the dotted and dotless i are case partners of i;
    // folding all four alike is right either way.
    if (c == 0x130 || c == 0x131)
        return u'i';
    return QChar::toCaseFolded(c);
}

// Every line of every page goes through here.
const std::array<char16_t, 0x10000> &bmpFolds()
{
    static const auto table = [] {
        std::array<char16_t, 0x10000> t {};
        for (char32_t c = 0; c < 0x10000; ++c) {
            const char32_t f = QChar::isSurrogate(c) ? 0 : foldCase(c);
            t[c] = f < 0x10000 ? char16_t(f) : 0;
        }
        return t;
    }();
    return table;
}

QString foldCase(QStringView text)
{
    const std::array<char16_t, 0x10000> &folds = bmpFolds();
    const qsizetype n = text.size();
    QString out(n, Qt::Uninitialized);
    qsizetype o = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = text[i].unicode();
        if (folds[u] != 0 || u == 0) {
            out[o++] = QChar(folds[u]);
            continue;
        }
        char32_t c = u;
        if (QChar::isHighSurrogate(u) && i + 1 < n && text[i + 1].isLowSurrogate())
            c = QChar::surrogateToUcs4(u, text[++i].unicode());
        const char32_t f = QChar::isSurrogate(c) ? c : foldCase(c); // a lone surrogate stays
        if (QChar::requiresSurrogates(f)) {
            if (o + 2 > out.size())
                out.resize(out.size() + 2);
            out[o++] = QChar(QChar::highSurrogate(f));
            out[o++] = QChar(QChar::lowSurrogate(f));
        } else {
            out[o++] = QChar(char16_t(f));
        }
    }
    out.truncate(o);
    return out;
}

} // namespace Conditions
