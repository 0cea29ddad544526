#pragma once

#include "patrol/Conditions.h"

#include <QHash>
#include <QRegularExpression>
#include <QStringList>

#include <optional>

// The condition grammar evaluated the plain way, for the tests and the differential fuzz target:
// split at U+0020, "@" and "-" as the grammar says, each term one case-insensitive search with
// neither pre-test nor limits of ours, a pattern the engine refuses never found. The search runs
// in the engine's interpreter, as the matcher's does: its compiled form disagrees with it on rare
// patterns, and the interpreter is the one that is right.
class PlainConditions
{
public:
    enum class Answer { Miss, Hit, Unknown };

    // Empty when the engine itself gave up on the search.
    std::optional<bool> found(const QString &pattern, const QString &line)
    {
        auto it = m_compiled.constFind(pattern);
        if (it == m_compiled.constEnd())
            it = m_compiled.insert(pattern, compile(pattern));
        if (!it->isValid())
            return false;
        const QRegularExpressionMatch m = it->match(line);
        if (!m.isValid())
            return std::nullopt;
        return m.hasMatch();
    }

    // Unknown when the engine gave up on a term the answer depends on.
    Answer hits(const QStringList &conditions, const QString &line, quint8 mode)
    {
        if (line.isEmpty())
            return Answer::Miss;
        for (const QString &text : conditions) {
            const QStringList pieces = text.split(u' ');
            if (pieces.front() == u"@" && mode == Conditions::PageMode)
                continue;
            int evaluated = 0;
            bool all = true;
            for (const QString &piece : pieces) {
                if (piece.isEmpty() || piece == u"@")
                    continue;
                ++evaluated;
                const bool negative = piece.front() == u'-';
                const std::optional<bool> f = found(negative ? piece.mid(1) : piece, line);
                if (!f)
                    return Answer::Unknown;
                if (*f == negative) {
                    all = false;
                    break;
                }
            }
            if (all && evaluated > 0)
                return Answer::Hit;
        }
        return Answer::Miss;
    }

private:
    // A start option may stand before the pattern's own: the engine takes them in any order.
    static QRegularExpression compile(const QString &pattern)
    {
        const QRegularExpression plain(pattern, QRegularExpression::CaseInsensitiveOption);
        const QRegularExpression interpreted(
            QStringLiteral("(*NO_JIT)") + pattern, QRegularExpression::CaseInsensitiveOption);
        return plain.isValid() && interpreted.isValid() ? interpreted : plain;
    }

    QHash<QString, QRegularExpression> m_compiled;
};
