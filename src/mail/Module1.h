#pragma once

#include <QString>
#include <QVariant>

#include <functional>

// The program's two mail routines. Each reads its settings afresh at every call and answers ""
// on success, otherwise the failure text.
namespace Module1 {

// Logs in to the configured POP server and runs the command there (POP before SMTP).
QString PopLogin(const QString &command);

// Sends one message to the configured recipients. Body first, subject second.
QString SmtpSend(const QString &body, const QString &subject);

// Only tests use these: they stand in for the mail client and the settings folder.
namespace testing {
using SendMailFn = std::function<QString(const QString &server, const QString &recipients, const QString &sender,
    const QString &subject, const QString &body, const QString &reserved)>;
using RcvMailFn = std::function<QVariant(const QString &server, const QString &account, const QString &password,
    const QString &command, const QString &workingFolder)>;
void setSendMail(SendMailFn fn);
void setRcvMail(RcvMailFn fn);
void setSettingsFolder(const QString &folder);
void reset();
} // namespace testing

} // namespace Module1
