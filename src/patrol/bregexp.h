#pragma once

#include <QRegularExpression>
#include <QString>
#include <QStringView>

#include <array>

// One regular-expression test on a delimited pattern text "/pattern/flags".
namespace bregexp {

enum class Outcome { NotFound, Found, GaveUp };

// Steps the engine may take in one search, all start positions together: about a tenth of a
// second for most patterns, and enough for a cheap pattern over a line of a megabyte.
inline constexpr int kStepLimit = 10'000'000;
// A search may also be made with fewer steps, so that a costly pattern is found out before it has
// cost much: level 0 is enough for a cheap pattern over an ordinary line, each level allows about
// three times the steps of the one before, the last allows kStepLimit. A step costs more the more
// groups a pattern captures, up to some ten times as much.
inline constexpr std::array<int, 6> kStepLevels {30'000, 100'000, 300'000, 1'000'000, 3'000'000, kStepLimit};
inline constexpr int kLastLevel = int(kStepLevels.size()) - 1;
// Memory for the search's backtracking, in KiB.
inline constexpr int kHeapLimitKiB = 64 * 1024;

// A pattern prepared for many searches, letter case ignored. A pattern the engine refuses is
// never found. A search that runs out of its steps or memory gives up instead of answering.
class Expression
{
public:
    Expression() = default;
    explicit Expression(const QString &pattern);

    bool isValid() const { return m_valid; }
    // Why the engine refuses the pattern, and where in it (a UTF-16 offset); empty when it does not.
    const QString &errorString() const { return m_error; }
    qsizetype errorOffset() const { return m_errorOffset; }
    // Whether the whole search, not each start position alone, is held to kStepLimit.
    bool boundedAsAWhole() const { return m_whole; }

    // The target must be well-formed UTF-16 (see wellFormed()): the engine refuses other text.
    // The search is held to the steps of the level.
    Outcome search(QStringView target, int level = kLastLevel) const;

private:
    // By level; the engine compiles each at its first search.
    std::array<QRegularExpression, kStepLevels.size()> m_re;
    QString m_error;
    qsizetype m_errorOffset = -1;
    bool m_valid = false;
    bool m_whole = false;
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
