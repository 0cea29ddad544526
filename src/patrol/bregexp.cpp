#include "patrol/bregexp.h"

#include <QHash>
#include <QRegularExpression>

namespace bregexp {
namespace {

// Compiled patterns by text. The result never depends on the cache: a pattern compiles to the
// same expression every time.
const QRegularExpression &compiled(const QString &pattern)
{
    static QHash<QString, QRegularExpression> cache;
    auto it = cache.constFind(pattern);
    if (it != cache.constEnd())
        return *it;
    if (cache.size() > 4096)
        cache.clear();
    QRegularExpression re(pattern, QRegularExpression::CaseInsensitiveOption);
    re.optimize();
    return *cache.insert(pattern, re);
}

} // namespace

bool search(const QString &pattern, QStringView target)
{
    const QRegularExpression &re = compiled(pattern);
    if (!re.isValid())
        return false;
    // PCRE2's match limit ends a runaway search with an error, which reads as no match.
    return re.match(target).hasMatch();
}

bool RegexMatch(QStringView patternText, QStringView target)
{
    const qsizetype first = patternText.indexOf(u'/');
    const qsizetype last = patternText.lastIndexOf(u'/');
    if (first < 0 || last <= first)
        return false;
    // The flags g, i and k need nothing here: the search looks anywhere, always ignores case, and
    // a double-byte character is one character in Unicode text.
    return search(patternText.sliced(first + 1, last - first - 1).toString(), target);
}

} // namespace bregexp
