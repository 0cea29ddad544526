#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QRegularExpression>
#include <QString>
#include <QStringDecoder>

// An independent reader of what the sender writes: unfolded headers, RFC 2047 B-words and a
// base64 body, enough to compare a stored message with what was sent.
namespace maildecode {

struct Parsed
{
    QByteArrayList rawHeaderLines; // folded lines as they were
    QList<QPair<QByteArray, QByteArray>> headers; // name, unfolded value
    QByteArray body;

    QByteArray header(const QByteArray &name) const
    {
        for (const auto &h : headers) {
            if (h.first.compare(name, Qt::CaseInsensitive) == 0) {
                return h.second;
            }
        }
        return {};
    }
    int count(const QByteArray &name) const
    {
        int n = 0;
        for (const auto &h : headers) {
            n += h.first.compare(name, Qt::CaseInsensitive) == 0 ? 1 : 0;
        }
        return n;
    }
};

inline Parsed parse(const QByteArray &message)
{
    Parsed p;
    const qsizetype end = message.indexOf("\r\n\r\n");
    const QByteArray head = end >= 0 ? message.left(end) : message;
    p.body = end >= 0 ? message.mid(end + 4) : QByteArray();
    p.rawHeaderLines = head.split('\n');
    for (QByteArray &line : p.rawHeaderLines) {
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        if ((line.startsWith(' ') || line.startsWith('\t')) && !p.headers.isEmpty()) {
            p.headers.last().second += line;
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        p.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
    }
    return p;
}

// UTF-8 as it stands: QString::fromUtf8() would drop a byte order mark at the start.
inline QString utf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return decoder(bytes);
}

// Adjacent encoded words join without the white space between them (RFC 2047, 6.2).
inline QString decodeWords(const QByteArray &value)
{
    static const QRegularExpression word(QStringLiteral("=\\?UTF-8\\?B\\?([A-Za-z0-9+/=]*)\\?=(\\s+(?==\\?))?"),
        QRegularExpression::CaseInsensitiveOption);
    const QString text = QString::fromLatin1(value);
    QByteArray out;
    qsizetype pos = 0;
    auto it = word.globalMatch(text);
    while (it.hasNext()) {
        const auto m = it.next();
        out += text.mid(pos, m.capturedStart() - pos).toUtf8();
        out += QByteArray::fromBase64(m.captured(1).toLatin1());
        pos = m.capturedEnd();
    }
    out += text.mid(pos).toUtf8();
    return utf8(out);
}

inline QString decodeBody(const QByteArray &base64)
{
    QByteArray joined = base64;
    joined.replace("\r\n", "");
    return utf8(QByteArray::fromBase64(joined, QByteArray::AbortOnBase64DecodingErrors));
}

} // namespace maildecode
