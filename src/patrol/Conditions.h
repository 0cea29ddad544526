#pragma once

#include "patrol/LiteralGate.h"
#include "patrol/bregexp.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <chrono>
#include <vector>

// The grammar of search conditions: terms separated by half-width spaces, all of which must pass;
// a leading "-" negates a term; "@" as the first piece makes the condition serve link following
// only. Everything inside a term is regular-expression syntax.
namespace Conditions {

enum Mode : quint8 { LinkMode = 0, PageMode = 1 };

struct Term
{
    QString pattern;
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

// The conditions of the condition list, prepared for testing many lines: the literals of all
// terms are looked for in one pass over the line, so that a condition none of whose literals
// occur costs nothing.
//
// A search that gives up (it ran out of its steps, or the line ran out of its time) is an error
// of that condition on that line: the condition does not hit, whatever its term's sign, and the
// error is counted and told once per condition on standard error.
class ConditionSet
{
public:
    // Search time one line may take over all conditions before the rest give up.
    static constexpr std::chrono::milliseconds kLineBudget {1000};

    ConditionSet() = default;
    // Position i of the list is condition i; empty entries are no condition.
    explicit ConditionSet(const QStringList &conditions, std::chrono::nanoseconds lineBudget = kLineBudget);

    // Whether the line hits one of the conditions that the mode admits; an empty line hits none.
    bool match(QStringView line, quint8 mode) const;

    // (condition, line) pairs whose answer was an error rather than hit or miss.
    quint64 errorCount() const { return m_errors; }

private:
    enum class Answer { Miss, Hit, Error };
    struct Prepared
    {
        int position = 0;
        QString text;
        Condition condition;
        std::vector<bregexp::Expression> expressions;
        std::vector<std::vector<int>> gates; // per term: ids of its literals, empty when ungated
        mutable bool told = false;
    };
    class Clock;

    Answer evaluate(const Prepared &p, QStringView line, Clock &clock) const;
    bool gateOpen(const std::vector<int> &ids) const;
    void markLiterals(QStringView line) const;
    void countError(const Prepared &p) const;

    std::vector<Prepared> m_conditions;
    QStringList m_literals;
    // Literal ids by the low bits of the first code unit they start with.
    static constexpr char16_t kBucketMask = 0xFFF;
    std::vector<std::vector<int>> m_byFirst;
    std::vector<int> m_bucketOf; // kBucketMask + 1 entries, -1 where no literal starts
    mutable std::vector<quint32> m_seen; // per literal: the line number it was last found on
    mutable quint32 m_lineNumber = 0;
    mutable quint64 m_errors = 0;
    std::chrono::nanoseconds m_lineBudget {kLineBudget};
};

} // namespace Conditions
