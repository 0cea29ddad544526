#pragma once

#include <QString>
#include <QVariant>

#include <atomic>
#include <functional>
#include <memory>

// The program's two mail routines. Each reads its settings afresh at every call and answers ""
// on success, otherwise the failure text.
//
// The transfer itself runs on a worker thread; the call waits for its answer letting window
// messages run, so the window never freezes on a slow or silent server. goOn is asked while it
// waits: once it answers false (the window or the dialog is closing) the transfer is ended at once
// and the answer is a failure text.
namespace Module1 {

// Logs in to the configured POP server and runs the command there (POP before SMTP).
QString PopLogin(const QString &command, const std::function<bool()> &goOn = {});

// Sends one message to the configured recipients. Body first, subject second. accepted, when
// given, turns true on the worker as soon as the server has taken the message: a wait given up
// by goOn or cancelAll() says nothing of that.
QString SmtpSend(const QString &body, const QString &subject, const std::function<bool()> &goOn = {},
    const std::shared_ptr<std::atomic<bool>> &accepted = {});

// The program is ending: every transfer on its way ends now, and later ones fail at once.
void cancelAll();
bool ending();
// Waits until every worker has ended, at most ms; false when one is still running.
bool waitForWorkers(int ms);

// Only tests use these: they stand in for the mail client and the settings folder. The stand-ins
// run on the worker thread, as the client would.
namespace testing {
using SendMailFn = std::function<QString(const QString &server, const QString &recipients, const QString &sender,
    const QString &subject, const QString &body, const QString &reserved)>;
using RcvMailFn = std::function<QVariant(const QString &server, const QString &account, const QString &password,
    const QString &command, const QString &workingFolder)>;
void setSendMail(SendMailFn fn);
void setRcvMail(RcvMailFn fn);
void setSettingsFolder(const QString &folder);
// Lets transfers run again after cancelAll().
void reset();
} // namespace testing

} // namespace Module1
