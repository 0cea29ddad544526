#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

// The plain text work of a page check: cutting the body into lines and listing them.
namespace PageText {

// The pieces between CR LF pairs, empty ones included. Only the pieces before the last CR LF are
// lines: the text after it may still be growing.
QStringList cut(const QString &text);

// Leading and trailing U+0020 removed; tabs and ideographic spaces stay.
QString trimSpaces(QStringView piece);

// The row of the extracted-line list: "●" for a new hit or an ideographic space, the index as
// "000:", then the line.
QString entry(bool newHit, int index, QStringView line);

} // namespace PageText
