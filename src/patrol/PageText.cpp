#include "patrol/PageText.h"

#include <algorithm>

namespace PageText {

QList<QStringView> cut(QStringView text)
{
    QList<QStringView> pieces;
    if (text.isEmpty())
        return pieces;
    qsizetype begin = 0;
    for (qsizetype at = text.indexOf(u'\r'); at >= 0; at = text.indexOf(u'\r', at + 1)) {
        if (at + 1 < text.size() && text[at + 1] == u'\n') {
            pieces.append(text.sliced(begin, at - begin));
            begin = at + 2;
        }
    }
    pieces.append(text.sliced(begin));
    return pieces;
}

QStringView trimSpaces(QStringView piece)
{
    qsizetype begin = 0;
    qsizetype end = piece.size();
    while (begin < end && piece[begin] == u' ')
        ++begin;
    while (end > begin && piece[end - 1] == u' ')
        --end;
    return piece.sliced(begin, end - begin);
}

QString entry(bool newHit, int index, QStringView line)
{
    // Written in place: every line of a page passes here.
    char16_t digits[10];
    int count = 0;
    for (unsigned rest = unsigned(std::max(index, 0)); count < 3 || rest > 0; rest /= 10)
        digits[count++] = char16_t(u'0' + rest % 10);
    QString row(1 + count + 1 + line.size(), Qt::Uninitialized);
    QChar *out = row.data();
    *out++ = newHit ? u'\u25CF' : u'\u3000';
    while (count > 0)
        *out++ = digits[--count];
    *out++ = u':';
    std::copy(line.begin(), line.end(), out);
    return row;
}

QString lineOf(QStringView entry)
{
    const qsizetype colon = entry.indexOf(u':', 1);
    return colon < 0 ? QString() : entry.sliced(colon + 1).toString();
}

} // namespace PageText
