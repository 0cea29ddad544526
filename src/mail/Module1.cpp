#include "mail/Module1.h"

#include "mail/MailClient.h"
#include "platform/MessagePump.h"
#include "settings/SettingKeys.h"
#include "settings/clINI.h"

#include <QCoreApplication>
#include <QMetaType>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

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

// The transfers on their way, so that the end of the program can cut them short.
struct Workers
{
    std::mutex mutex;
    std::condition_variable ended;
    int running = 0;
    bool closing = false;
    std::set<std::shared_ptr<mail::TransferControl>> active;
};

Workers &workers()
{
    // Never destroyed: a worker may still finish while the program's statics go.
    static auto *w = new Workers;
    return *w;
}

// How long a wait sleeps at most when no window message wakes it.
constexpr int kPollMs = 20;

// Runs work on a worker thread and waits for its answer, letting window messages run.
template<typename R> R runOnWorker(std::function<R(mail::TransferControl &)> work, const std::function<bool()> &goOn)
{
    mail::initialize();
    auto control = std::make_shared<mail::TransferControl>();
    struct Answer
    {
        std::atomic<bool> done {false};
        R value;
    };
    auto answer = std::make_shared<Answer>();
    Workers &w = workers();
    {
        const std::lock_guard lock(w.mutex);
        if (w.closing)
            return R(mail::cancelledText());
        ++w.running;
        w.active.insert(control);
    }
    std::thread([answer, control, work = std::move(work)] {
        answer->value = work(*control);
        answer->done.store(true);
        Workers &w = workers();
        const std::lock_guard lock(w.mutex);
        w.active.erase(control);
        --w.running;
        w.ended.notify_all();
    }).detach();
    while (!answer->done.load()) {
        if (goOn && !goOn()) {
            control->cancel();
            return R(mail::cancelledText());
        }
        if (control->cancelled())
            return R(mail::cancelledText());
        pump::waitForEvents(kPollMs);
    }
    return answer->value;
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

QString PopLogin(const QString &command, const std::function<bool()> &goOn)
{
    QString server, account, password;
    {
        const auto ini = openSettings();
        server = ini->GetSetting(Keys::PopServer);
        account = ini->GetSetting(Keys::PopAccount);
        password = ini->GetSetting(Keys::PopPassword);
    }
    const QString folder = QCoreApplication::applicationDirPath();
    const testing::RcvMailFn hook = hooks().rcvMail;
    const QVariant result = runOnWorker<QVariant>(
        [=](mail::TransferControl &control) {
            return hook ? hook(server, account, password, command, folder)
                        : mail::RcvMail(server, account, password, command, folder, &control);
        },
        goOn);
    // Any list is a successful login, whatever it holds.
    return isList(result) ? QString() : result.toString();
}

QString SmtpSend(const QString &body, const QString &subject, const std::function<bool()> &goOn,
    const std::shared_ptr<std::atomic<bool>> &accepted)
{
    QString server, to, from;
    {
        const auto ini = openSettings();
        server = ini->GetSetting(Keys::SmtpServer);
        to = ini->GetSetting(Keys::To);
        from = ini->GetSetting(Keys::From);
    }
    to.replace(u';', u'\t');
    const testing::SendMailFn hook = hooks().sendMail;
    return runOnWorker<QString>(
        [=](mail::TransferControl &control) {
            const QString failure = hook ? hook(server, to, from, subject, body, QString())
                                         : mail::SendMail(server, to, from, subject, body, QString(), &control);
            if (failure.isEmpty() && accepted)
                accepted->store(true);
            return failure;
        },
        goOn);
}

void cancelAll()
{
    Workers &w = workers();
    const std::lock_guard lock(w.mutex);
    w.closing = true;
    for (const auto &control : w.active)
        control->cancel();
}

bool ending()
{
    Workers &w = workers();
    const std::lock_guard lock(w.mutex);
    return w.closing;
}

bool waitForWorkers(int ms)
{
    Workers &w = workers();
    std::unique_lock lock(w.mutex);
    return w.ended.wait_for(lock, std::chrono::milliseconds(ms), [&w] { return w.running == 0; });
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
    const std::lock_guard lock(workers().mutex);
    workers().closing = false;
}

} // namespace testing

} // namespace Module1
