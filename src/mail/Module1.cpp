#include "mail/Module1.h"

#include "mail/MailClient.h"
#include "mail/Module1Testing.h"
#include "platform/MessagePump.h"
#include "settings/SettingKeys.h"
#include "settings/clINI.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QMetaType>
#include <QScopeGuard>

using namespace Qt::StringLiterals;

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

// The transfers on their way, so that the end of the program can cut them short. A transfer is
// undecided until its server has given a verdict or it has ended; its goodbye may go on after.
struct Workers
{
    std::mutex mutex;
    std::condition_variable changed;
    int running = 0;
    int undecided = 0;
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

// Runs work on a worker thread and waits for its answer, letting window messages run. The answer
// is the server's verdict as soon as decided has heard it: the goodbye that follows is left to the
// worker.
template<typename R>
R runOnWorker(std::function<R(mail::TransferControl &)> work, const std::function<bool()> &goOn,
    std::function<void(const R &)> decided = {})
{
    mail::initialize();
    auto control = std::make_shared<mail::TransferControl>();
    struct Answer
    {
        std::atomic<bool> done {false};
        R value;
        std::once_flag decided;
        // The verdict, once decided has run on it.
        std::atomic<bool> told {false};
        R verdict;
        // Ends the caller's wait at once; set only while it waits, when its dispatcher surely exists.
        std::mutex waking;
        QAbstractEventDispatcher *waiting = nullptr;
        void wake()
        {
            const std::lock_guard lock(waking);
            if (waiting)
                waiting->wakeUp();
        }
    };
    auto answer = std::make_shared<Answer>();
    Workers &w = workers();
    {
        const std::lock_guard lock(w.mutex);
        if (w.closing)
            return R(mail::cancelledText());
        ++w.running;
        ++w.undecided;
        w.active.insert(control);
    }
    // Once per transfer, on the worker: at the verdict or at the end, whichever comes first.
    auto decide = [answer, decided](const R &value) {
        std::call_once(answer->decided, [&] {
            if (decided)
                decided(value);
            Workers &w = workers();
            const std::lock_guard lock(w.mutex);
            --w.undecided;
            w.changed.notify_all();
        });
    };
    // The control calls this itself, so it must not own itself through it.
    control->onVerdict([ctl = control.get(), decide, answer] {
        if (const std::optional<QVariant> v = ctl->verdict()) {
            answer->verdict = qvariant_cast<R>(*v);
            decide(answer->verdict);
            answer->told.store(true);
            answer->wake();
        }
    });
    std::thread([answer, control, decide, work = std::move(work)] {
        R value = work(*control);
        decide(value);
        answer->value = std::move(value);
        answer->done.store(true);
        answer->wake();
        Workers &w = workers();
        const std::lock_guard lock(w.mutex);
        w.active.erase(control);
        --w.running;
        w.changed.notify_all();
    }).detach();
    {
        const std::lock_guard lock(answer->waking);
        answer->waiting = QAbstractEventDispatcher::instance();
    }
    const auto waited = qScopeGuard([&] {
        const std::lock_guard lock(answer->waking);
        answer->waiting = nullptr;
    });
    while (!answer->done.load()) {
        if (answer->told.load())
            return answer->verdict;
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
    const std::shared_ptr<std::atomic<bool>> &accepted, const std::function<void()> &taken)
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
            return hook ? hook(server, to, from, subject, body, QString())
                        : mail::SendMail(server, to, from, subject, body, QString(), &control);
        },
        goOn,
        [accepted, taken](const QString &failure) {
            if (!failure.isEmpty())
                return;
            // Taken first, recorded second: whoever finds the record finds the mail taken.
            if (accepted)
                accepted->store(true);
            if (taken)
                taken();
        });
}

Outcome Send(const QString &body, const QString &subject, const SendOptions &options)
{
    bool popFirst = false;
    if (options.popFirst) {
        popFirst = *options.popFirst;
    } else {
        const auto ini = openSettings();
        popFirst = ini->GetSetting(Keys::Check2) == u"1";
    }
    Outcome outcome;
    if (popFirst) {
        outcome.popFailure = PopLogin(u"STAT"_s, options.goOn);
        if (!outcome.popFailure.isEmpty() && options.popFailed)
            options.popFailed(outcome.popFailure);
    }
    if (options.goOn && !options.goOn()) {
        outcome.failure = mail::cancelledText();
        return outcome;
    }
    outcome.failure = SmtpSend(body, subject, options.goOn, options.accepted, options.taken);
    return outcome;
}

QString cancelledText()
{
    return mail::cancelledText();
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
    return w.changed.wait_for(lock, std::chrono::milliseconds(ms), [&w] { return w.running == 0; });
}

bool waitForVerdicts(int ms)
{
    Workers &w = workers();
    std::unique_lock lock(w.mutex);
    return w.changed.wait_for(lock, std::chrono::milliseconds(ms), [&w] { return w.undecided == 0; });
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
