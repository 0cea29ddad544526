#pragma once

#include "mail/TransferControl.h"

#include <QString>
#include <QStringList>
#include <QVariant>

// The SMTP and POP3 client the mail routines call. Both calls block until the server has
// answered or a time-out has run out; neither throws or shows anything.
namespace mail {

// Sets up the transfer library. Call it once, early in main(), before any other thread starts;
// the calls below do it themselves when it has not been done.
void initialize();

// Sends one message; it may run on any thread. recipients is a tab-separated list; every address gets its own RCPT TO
// and the To header lists them all. The sixth text is accepted for the caller's sake and not
// used. Returns "" once the server has answered the end of the message with 2xx, whatever the
// goodbye brings; otherwise a short Japanese sentence naming what failed, followed by the
// server's reply line when the server gave one.
QString SendMail(const QString &server, const QString &recipients, const QString &sender, const QString &subject,
    const QString &body, const QString &reserved, TransferControl *control = nullptr);

// Logs in to the POP3 server and runs one command; only STAT is supported. On success the
// result holds a QStringList (STAT: message count and size), on failure a single QString
// with the failure sentence. The folder is part of the call; nothing is kept there.
QVariant RcvMail(const QString &server, const QString &account, const QString &password, const QString &command,
    const QString &workingFolder, TransferControl *control = nullptr);

// The answer of a transfer ended by TransferControl::cancel().
QString cancelledText();

// Limits of every connection: 20 s to connect, 60 s for the whole exchange, and at most 2 s
// for the goodbye (QUIT) once the server has given its verdict.
inline constexpr int kConnectTimeoutMs = 20000;
inline constexpr int kTotalTimeoutMs = 60000;
inline constexpr int kGoodbyeMs = 2000;

} // namespace mail
