#pragma once

#include <QHash>
#include <QStringList>
#include <QStringView>

#include <vector>

class TestConditions;

namespace Conditions {

// Which of many literals occur in a text, letter case ignored as foldCase() ignores it, found in
// one pass over the text however many literals there are (an Aho–Corasick automaton over UTF-16
// code units, the text folded on the way).
//
// The automaton's table is kept within kMaxCells: past that, literals are looked for by their
// first code units only, and at worst every literal counts as found. A scan may thus report a
// literal that is absent, never miss one that is present.
class LiteralScan
{
public:
    LiteralScan() = default;
    // The literals, folded by foldCase(); a literal's id is its position in the list.
    explicit LiteralScan(const QStringList &literals);

    // Appends the ids of the literals that occur in the text, an id possibly more than once.
    // A lone surrogate reads as U+FFFD, as in wellFormed(); the answer is whether there was none.
    bool scan(QStringView text, std::vector<int> &found) const;

    static constexpr qsizetype kMaxCells = 1 << 20;

private:
    // Its test looks at m_reach: how many code units of each literal are looked for, 0 when
    // every literal counts as found.
    friend class ::TestConditions;

    void report(quint32 state, std::vector<int> &found) const;
    quint32 step(quint32 state, char16_t foldedUnit) const;

    int m_literalCount = 0;
    qsizetype m_reach = 0;
    quint32 m_classes = 1; // class 0: units in no literal
    // By code unit of the text: the class of its fold, or kSlow where the unit needs decoding.
    std::vector<quint16> m_classOfUnit;
    QHash<char16_t, quint16> m_classOfFolded; // for units reached by decoding
    std::vector<quint32> m_next; // state * m_classes + class -> state
    std::vector<quint8> m_reports; // by state: whether a literal ends here or on its suffix chain
    std::vector<quint32> m_endsFrom; // by state, one more: where its ids in m_endIds begin
    std::vector<int> m_endIds; // ids of the literals ending exactly at each state
    std::vector<qint32> m_suffix; // by state: the next state on its suffix chain where a literal ends
    static constexpr quint16 kSlow = 0xFFFF;
};

} // namespace Conditions
