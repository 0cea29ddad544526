#pragma once

#include "patrol/LiteralGate.h"
#include "patrol/bregexp.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <chrono>
#include <optional>
#include <vector>

// The grammar of search conditions: terms separated by half-width spaces, all of which must pass;
// a leading "-" negates a term; "@" as the first piece makes the condition serve link following
// only. Everything inside a term is regular-expression syntax.
namespace Conditions {

enum Mode : quint8 { LinkMode = 0, PageMode = 1 };

struct Term
{
    QString pattern;
    // Where the pattern starts in the condition's text.
    qsizetype offset = 0;
    bool negative = false;
    // Any-of literals that every match of the pattern contains (see requiredLiterals()); empty
    // when nothing can be said. A line without any of them cannot match, so the search is skipped.
    QStringList gate;
};

struct Condition
{
    bool linkOnly = false;
    std::vector<Term> terms; // the evaluated terms, in order
};

Condition parse(const QString &text);

// A pattern of a condition that the engine refuses: its reason, and the UTF-16 offset in the
// condition's text where it found the fault.
struct PatternError
{
    QString reason;
    qsizetype offset = 0;
};

// Search time one condition may take on one line; a search under way is not cut short.
inline constexpr std::chrono::milliseconds kConditionBudget {100};
// Search time one line may take over all conditions before the rest are left unsearched.
inline constexpr std::chrono::milliseconds kLineBudget {3000};

struct Budgets
{
    std::chrono::nanoseconds condition = kConditionBudget;
    std::chrono::nanoseconds line = kLineBudget;
};

// The conditions of the condition list, prepared for testing many lines: the literals of all
// terms are looked for in one pass over the line, so that a condition none of whose literals
// occur costs nothing.
//
// A search that gives up is an error of that condition on that line: the condition does not hit,
// whatever its term's sign, and the error is counted and told once per condition on standard
// error. Every condition has a bound of its own, so that a costly one cannot leave the others
// unheard: each search is held to the engine's step limit, and the searches of one condition on
// one line to kConditionBudget. The line as a whole has a last bound, far beyond what the
// conditions need within theirs; the conditions it leaves unsearched are errors too, counted apart.
class ConditionSet
{
public:
    ConditionSet() = default;
    // Position i of the list is condition i; empty entries are no condition.
    explicit ConditionSet(const QStringList &conditions, Budgets budgets = {});

    // Whether the line hits one of the conditions that the mode admits; an empty line hits none.
    // Without hitPositions the first hit decides and the rest are not tried; with it, every
    // condition the mode admits is tried and the positions of those that hit are appended.
    bool match(QStringView line, quint8 mode, QList<int> *hitPositions = nullptr) const;

    // (condition, line) pairs whose answer was an error rather than hit or miss.
    quint64 errorCount() const { return m_errors; }
    // Errors are counted but not told: the set is not the patrol's.
    void keepQuiet() { m_quiet = true; }

    // How a condition of the set fares: whether the engine refuses one of its patterns, and the
    // lines it could not answer so far.
    struct Standing
    {
        int position = 0;
        QString text;
        std::optional<PatternError> error;
        quint64 gaveUp = 0; // its own search or its own budget ran out
        quint64 crowdedOut = 0; // the line's time was spent before its turn
    };
    std::vector<Standing> standings() const;

private:
    enum class Answer { Miss, Hit, GaveUp, CrowdedOut };
    struct Prepared
    {
        int position = 0;
        QString text;
        Condition condition;
        std::vector<bregexp::Expression> expressions;
        std::vector<std::vector<int>> gates; // per term: ids of its literals, empty when ungated
        mutable quint64 gaveUp = 0;
        mutable quint64 crowdedOut = 0;
    };
    class Clock;

    Answer evaluate(const Prepared &p, QStringView line, Clock &clock) const;
    bool gateOpen(const std::vector<int> &ids) const;
    void markLiterals(QStringView line) const;
    void countError(const Prepared &p, Answer a) const;

    std::vector<Prepared> m_conditions;
    QStringList m_literals;
    // Literal ids by the low bits of the first code unit they start with.
    static constexpr char16_t kBucketMask = 0xFFF;
    std::vector<std::vector<int>> m_byFirst;
    std::vector<int> m_bucketOf; // kBucketMask + 1 entries, -1 where no literal starts
    mutable std::vector<quint32> m_seen; // per literal: the line number it was last found on
    mutable quint32 m_lineNumber = 0;
    mutable quint64 m_errors = 0;
    bool m_quiet = false;
    Budgets m_budgets;
};

} // namespace Conditions
