#include "patrol/bregexp.h"

#include <QHash>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace bregexp {
namespace {

constexpr auto kOptions = QRegularExpression::CaseInsensitiveOption;

// The options the engine takes only at the very start of a pattern, before anything else.
bool isStartOption(QStringView name)
{
    static const QStringList names {u"UTF"_s, u"UCP"_s, u"NOTEMPTY"_s, u"NOTEMPTY_ATSTART"_s, u"NO_AUTO_POSSESS"_s,
        u"NO_DOTSTAR_ANCHOR"_s, u"NO_JIT"_s, u"NO_START_OPT"_s, u"LIMIT_DEPTH="_s, u"LIMIT_HEAP="_s, u"LIMIT_MATCH="_s,
        u"LIMIT_RECURSION="_s, u"CR"_s, u"LF"_s, u"CRLF"_s, u"ANYCRLF"_s, u"ANY"_s, u"NUL"_s, u"BSR_ANYCRLF"_s,
        u"BSR_UNICODE"_s};
    const qsizetype eq = name.indexOf(u'=');
    return names.contains(eq >= 0 ? name.first(eq + 1) : name);
}

// Where the pattern's own start options end: the limits go after them, so that the last word on
// each limit is ours.
qsizetype startOptionsEnd(QStringView p)
{
    qsizetype i = 0;
    while (p.sliced(i).startsWith(u"(*")) {
        const qsizetype close = p.indexOf(u')', i);
        if (close < 0 || !isStartOption(p.sliced(i + 2, close - i - 2)))
            break;
        i = close + 1;
    }
    return i;
}

// The engine counts its steps afresh at every start position, so a limit alone lets a line of n
// characters cost n times the limit. Searching from one start position, with a lazy skip in front
// of the pattern, puts the whole search under one count. That changes nothing a pattern can see,
// except for the backtracking verbs (they would act on the one start position) and for
// recursion into the whole pattern, and for a start option that refuses an empty match (the skip
// would make any match long enough); those keep the engine's own start positions.
bool canSearchAsAWhole(const QString &startOptions, const QString &rest)
{
    if (startOptions.contains(u"(*NOTEMPTY"))
        return false;
    for (QStringView s : {u"(*", u"(?R", u"(?0", u"(?+0", u"(?-0", u"\\g<", u"\\g'"}) {
        if (rest.contains(s))
            return false;
    }
    return true;
}

} // namespace

Expression::Expression(const QString &pattern)
{
    const QRegularExpression plain(pattern, kOptions);
    if (!plain.isValid()) {
        m_error = plain.errorString();
        m_errorOffset = plain.patternErrorOffset();
        return;
    }
    m_valid = true;
    // The interpreter, not the compiled form: it counts every step, backtracking into a single
    // repeated character included, where compiled code would run on uncounted.
    auto limits
        = [](int steps) { return u"(*NO_JIT)(*LIMIT_MATCH=%1)(*LIMIT_HEAP=%2)"_s.arg(steps).arg(kHeapLimitKiB); };
    const qsizetype k = startOptionsEnd(pattern);
    const QString rest = pattern.sliced(k);
    auto atEveryLevel = [&](const QString &body) {
        for (size_t level = 0; level < kStepLevels.size(); ++level)
            m_re[level] = QRegularExpression(pattern.left(k) + limits(kStepLevels[level]) + body, kOptions);
        return m_re[0].isValid();
    };
    if (canSearchAsAWhole(pattern.left(k), rest)) {
        // "\E" closes a quotation the pattern leaves open; elsewhere it is ignored.
        if (atEveryLevel(u"\\A(?s:.*?)(?:"_s + rest + u"\\E)"_s)) {
            m_whole = true;
            return;
        }
    }
    if (!atEveryLevel(rest))
        m_re.fill(plain);
}

Outcome Expression::search(QStringView target, int level) const
{
    if (!m_valid)
        return Outcome::NotFound;
    const QRegularExpressionMatch m = m_re[size_t(std::clamp(level, 0, kLastLevel))].match(target);
    if (m.hasMatch())
        return Outcome::Found;
    // A match object is invalid when the engine ended with an error instead of an answer.
    return m.isValid() ? Outcome::NotFound : Outcome::GaveUp;
}

bool isWellFormed(QStringView text)
{
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (!c.isSurrogate())
            continue;
        if (!c.isHighSurrogate() || i + 1 >= n || !text[i + 1].isLowSurrogate())
            return false;
        ++i;
    }
    return true;
}

QString wellFormed(QStringView text)
{
    QString out = text.toString();
    const qsizetype n = out.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = out[i];
        if (!c.isSurrogate())
            continue;
        if (c.isHighSurrogate() && i + 1 < n && out[i + 1].isLowSurrogate())
            ++i;
        else
            out[i] = QChar::ReplacementCharacter;
    }
    return out;
}

Outcome search(const QString &pattern, QStringView target)
{
    // The cache never changes an answer: a pattern compiles to the same expression every time.
    static QHash<QString, Expression> cache;
    auto it = cache.constFind(pattern);
    if (it == cache.constEnd()) {
        if (cache.size() > 4096)
            cache.clear();
        it = cache.insert(pattern, Expression(pattern));
    }
    return isWellFormed(target) ? it->search(target) : it->search(wellFormed(target));
}

bool RegexMatch(QStringView patternText, QStringView target)
{
    const qsizetype first = patternText.indexOf(u'/');
    const qsizetype last = patternText.lastIndexOf(u'/');
    if (first < 0 || last <= first)
        return false;
    // The flags g, i and k need nothing here: the search looks anywhere, always ignores case, and
    // a double-byte character is one character in Unicode text.
    return search(patternText.sliced(first + 1, last - first - 1).toString(), target) == Outcome::Found;
}

} // namespace bregexp
