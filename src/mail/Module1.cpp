#include "mail/Module1.h"

#include "mail/MailClient.h"
#include "settings/SettingKeys.h"
#include "settings/clINI.h"

#include <QCoreApplication>
#include <QMetaType>

#include <memory>

namespace Module1 {

namespace {

struct Hooks
{
    testing::SendMailFn sendMail;
    testing::RcvMailFn rcvMail;
    QString settingsFolder;
};

Hooks &hooks()
{
    static Hooks h;
    return h;
}

std::unique_ptr<clINI> openSettings()
{
    const QString &folder = hooks().settingsFolder;
    return folder.isEmpty() ? std::make_unique<clINI>() : std::make_unique<clINI>(folder);
}

bool isList(const QVariant &value)
{
    const int type = value.metaType().id();
    return type == QMetaType::QStringList || type == QMetaType::QVariantList;
}

} // namespace

QString PopLogin(const QString &command)
{
    QString server, account, password;
    {
        const auto ini = openSettings();
        server = ini->GetSetting(Keys::PopServer);
        account = ini->GetSetting(Keys::PopAccount);
        password = ini->GetSetting(Keys::PopPassword);
    }
    const QString folder = QCoreApplication::applicationDirPath();
    const QVariant result = hooks().rcvMail ? hooks().rcvMail(server, account, password, command, folder)
                                            : mail::RcvMail(server, account, password, command, folder);
    // Any list is a successful login, whatever it holds.
    return isList(result) ? QString() : result.toString();
}

QString SmtpSend(const QString &body, const QString &subject)
{
    QString server, to, from;
    {
        const auto ini = openSettings();
        server = ini->GetSetting(Keys::SmtpServer);
        to = ini->GetSetting(Keys::To);
        from = ini->GetSetting(Keys::From);
    }
    to.replace(u';', u'\t');
    return hooks().sendMail ? hooks().sendMail(server, to, from, subject, body, QString())
                            : mail::SendMail(server, to, from, subject, body, QString());
}

namespace testing {

void setSendMail(SendMailFn fn)
{
    hooks().sendMail = std::move(fn);
}

void setRcvMail(RcvMailFn fn)
{
    hooks().rcvMail = std::move(fn);
}

void setSettingsFolder(const QString &folder)
{
    hooks().settingsFolder = folder;
}

void reset()
{
    hooks() = Hooks {};
}

} // namespace testing

} // namespace Module1
