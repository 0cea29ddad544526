#include "mail/MailMessage.h"

#include <QUuid>

using namespace Qt::Literals::StringLiterals;

namespace mail {

namespace {

constexpr qsizetype kLineLimit = 78;
constexpr qsizetype kBase64Line = 76;
// 39 bytes make 52 base64 characters, so "=?UTF-8?B?" + 52 + "?=" is 64 characters and even
// the first line, behind "Subject: ", stays within 78.
constexpr qsizetype kWordBytes = 39;

bool isPlainAscii(const QString &text)
{
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7e) {
            return false;
        }
    }
    return true;
}

// Comma-separated addresses, folded between addresses when a line would grow too long.
QByteArray addressHeader(const QByteArray &name, const QStringList &addresses)
{
    QByteArray out = name + ": ";
    qsizetype lineLength = out.size();
    for (qsizetype i = 0; i < addresses.size(); ++i) {
        const QByteArray address = withoutLineBreaks(addresses[i]).toUtf8();
        if (i > 0) {
            out += ',';
            ++lineLength;
            if (lineLength + 1 + address.size() > kLineLimit) {
                out += "\r\n";
                lineLength = 0;
            }
            out += ' ';
            ++lineLength;
        }
        out += address;
        lineLength += address.size();
    }
    return out;
}

} // namespace

QStringList splitRecipients(const QString &list)
{
    QStringList out;
    for (const QString &part : list.split(u'\t')) {
        const QString address = part.trimmed();
        if (!address.isEmpty()) {
            out.append(address);
        }
    }
    return out;
}

bool isUsableAddress(const QString &address)
{
    for (QChar c : address) {
        if (c.unicode() <= 0x20 || c.unicode() == 0x7f || c.isSpace() || c == u'<' || c == u'>') {
            return false;
        }
    }
    const qsizetype at = address.lastIndexOf(u'@');
    return at > 0 && at < address.size() - 1;
}

QString wellFormed(const QString &text)
{
    QString out = text;
    for (qsizetype i = 0; i < out.size(); ++i) {
        if (!out[i].isSurrogate())
            continue;
        if (out[i].isHighSurrogate() && i + 1 < out.size() && out[i + 1].isLowSurrogate())
            ++i;
        else
            out[i] = QChar::ReplacementCharacter;
    }
    return out;
}

QString withoutLineBreaks(const QString &value)
{
    QString out = value;
    out.remove(u'\r');
    out.remove(u'\n');
    return out;
}

QByteArray subjectHeader(const QString &subject)
{
    const QString text = withoutLineBreaks(wellFormed(subject));
    const QByteArray prefix = "Subject: ";
    // ASCII that merely looks like an encoded word is encoded too, or a reader would decode it;
    // so are blanks at either end, which a reader drops from a plain header.
    if (isPlainAscii(text) && prefix.size() + text.size() <= kLineLimit && !text.contains(u"=?"_s)
        && !text.startsWith(u' ') && !text.endsWith(u' ')) {
        return prefix + text.toLatin1();
    }

    QByteArray out = prefix;
    QByteArray chunk;
    bool first = true;
    auto flush = [&] {
        if (!first) {
            out += "\r\n ";
        }
        out += "=?UTF-8?B?" + chunk.toBase64() + "?=";
        chunk.clear();
        first = false;
    };
    // Split between code points only: an encoded word must hold whole characters.
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype n = text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2 : 1;
        const QByteArray bytes = text.mid(i, n).toUtf8();
        if (chunk.size() + bytes.size() > kWordBytes) {
            flush();
        }
        chunk += bytes;
        i += n;
    }
    if (!chunk.isEmpty() || first) {
        flush();
    }
    return out;
}

QByteArray encodedBody(const QString &body)
{
    QString text = body;
    text.replace(u"\r\n"_s, u"\n"_s);
    text.replace(u'\r', u'\n');
    text.replace(u"\n"_s, u"\r\n"_s);
    const QByteArray base64 = text.toUtf8().toBase64();
    QByteArray out;
    out.reserve(base64.size() + base64.size() / kBase64Line * 2 + 2);
    for (qsizetype i = 0; i < base64.size(); i += kBase64Line) {
        out += base64.mid(i, kBase64Line);
        out += "\r\n";
    }
    return out;
}

QByteArray composeMessage(const Message &message)
{
    QByteArray out;
    out += "Date: " + message.date.toString(Qt::RFC2822Date).toLatin1() + "\r\n";
    out += addressHeader("From", {message.from}) + "\r\n";
    out += addressHeader("To", message.to) + "\r\n";
    out += subjectHeader(message.subject) + "\r\n";
    out += "Message-ID: <" + withoutLineBreaks(message.messageId).toUtf8() + ">\r\n";
    out += "MIME-Version: 1.0\r\n";
    out += "Content-Type: text/plain; charset=UTF-8\r\n";
    out += "Content-Transfer-Encoding: base64\r\n";
    out += "\r\n";
    out += encodedBody(message.body);
    return out;
}

QString newMessageId(const QString &sender)
{
    const qsizetype at = sender.lastIndexOf(u'@');
    const QString domain = at >= 0 && at + 1 < sender.size() ? sender.mid(at + 1) : u"korvani.invalid"_s;
    return QUuid::createUuid().toString(QUuid::WithoutBraces) + u'@' + domain;
}

} // namespace mail
