#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

// The plain text work of a page check: cutting the body into lines and listing them.
namespace PageText {

// The pieces between CR LF pairs, empty ones included. Only the pieces before the last CR LF are
// lines: the text after it may still be growing.
QStringList cut(const QString &text);

// Leading and trailing U+0020 removed; tabs and ideographic spaces stay. A piece without them is
// shared, not copied: every line of a page passes here.
QString trimSpaces(const QString &piece);

// Walks the lines that a page check examines, in page order: every piece but the last, trimmed,
// empty ones left out. f(index, line) answers whether to go on; the walk answers whether it
// reached the end.
template<typename F> bool forEachLine(const QStringList &pieces, F &&f)
{
    for (qsizetype i = 0; i + 1 < pieces.size(); ++i) {
        const QString line = trimSpaces(pieces[i]);
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
