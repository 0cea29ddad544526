#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <memory>
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
    // Any-of literals that every match of the pattern contains (letter case folded); empty when
    // nothing can be said. A line without any of them cannot match, so the search is skipped.
    QStringList gate;
};

struct Condition
{
    bool linkOnly = false;
    std::vector<Term> terms; // the evaluated terms, in order
};

Condition parse(const QString &text);

// The literals every match of a pattern must contain; empty when the pattern is too clever.
QStringList requiredLiterals(const QString &pattern);

// Whether the condition admits the line; foldedLine is line.toCaseFolded().
bool hits(const Condition &c, QStringView line, QStringView foldedLine, quint8 mode);

// The first hitting condition decides; an empty line hits nothing.
bool matchAny(const QStringList &conditions, QStringView line, quint8 mode);

// A list of conditions prepared for testing many lines: the literals of all terms are looked for
// in one pass over the line, so that a condition none of whose literals occur costs nothing.
// The answers are those of hits() over the conditions in order.
class ConditionSet
{
public:
    ConditionSet() = default;
    explicit ConditionSet(const QStringList &conditions);

    bool match(QStringView line, quint8 mode) const;

private:
    struct Prepared
    {
        Condition condition;
        std::vector<std::vector<int>> gates; // per term: ids of its literals, empty when ungated
    };
    bool passes(const Prepared &p, size_t term, QStringView line) const;
    bool gateOpen(const std::vector<int> &ids) const;

    std::vector<Prepared> m_conditions;
    QStringList m_literals;
    // Literal ids by the first code unit they start with.
    std::vector<std::vector<int>> m_byFirst;
    std::vector<int> m_bucketOf; // 65536 entries, -1 where no literal starts
    mutable std::vector<quint32> m_seen; // per literal: the line number it was last found on
    mutable quint32 m_lineNumber = 0;
};

} // namespace Conditions
