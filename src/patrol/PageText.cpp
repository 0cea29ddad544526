#include "patrol/PageText.h"

using namespace Qt::StringLiterals;

namespace PageText {

QStringList cut(const QString &text)
{
    if (text.isEmpty())
        return {};
    return text.split(u"\r\n"_s);
}

QString trimSpaces(const QString &piece)
{
    qsizetype begin = 0;
    qsizetype end = piece.size();
    while (begin < end && piece[begin] == u' ')
        ++begin;
    while (end > begin && piece[end - 1] == u' ')
        --end;
    if (begin == 0 && end == piece.size())
        return piece;
    return piece.sliced(begin, end - begin);
}

QString entry(bool newHit, int index, QStringView line)
{
    QString row;
    row.reserve(line.size() + 6);
    row.append(newHit ? u'\u25CF' : u'\u3000');
    row.append(QString::number(index).rightJustified(3, u'0'));
    row.append(u':');
    row.append(line);
    return row;
}

QString lineOf(QStringView entry)
{
    const qsizetype colon = entry.indexOf(u':', 1);
    return colon < 0 ? QString() : entry.sliced(colon + 1).toString();
}

} // namespace PageText
