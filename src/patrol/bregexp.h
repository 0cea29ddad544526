#pragma once

#include <QString>
#include <QStringView>

// One regular-expression test on a delimited pattern text "/pattern/flags".
namespace bregexp {

// True when the pattern is found anywhere in the target, letter case ignored. The pattern is
// everything between the first and the last "/". A pattern that cannot be compiled, or whose
// search runs out of its step budget (runaway backtracking), is no match.
bool RegexMatch(QStringView patternText, QStringView target);

// The same for a bare pattern, without delimiters.
bool search(const QString &pattern, QStringView target);

} // namespace bregexp
