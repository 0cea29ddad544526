#pragma once

#include "patrol/LiteralGate.h"
#include "patrol/LiteralScan.h"
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

// A pattern of a condition that the engine refuses: the engine's reason, the UTF-16 offset in the
// condition's text where it found the fault, and the kind of fault.
struct PatternError
{
    QString reason;
    qsizetype offset = 0;
    bregexp::Fault fault = bregexp::Fault::Other;
};

// Search time one condition may take on one line.
inline constexpr std::chrono::milliseconds kConditionBudget {100};
// Search time one line may take over all conditions before the rest are left unsearched.
inline constexpr std::chrono::milliseconds kLineBudget {1000};
// Search time a condition takes on a line in the first round, where every condition has its turn
// before any has more.
inline constexpr std::chrono::milliseconds kFirstRoundBudget {2};

struct Budgets
{
    std::chrono::nanoseconds condition = kConditionBudget;
    std::chrono::nanoseconds line = kLineBudget;
};

// The conditions of the condition list, prepared for testing many lines: the literals of all
// terms are looked for in one pass over the line, and only the conditions whose literals occur
// are tried, so that a condition none of whose literals occur costs nothing.
//
// A search that gives up is an error of that condition on that line: the condition does not hit,
// whatever its term's sign, and the error is counted and told once per condition on standard
// error. Every condition has a bound of its own, so that a costly one cannot leave the others
// unheard: the conditions are tried in two rounds, the first with searches of the lowest step
// level and kFirstRoundBudget each; the second, for those the first left open, repeats a search
// that runs out of steps at the next level, while the condition's kConditionBudget lasts. The line
// as a whole has a last bound, beyond what the first round can take; the conditions it leaves
// unsearched are errors too, counted apart. A search under way ends at its bound, whatever the
// pattern.
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
    enum class Answer { Miss, Hit, Open, GaveUp, CrowdedOut };
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
    // Where a condition stands on the line being tested.
    struct Progress
    {
        size_t condition = 0;
        size_t term = 0; // the next term to test
        int level = 0; // the step level of its next search
        bool firstRound = true;
        qint64 start = -1; // on the line's clock: when its searches of this round began
        qint64 before = 0; // its search time in the first round
    };

    Answer evaluate(const Prepared &p, QStringView line, Clock &clock, Progress &progress) const;
    bool gateOpen(const std::vector<int> &ids) const;
    // The conditions worth trying on the line, in list order, into m_candidates; answers whether
    // the line holds no lone surrogate.
    bool findCandidates(QStringView line) const;
    void countError(const Prepared &p, Answer a) const;

    std::vector<Prepared> m_conditions;
    LiteralScan m_scan;
    // By literal: the conditions that cannot hit unless it occurs.
    std::vector<std::vector<int>> m_triggers;
    std::vector<int> m_ungated; // conditions to try on every line
    mutable std::vector<quint32> m_seen; // per literal: the line number it was last found on
    mutable std::vector<quint32> m_tried; // per condition: the line number it was last a candidate on
    mutable std::vector<int> m_found;
    mutable std::vector<int> m_candidates;
    mutable std::vector<Progress> m_open;
    mutable quint32 m_lineNumber = 0;
    mutable quint64 m_errors = 0;
    bool m_quiet = false;
    Budgets m_budgets;
};

} // namespace Conditions
