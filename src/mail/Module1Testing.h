#pragma once

#include <QString>
#include <QVariant>

#include <functional>

// For tests only: stand-ins for the mail client and the settings folder. The stand-ins run on the
// worker thread, as the client would.
namespace Module1::testing {

using SendMailFn = std::function<QString(const QString &server, const QString &recipients, const QString &sender,
    const QString &subject, const QString &body, const QString &reserved)>;
using RcvMailFn = std::function<QVariant(const QString &server, const QString &account, const QString &password,
    const QString &command, const QString &workingFolder)>;
void setSendMail(SendMailFn fn);
void setRcvMail(RcvMailFn fn);
void setSettingsFolder(const QString &folder);
// Lets transfers run again after cancelAll().
void reset();

} // namespace Module1::testing
