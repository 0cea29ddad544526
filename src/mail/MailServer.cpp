#include "mail/MailServer.h"

#include <QByteArray>
#include <QStringList>

using namespace Qt::Literals::StringLiterals;

namespace mail {

namespace {

QString percentDecoded(QStringView text)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(text.toUtf8()));
}

bool isHostChar(QChar c)
{
    return c.unicode() > 0x20 && c.unicode() != 0x7f && c != u'/' && c != u'@' && c != u'[' && c != u']' && c != u'?'
        && c != u'#' && c != u'\\';
}

// The numeric port after the host, or 0 when it is no port at all.
int parsePort(QStringView text)
{
    if (text.isEmpty() || text.size() > 5) {
        return 0;
    }
    for (QChar c : text) {
        if (c < u'0' || c > u'9') {
            return 0;
        }
    }
    const int port = text.toInt();
    return port >= 1 && port <= 65535 ? port : 0;
}

} // namespace

QString MailServer::url() const
{
    QString scheme = protocol == Protocol::Smtp ? u"smtp"_s : u"pop3"_s;
    if (implicitTls) {
        scheme += u's';
    }
    const QString h = host.contains(u':') ? u'[' + host + u']' : host;
    return scheme + u"://"_s + h + u':' + QString::number(port) + u'/';
}

std::optional<MailServer> parseMailServer(const QString &text, Protocol protocol)
{
    MailServer server;
    server.protocol = protocol;
    QStringView rest = QStringView(text).trimmed();

    const qsizetype schemeEnd = rest.indexOf(u"://");
    if (schemeEnd >= 0) {
        const QString scheme = rest.left(schemeEnd).toString().toLower();
        const QString plain = protocol == Protocol::Smtp ? u"smtp"_s : u"pop3"_s;
        if (scheme == plain) {
            server.implicitTls = false;
        } else if (scheme == plain + u's') {
            server.implicitTls = true;
        } else {
            return std::nullopt;
        }
        rest = rest.mid(schemeEnd + 3);
    }

    // A path after the authority means nothing to either protocol here.
    const qsizetype slash = rest.indexOf(u'/');
    if (slash >= 0) {
        rest = rest.left(slash);
    }

    const qsizetype at = rest.lastIndexOf(u'@');
    if (at >= 0) {
        const QStringView userInfo = rest.left(at);
        const qsizetype colon = userInfo.indexOf(u':');
        server.user = percentDecoded(colon >= 0 ? userInfo.left(colon) : userInfo);
        if (colon >= 0) {
            server.password = percentDecoded(userInfo.mid(colon + 1));
        }
        server.hasUser = true;
        rest = rest.mid(at + 1);
    }

    QStringView portText;
    if (rest.startsWith(u'[')) {
        const qsizetype close = rest.indexOf(u']');
        if (close < 0) {
            return std::nullopt;
        }
        server.host = rest.mid(1, close - 1).toString();
        const QStringView after = rest.mid(close + 1);
        if (!after.isEmpty()) {
            if (!after.startsWith(u':')) {
                return std::nullopt;
            }
            portText = after.mid(1);
            if (portText.isEmpty()) {
                return std::nullopt;
            }
        }
        if (server.host.isEmpty() || !server.host.contains(u':')) {
            return std::nullopt;
        }
        for (QChar c : server.host) {
            if (!c.isDigit() && !(c.toLower() >= u'a' && c.toLower() <= u'f') && c != u':' && c != u'.') {
                return std::nullopt;
            }
        }
    } else {
        const qsizetype colon = rest.indexOf(u':');
        if (colon >= 0) {
            portText = rest.mid(colon + 1);
            if (portText.isEmpty()) {
                return std::nullopt;
            }
            rest = rest.left(colon);
        }
        server.host = rest.toString();
        if (server.host.isEmpty()) {
            return std::nullopt;
        }
        for (QChar c : server.host) {
            if (!isHostChar(c)) {
                return std::nullopt;
            }
        }
    }

    if (!portText.isEmpty()) {
        server.port = parsePort(portText);
        if (server.port == 0) {
            return std::nullopt;
        }
    } else if (protocol == Protocol::Smtp) {
        server.port = server.implicitTls ? 465 : 25;
    } else {
        server.port = server.implicitTls ? 995 : 110;
    }
    return server;
}

bool isLoopbackHost(const QString &host)
{
    QString h = host.toLower();
    if (h.endsWith(u'.')) {
        h.chop(1);
    }
    if (h == u"localhost"_s || h.endsWith(u".localhost"_s) || h == u"::1"_s) {
        return true;
    }
    const QStringList parts = h.split(u'.');
    if (parts.size() != 4 || parts.first() != u"127"_s) {
        return false;
    }
    for (const QString &part : parts) {
        bool ok = false;
        const int n = part.toInt(&ok);
        if (!ok || n < 0 || n > 255 || part.isEmpty() || part.size() > 3 || part.startsWith(u'+')) {
            return false;
        }
    }
    return true;
}

} // namespace mail
