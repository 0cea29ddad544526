#pragma once

#include <QList>
#include <QString>
#include <QStringView>

// The plain text work of a page check: cutting the body into lines and listing them.
namespace PageText {

// The pieces between CR LF pairs, empty ones included, as views into the text, which must
// outlive them: a page of many thousand lines is cut without a copy of any of them. Only the
// pieces before the last CR LF are lines: the text after it may still be growing.
QList<QStringView> cut(QStringView text);

// Leading and trailing U+0020 removed; tabs and ideographic spaces stay.
QStringView trimSpaces(QStringView piece);

// Walks the lines that a page check examines, in page order: every piece but the last, trimmed,
// empty ones left out. f(index, line) answers whether to go on; the walk answers whether it
// reached the end.
template<typename F> bool forEachLine(const QList<QStringView> &pieces, F &&f)
{
    for (qsizetype i = 0; i + 1 < pieces.size(); ++i) {
        const QStringView line = trimSpaces(pieces[i]);
        if (line.isEmpty())
            continue;
        if (!f(int(i), line))
            return false;
    }
    return true;
}

// The row of the extracted-line list: "●" for a new hit or an ideographic space, the index as
// "000:", then the line.
QString entry(bool newHit, int index, QStringView line);
// The line of such a row.
QString lineOf(QStringView entry);

} // namespace PageText
