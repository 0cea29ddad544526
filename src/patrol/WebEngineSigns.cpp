// What a document shows of the site's state: a login form, a bot check, the server's request
// to wait. Read in the program's own world, like every other read.
#include "patrol/WebEngineBrowser.h"

#include "platform/MessagePump.h"

#include <QDeadlineTimer>
#include <QWebEnginePage>

using namespace Qt::StringLiterals;

std::optional<bool> WebEngineBrowser::passwordFieldShown()
{
    // Hidden fields and disabled ones are no login form the user sees; a component's open
    // shadow root is part of the page.
    const std::optional<QVariant> value = evaluate(guarded(QStringLiteral(
        "(function() {"
        " function shown(e) { if (e.disabled) return false; var s = getComputedStyle(e);"
        "  if (s.visibility !== 'visible') return false; var r = e.getBoundingClientRect();"
        "  return r.width > 0 && r.height > 0; }"
        " function seek(root) { var f = root.querySelectorAll('input[type=password]');"
        "  for (var i = 0; i < f.length; ++i) if (shown(f[i])) return true;"
        "  var all = root.querySelectorAll('*');"
        "  for (var j = 0; j < all.length; ++j) if (all[j].shadowRoot && seek(all[j].shadowRoot)) return true;"
        "  return false; }"
        " return seek(document); })()")));
    if (!value || value->typeId() != QMetaType::Bool)
        return std::nullopt;
    return value->toBool();
}

std::optional<bool> WebEngineBrowser::challengeShown()
{
    const std::optional<QVariant> value = evaluate(guarded(
        QStringLiteral("(function() {"
                       " if (/^(Just a moment|Attention Required|Checking your "
                       "browser|\\u3057\\u3070\\u3089\\u304f\\u304a\\u5f85\\u3061)/i"
                       ".test(String(document.title))) return true;"
                       " return !!document.querySelector('#challenge-form, #cf-challenge-running, #challenge-running,"
                       " script[src*=\"/cdn-cgi/challenge-platform/\"]'); })()")));
    if (!value || value->typeId() != QMetaType::Bool)
        return std::nullopt;
    return value->toBool();
}

std::optional<QStringList> WebEngineBrowser::answerHeaders(const QStringList &names)
{
    // The page's own answer keeps its headers from scripts; the same address asked again, with
    // the page's cookies, tells them.
    QStringList quoted;
    for (const QString &n : names)
        quoted.append(u"'"_s + QString(n).remove(u'\'').remove(u'\\') + u"'"_s);
    const std::optional<QVariant> started = evaluate(
        guarded(u"(function() { window.korvaniHead = null; var names = [%1];"
                " fetch(location.href, {method: 'HEAD', credentials: 'include', cache: 'no-store', redirect: 'manual'})"
                ".then(function(r) { window.korvaniHead = names.map(function(n) { return r.headers.get(n) || ''; }); },"
                " function() { window.korvaniHead = false; }); return true; })()"_s.arg(quoted.join(u','))));
    if (!started || !started->toBool())
        return std::nullopt;
    const QDeadlineTimer deadline(m_readTimeoutMs);
    while (!deadline.hasExpired()) {
        const std::optional<QVariant> value = evaluate(guarded(u"window.korvaniHead"_s));
        if (!value)
            return std::nullopt;
        if (value->typeId() == QMetaType::QVariantList) {
            QStringList out;
            for (const QVariant &v : value->toList())
                out.append(v.toString());
            return out.size() == names.size() ? std::optional<QStringList>(out) : std::nullopt;
        }
        if (value->typeId() == QMetaType::Bool)
            return std::nullopt;
        pump::waitForEvents(50);
    }
    return std::nullopt;
}
