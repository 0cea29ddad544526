#pragma once

#include <QString>
#include <QVariant>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

// The program's mail routines. Each reads its settings afresh at every call and answers "" on
// success, otherwise the failure text.
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
// by goOn or cancelAll() says nothing of that. taken, when given, runs on the worker right after,
// before the call returns and before waitForVerdicts() counts the transfer as decided.
QString SmtpSend(const QString &body, const QString &subject, const std::function<bool()> &goOn = {},
    const std::shared_ptr<std::atomic<bool>> &accepted = {}, const std::function<void()> &taken = {});

// What a mail that may need a POP login first brought: "" or the failure text of each.
struct Outcome
{
    QString popFailure;
    QString failure;
};

struct SendOptions
{
    // Whether a POP login comes first; when not given, as CHECK2 reads now.
    std::optional<bool> popFirst {};
    std::function<bool()> goOn {};
    // Turns true as soon as the server has taken the message (see SmtpSend).
    std::shared_ptr<std::atomic<bool>> accepted {};
    // Runs on the worker once the server has taken the message (see SmtpSend); it must not touch
    // the window's objects.
    std::function<void()> taken {};
    // Told of a failed POP login before the mail is sent.
    std::function<void(const QString &failure)> popFailed {};
};

// Every mail of the program goes this way: the POP login first when CHECK2 is "1" (its failure
// does not stop the mail), then the mail itself.
Outcome Send(const QString &body, const QString &subject, const SendOptions &options = {});

// The answer of a transfer that was ended before its verdict.
QString cancelledText();

// The program is ending: every transfer on its way ends now, and later ones fail at once.
void cancelAll();
bool ending();
// Waits until every worker has ended, at most ms; false when one is still running.
bool waitForWorkers(int ms);
// Waits until every transfer has its verdict or has ended, at most ms; its goodbye may go on.
bool waitForVerdicts(int ms);

} // namespace Module1
