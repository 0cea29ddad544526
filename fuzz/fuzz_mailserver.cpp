// The server setting: any text parses or not, a parsed server is usable, and only a loopback
// host counts as one.
#include "FuzzSupport.h"
#include "mail/MailServer.h"

#include <arpa/inet.h>

#include <cstring>

namespace {

// The C library's reading of a numeric address, for comparison only.
bool referenceLoopback(const QString &host, bool &dottedIpv6)
{
    dottedIpv6 = false;
    if (host.contains(QChar(u'\0')))
        return false;
    bool ascii = true;
    for (QChar c : host)
        ascii = ascii && c.unicode() < 0x80;
    if (ascii && host.toLower() == QStringLiteral("localhost"))
        return true;
    const QByteArray h = host.toUtf8();
    unsigned char a[16];
    if (inet_pton(AF_INET, h.constData(), a) == 1)
        return a[0] == 127;
    if (inet_pton(AF_INET6, h.constData(), a) == 1) {
        dottedIpv6 = host.contains(u'.');
        static const unsigned char one[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
        return std::memcmp(a, one, 16) == 0;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = fuzz::typed(data, size);

    for (mail::Protocol protocol : {mail::Protocol::Smtp, mail::Protocol::Pop3}) {
        const std::optional<mail::MailServer> s = mail::parseMailServer(text, protocol);
        if (!s)
            continue;
        const QByteArray shown = fuzz::shown(text);
        fuzz::check(!s->host.isEmpty() && s->port >= 1 && s->port <= 65535, "a parsed server is usable", shown);
        for (QChar c : s->host)
            fuzz::check(c.unicode() > 0x20 && c != u'/' && c != u'@' && c != u'?' && c != u'#',
                "the host holds no character that ends it in an address", shown);
        fuzz::check(!s->hasUser || !s->url().contains(u'@'), "the address handed on carries no account", shown);
    }

    bool dotted = false;
    const bool reference = referenceLoopback(text, dotted);
    const bool ours = mail::isLoopbackHost(text);
    fuzz::check(!ours || reference, "only a loopback host counts as one", fuzz::shown(text));
    // Spellings of ::1 with a dotted tail are refused; that only asks for TLS.
    fuzz::check(ours || !reference || dotted, "every loopback host counts as one", fuzz::shown(text));
    return 0;
}
