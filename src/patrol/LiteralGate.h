#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <array>

// The literal pre-test of a term: text that every match of its pattern must contain, so that a
// line without it need not be searched. A skipped search is a hit nobody ever learns of, so the
// pattern is read by a small model of the engine's syntax, and any construct outside the model
// means no pre-test at all.
namespace Conditions {

// Any-of literals, case-folded by foldCase(), one of which every match of the pattern contains;
// empty when nothing can be said.
QStringList requiredLiterals(const QString &pattern);

// Case folding, code point by code point, coarse enough that two characters the engine matches
// without regard to case always fold alike.
QString foldCase(QStringView text);
char32_t foldCase(char32_t c);
// The fold of every BMP character that folds within the BMP, and 0 for the rest (surrogates
// among them).
const std::array<char16_t, 0x10000> &bmpFolds();

} // namespace Conditions
