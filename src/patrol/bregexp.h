#pragma once

#include <QString>
#include <QStringView>

#include <array>
#include <chrono>
#include <memory>

// One regular-expression test on a delimited pattern text "/pattern/flags".
namespace bregexp {

enum class Outcome {
    NotFound,
    Found,
    GaveUp, // the engine ran out of its steps or memory at one start position
    TimedOut, // the search reached its deadline between start positions
};

// Steps the engine may take at one start position: about a tenth of a second for most patterns.
inline constexpr int kStepLimit = 10'000'000;
// A search may also be made with fewer steps, so that a costly pattern is found out before it has
// cost much: level 0 is enough for a cheap pattern at an ordinary start position, each level allows
// about three times the steps of the one before, the last allows kStepLimit. A step costs more the
// more groups a pattern captures, up to some ten times as much.
inline constexpr std::array<int, 6> kStepLevels {30'000, 100'000, 300'000, 1'000'000, 3'000'000, kStepLimit};
inline constexpr int kLastLevel = int(kStepLevels.size()) - 1;
// Memory for the search's backtracking, in KiB.
inline constexpr int kHeapLimitKiB = 64 * 1024;
// A search that is given no deadline of its own ends after this long.
inline constexpr std::chrono::milliseconds kSearchTimeLimit {1000};

using Clock = std::chrono::steady_clock;

// The kinds of fault in a pattern that users meet, so that they can be told in their words; any
// other fault is Other and keeps the engine's own text.
enum class Fault {
    None,
    Other,
    MissingParenthesis,
    MissingBracket,
    UnmatchedParenthesis,
    NothingToRepeat,
    TrailingBackslash,
    BadEscape,
    BadRange,
    LookbehindLength,
    BadCount,
    UnknownGroup,
    TooLarge,
};

// A pattern prepared for many searches, letter case ignored. A pattern the engine refuses is
// never found. The limits are the engine's own, set for every search whatever the pattern says:
// the steps of the level at each start position, the depth and the memory of the backtracking,
// and the deadline, checked at every start position the engine tries.
class Expression
{
public:
    Expression() = default;
    explicit Expression(const QString &pattern);

    bool isValid() const { return bool(m_code); }
    // Why the engine refuses the pattern, and where in it (a UTF-16 offset); empty when it does not.
    const QString &errorString() const { return m_error; }
    qsizetype errorOffset() const { return m_errorOffset; }
    Fault fault() const { return m_fault; }

    // The target must be well-formed UTF-16 (see wellFormed()): the engine refuses other text.
    Outcome search(QStringView target, int level = kLastLevel, Clock::time_point deadline = {}) const;

private:
    struct Code;
    std::shared_ptr<const Code> m_code;
    QString m_error;
    qsizetype m_errorOffset = -1;
    Fault m_fault = Fault::None;
};

// The text with every lone surrogate replaced by U+FFFD.
QString wellFormed(QStringView text);
bool isWellFormed(QStringView text);

// True when the pattern is found anywhere in the target, letter case ignored. The pattern is
// everything between the first and the last "/". A pattern that cannot be compiled, or whose
// search gives up, is no match.
bool RegexMatch(QStringView patternText, QStringView target);

// The same for a bare pattern, without delimiters, telling a search that gave up apart.
Outcome search(const QString &pattern, QStringView target);

} // namespace bregexp
