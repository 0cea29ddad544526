#include "mail/MailServer.h"

#include "settings/ServerSetting.h"

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
    rest = serverAuthority(rest);

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
        const qsizetype path = rest.indexOf(u'/');
        if (path >= 0) {
            rest = rest.left(path);
        }
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

namespace {

// Dotted decimal as it stands: four parts of one to three digits, no leading zero, no sign; the
// forms a resolver might read otherwise (octal, fewer parts, a final dot) are no address here.
bool isLoopbackIpv4(QStringView h)
{
    const QList<QStringView> parts = h.split(u'.');
    if (parts.size() != 4) {
        return false;
    }
    for (QStringView part : parts) {
        if (part.isEmpty() || part.size() > 3 || (part.size() > 1 && part.front() == u'0')) {
            return false;
        }
        for (QChar c : part) {
            if (c < u'0' || c > u'9') {
                return false;
            }
        }
        if (part.toInt() > 255) {
            return false;
        }
    }
    return parts.front() == u"127";
}

bool isAsciiHexDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// Any spelling of ::1: groups of one to four hexadecimal digits, at most one "::".
bool isLoopbackIpv6(QStringView h)
{
    const qsizetype gap = h.indexOf(u"::");
    if (gap >= 0 && h.indexOf(u"::", gap + 1) >= 0) {
        return false;
    }
    auto groups = [](QStringView side, QList<quint16> &out) {
        if (side.isEmpty()) {
            return true;
        }
        for (QStringView g : side.split(u':')) {
            if (g.isEmpty() || g.size() > 4) {
                return false;
            }
            for (QChar c : g) {
                // Not toUInt() alone: it lets blanks and a sign pass.
                if (!isAsciiHexDigit(c)) {
                    return false;
                }
            }
            out.append(quint16(g.toUInt(nullptr, 16)));
        }
        return true;
    };
    QList<quint16> head, tail;
    if (gap >= 0) {
        if (!groups(h.first(gap), head) || !groups(h.sliced(gap + 2), tail) || head.size() + tail.size() > 7) {
            return false;
        }
        head.resize(8 - tail.size());
        head.append(tail);
    } else if (!groups(h, head) || head.size() != 8) {
        return false;
    }
    for (int i = 0; i < 7; ++i) {
        if (head[i] != 0) {
            return false;
        }
    }
    return head[7] == 1;
}

} // namespace

bool isLoopbackHost(const QString &host)
{
    // Anything else goes to the resolver, which may answer with any address at all. Letter case
    // is ignored in ASCII only: Unicode folding would take "localhoſt" for the name.
    bool ascii = true;
    for (QChar c : host) {
        ascii = ascii && c.unicode() < 0x80;
    }
    return (ascii && host.toLower() == u"localhost"_s) || isLoopbackIpv4(host) || isLoopbackIpv6(host);
}

} // namespace mail
