#include "patrol/bregexp.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <QHash>
#include <QStringList>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace bregexp {

struct Expression::Code
{
    pcre2_code *code = nullptr;
    // The deadline is looked at by callouts: one at each start position, or, for a pattern that
    // takes none in front, one before every item, which is looked at less often.
    bool everyItem = false;

    ~Code() { pcre2_code_free(code); }
};

namespace {

constexpr uint32_t kOptions = PCRE2_UTF | PCRE2_CASELESS;

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

// Where the pattern's own start options end: the callout goes after them.
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

// Several of the engine's errors are one fault to the user: a "(" left open, whether a group or a
// comment or a condition.
Fault faultOf(int error)
{
    switch (error) {
    case PCRE2_ERROR_MISSING_CLOSING_PARENTHESIS:
    case PCRE2_ERROR_MISSING_COMMENT_CLOSING:
    case PCRE2_ERROR_MISSING_CONDITION_CLOSING:
        return Fault::MissingParenthesis;
    case PCRE2_ERROR_MISSING_SQUARE_BRACKET:
        return Fault::MissingBracket;
    case PCRE2_ERROR_UNMATCHED_CLOSING_PARENTHESIS:
        return Fault::UnmatchedParenthesis;
    case PCRE2_ERROR_QUANTIFIER_INVALID:
        return Fault::NothingToRepeat;
    case PCRE2_ERROR_END_BACKSLASH:
        return Fault::TrailingBackslash;
    case PCRE2_ERROR_UNKNOWN_ESCAPE:
    case PCRE2_ERROR_ESCAPE_INVALID_IN_CLASS:
    case PCRE2_ERROR_UNSUPPORTED_ESCAPE_SEQUENCE:
    case PCRE2_ERROR_BACKSLASH_O_MISSING_BRACE:
    case PCRE2_ERROR_BACKSLASH_G_SYNTAX:
    case PCRE2_ERROR_BACKSLASH_K_SYNTAX:
    case PCRE2_ERROR_INVALID_OCTAL:
    case PCRE2_ERROR_INVALID_HEXADECIMAL:
    case PCRE2_ERROR_MISSING_OCTAL_OR_HEX_DIGITS:
        return Fault::BadEscape;
    case PCRE2_ERROR_CLASS_RANGE_ORDER:
    case PCRE2_ERROR_CLASS_INVALID_RANGE:
        return Fault::BadRange;
    case PCRE2_ERROR_LOOKBEHIND_NOT_FIXED_LENGTH:
        return Fault::LookbehindLength;
    case PCRE2_ERROR_QUANTIFIER_OUT_OF_ORDER:
    case PCRE2_ERROR_QUANTIFIER_TOO_BIG:
        return Fault::BadCount;
    case PCRE2_ERROR_INVALID_AFTER_PARENS_QUERY:
    case PCRE2_ERROR_UNRECOGNIZED_AFTER_QUERY_P:
    case PCRE2_ERROR_INVALID_HYPHEN_IN_OPTIONS:
        return Fault::UnknownGroup;
    case PCRE2_ERROR_PATTERN_TOO_LARGE:
    case PCRE2_ERROR_PATTERN_TOO_COMPLICATED:
    case PCRE2_ERROR_PATTERN_STRING_TOO_LONG:
        return Fault::TooLarge;
    default:
        return Fault::Other;
    }
}

pcre2_code *compile(QStringView pattern, uint32_t options, int *error, PCRE2_SIZE *offset)
{
    return pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.utf16()), PCRE2_SIZE(pattern.size()), kOptions | options,
        error, offset, nullptr);
}

struct Watch
{
    Clock::time_point deadline;
    unsigned every = 1;
    unsigned count = 0;
    bool late = false;
};

int onCallout(pcre2_callout_block *, void *data)
{
    auto *w = static_cast<Watch *>(data);
    if (++w->count % w->every != 0 || Clock::now() < w->deadline)
        return 0;
    w->late = true;
    return PCRE2_ERROR_CALLOUT;
}

// Reused by every search of the thread: the engine keeps its backtracking frames in the match
// data, which then need not be allocated anew.
struct Context
{
    pcre2_match_context *match = pcre2_match_context_create(nullptr);
    pcre2_match_data *data = pcre2_match_data_create(1, nullptr);

    Context() = default;
    Context(const Context &) = delete;
    Context &operator=(const Context &) = delete;
    ~Context()
    {
        pcre2_match_data_free(data);
        pcre2_match_context_free(match);
    }
};

} // namespace

Expression::Expression(const QString &pattern)
{
    int error = 0;
    PCRE2_SIZE offset = 0;
    pcre2_code *plain = compile(pattern, 0, &error, &offset);
    if (!plain) {
        char16_t text[256] = {};
        const int n = pcre2_get_error_message(error, reinterpret_cast<PCRE2_UCHAR *>(text), std::size(text));
        m_error = n > 0 ? QString::fromUtf16(text, n) : u"error %1"_s.arg(error);
        m_errorOffset = qsizetype(offset);
        m_fault = faultOf(error);
        return;
    }
    // A callout in front of the pattern runs at every start position the engine tries, past its
    // own start options; it changes nothing the pattern can see.
    const qsizetype k = startOptionsEnd(pattern);
    const QString watched = pattern.left(k) + u"(?C)"_s + pattern.sliced(k);
    auto code = std::make_shared<Code>();
    code->code = compile(watched, 0, &error, &offset);
    if (!code->code) {
        code->code = compile(pattern, PCRE2_AUTO_CALLOUT, &error, &offset);
        code->everyItem = true;
    }
    if (code->code)
        pcre2_code_free(plain);
    else
        code->code = plain; // still held to its steps at each start position
    m_code = std::move(code);
}

Outcome Expression::search(QStringView target, int level, Clock::time_point deadline) const
{
    if (!m_code)
        return Outcome::NotFound;
    level = std::clamp(level, 0, kLastLevel);
    if (deadline == Clock::time_point {})
        deadline = Clock::now() + kSearchTimeLimit;
    thread_local Context context;
    Watch watch;
    watch.deadline = deadline;
    // One start position costs at most the steps of the level: the clock is read more often as
    // that grows, so that a search ends within about a tenth of a second of its deadline.
    watch.every = m_code->everyItem ? 1024u : std::max(1u, 16u >> unsigned(level));
    pcre2_set_match_limit(context.match, uint32_t(kStepLevels[size_t(level)]));
    pcre2_set_depth_limit(context.match, uint32_t(kStepLimit));
    pcre2_set_heap_limit(context.match, uint32_t(kHeapLimitKiB));
    pcre2_set_callout(context.match, onCallout, &watch);
    const int rc = pcre2_match(m_code->code, reinterpret_cast<PCRE2_SPTR>(target.utf16()), PCRE2_SIZE(target.size()), 0,
        PCRE2_NO_UTF_CHECK, context.data, context.match);
    pcre2_set_callout(context.match, nullptr, nullptr);
    if (rc >= 0)
        return Outcome::Found;
    if (rc == PCRE2_ERROR_NOMATCH)
        return Outcome::NotFound;
    return watch.late ? Outcome::TimedOut : Outcome::GaveUp;
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
