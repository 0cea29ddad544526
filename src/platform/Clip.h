#pragma once

#include <QString>

// A text shown where only its start fits: at most limit UTF-16 units of it and an ellipsis,
// never half of a surrogate pair.
inline QString clipped(const QString &text, qsizetype limit)
{
    if (text.size() <= limit)
        return text;
    const qsizetype cut = limit > 0 && text[limit - 1].isHighSurrogate() ? limit - 1 : limit;
    return text.left(cut) + u'…';
}
