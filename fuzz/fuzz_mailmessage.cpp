// The built mail message: whatever the subject, addresses and identifier hold, the header
// block has exactly its own headers, and the subject decodes back to what was given (line
// breaks taken out, lone surrogates replaced).
#include "FuzzSupport.h"
#include "mail/MailDecode.h"
#include "mail/MailMessage.h"

#include <QTimeZone>

#include <fuzzer/FuzzedDataProvider.h>

namespace {

// Text with the characters that matter here made likely: line breaks, blanks, "=?", non-ASCII.
QString text(FuzzedDataProvider &in)
{
    static const char16_t pieces[][4] = {u"\r", u"\n", u"\r\n", u" ", u"\t", u"=?", u"?=", u":", u"@", u"日",
        u"\xD83D\xDE00", u"\xD800", u"\xDC00", u"a", u"Bcc", u"\x7F", u"\0", u"\u2028", u"\u0085"};
    QString s;
    const size_t n = in.ConsumeIntegralInRange<size_t>(0, 120);
    for (size_t i = 0; i < n && in.remaining_bytes() > 0; ++i) {
        if (in.ConsumeBool()) {
            const auto &p = pieces[in.ConsumeIntegralInRange<size_t>(0, std::size(pieces) - 1)];
            s += QString::fromUtf16(p, p[0] == 0 ? 1 : -1);
        } else {
            s += QChar(in.ConsumeIntegral<char16_t>());
        }
    }
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    mail::Message m;
    m.subject = text(in);
    m.from = text(in);
    const size_t recipients = in.ConsumeIntegralInRange<size_t>(0, 4);
    for (size_t i = 0; i < recipients; ++i)
        m.to.append(text(in));
    m.messageId = text(in);
    m.body = text(in);
    m.date = QDateTime(QDate(2024, 3, 5), QTime(12, 34, 56), QTimeZone(9 * 3600));

    const QByteArray message = mail::composeMessage(m);
    const qsizetype end = message.indexOf("\r\n\r\n");
    fuzz::check(end > 0, "the message has a header block", message);
    const QByteArray head = message.left(end);
    QByteArrayList names;
    for (const QByteArray &line : head.split('\n')) {
        const QByteArray l = line.endsWith('\r') ? line.chopped(1) : line;
        fuzz::check(!l.contains('\r'), "no bare CR in the headers", message);
        if (l.startsWith(' ') || l.startsWith('\t'))
            continue;
        names.append(l.left(l.indexOf(':')));
    }
    fuzz::check(names
            == QByteArrayList {"Date", "From", "To", "Subject", "Message-ID", "MIME-Version", "Content-Type",
                "Content-Transfer-Encoding"},
        "no header line starts a header of its own", message);

    const maildecode::Parsed parsed = maildecode::parse(message);
    const QString expected = mail::withoutLineBreaks(mail::wellFormed(m.subject));
    fuzz::check(maildecode::decodeWords(parsed.header("Subject")) == expected, "the subject decodes back",
        fuzz::shown(m.subject) + "\n" + parsed.header("Subject"));
    for (const QByteArray &line : mail::subjectHeader(m.subject).split('\n'))
        fuzz::check(line.size() <= 79, "subject lines stay within 78 characters", message);
    return 0;
}
