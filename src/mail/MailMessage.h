#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

namespace mail {

// The addresses of a tab-separated recipient list, trimmed, empty entries left out.
QStringList splitRecipients(const QString &list);

// An address that can go into MAIL FROM / RCPT TO as it stands: something@something, with no
// white space, line break, control character or angle bracket that could break the command.
bool isUsableAddress(const QString &address);

// A header value with every CR and LF taken out, so that page text cannot start a header.
QString withoutLineBreaks(const QString &value);

// The text with every lone surrogate, which no mail can carry, replaced by U+FFFD.
QString wellFormed(const QString &text);

// "Subject: ..." without its final CR LF: plain when it is short printable ASCII, otherwise
// RFC 2047 UTF-8 encoded-words, folded so that no line exceeds 78 characters. Line breaks are
// taken out and lone surrogates replaced (see wellFormed()).
QByteArray subjectHeader(const QString &subject);

// Base64 of the UTF-8 body with its line breaks turned into CR LF, in lines of 76 characters.
QByteArray encodedBody(const QString &body);

struct Message
{
    QString from;
    QStringList to;
    QString subject;
    QString body;
    QDateTime date;
    QString messageId; // without angle brackets
};

// The whole message as it goes after DATA, lines ended by CR LF.
QByteArray composeMessage(const Message &message);

// A fresh Message-ID for a message from the given sender.
QString newMessageId(const QString &sender);

} // namespace mail
