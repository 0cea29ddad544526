// How long the user-interface thread stands still during each phase of a patrol, measured as the
// largest lateness of a 10 ms timer: the real main window, the real Qt WebEngine, pages and mail
// servers on 127.0.0.1. Start-up and shut-down never let window messages run, so there the stall
// is the whole sequence.
//
// Usage: responsiveness [--repetitions N] [--quick] [--json FILE]
// --quick leaves out the phases that wait on purpose for a mail server (about a minute); --only TEXT
// runs the phases whose name holds TEXT.
#include "app/Form1.h"
#include "app/SettingsSaver.h"
#include "mail/MailClient.h"
#include "mail/MailClientTesting.h"
#include "mail/Module1.h"
#include "mail/Module1Testing.h"
#include "patrol/Patrol.h"
#include "patrol/WebEngineBrowser.h"
#include "platform/MessagePump.h"
#include "settings/clINI.h"
#include "settings/dialog/Form2.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

// The largest lateness of a 10 ms timer while it runs, the gap before stop() included.
class StallMeter
{
public:
    StallMeter()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { note(); });
    }
    void start()
    {
        m_worstNs = 0;
        m_clock.start();
        m_last = 0;
        m_timer.start();
    }
    double stopMs()
    {
        note();
        m_timer.stop();
        return double(m_worstNs) / 1e6;
    }

private:
    void note()
    {
        const qint64 now = m_clock.nsecsElapsed();
        m_worstNs = std::max(m_worstNs, now - m_last - 10'000'000);
        m_last = now;
    }
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_worstNs = 0;
};

struct Server
{
    QProcess process;
    int port = 0;

    bool start(const QStringList &arguments)
    {
        process.start(u"/usr/bin/python3"_s, arguments);
        if (!process.waitForStarted(10000) || !process.waitForReadyRead(10000))
            return false;
        port = process.readLine().trimmed().split(' ').value(0).toInt();
        return port > 0;
    }
    ~Server()
    {
        process.closeWriteChannel();
        if (!process.waitForFinished(3000)) {
            process.kill();
            process.waitForFinished(3000);
        }
    }
};

QString historyLine(int i)
{
    QString s = u"%1:"_s.arg(i);
    while (s.size() < 500)
        s += u"巡回で見つかった新しい行です。"_s;
    return s.left(500);
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

QByteArray pageOfLines(int count)
{
    QByteArray html = "<html><head><meta charset='utf-8'><title>lines</title></head><body>";
    for (int i = 0; i < count; ++i)
        html += u"<div>%1 行目 大阪の天気と東京のニュース 価格%2円</div>"_s.arg(i).arg(i % 997).toUtf8();
    return html + "</body></html>";
}

QByteArray pageLinkingIntoItself(int links)
{
    QByteArray html = "<html><head><meta charset='utf-8'><title>目次</title></head><body>";
    for (int i = 0; i < links; ++i)
        html += u"<p><a href='#s%1'>節 %1</a></p>"_s.arg(i).toUtf8();
    for (int i = 0; i < links; ++i)
        html += u"<h2 id='s%1'>節 %1 の本文</h2><p>説明 %1</p>"_s.arg(i).toUtf8();
    return html + "</body></html>";
}

struct Row
{
    QString phase;
    QString target;
    double limitMs;
    std::vector<double> stallsMs;
    std::vector<double> durationsMs;
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

class Bench
{
public:
    bool setUp()
    {
        if (!m_dir.isValid())
            return false;
        const QString servers = QStringLiteral(KORVANI_SOURCE_DIR "/tests");
        const bool ok = m_pages.start({servers + u"/patrol/page_server.py"_s, u"--pages"_s, m_dir.path()})
            && m_silentSmtp.start({servers + u"/mail/servers/slow_server.py"_s, u"--silent"_s})
            && m_slowSmtp.start({servers + u"/mail/servers/slow_server.py"_s, u"--delay"_s, u"5"_s})
            && m_fastSmtp.start({servers + u"/mail/servers/slow_server.py"_s})
            && m_silentPop.start({servers + u"/mail/servers/slow_server.py"_s, u"--silent"_s, u"--pop"_s});
        writeFile(m_dir.filePath(u"small.html"_s), pageOfLines(50));
        writeFile(m_dir.filePath(u"lines10000.html"_s), pageOfLines(10000));
        writeFile(m_dir.filePath(u"lines100000.html"_s), pageOfLines(100000));
        writeFile(m_dir.filePath(u"toc.html"_s), pageLinkingIntoItself(50));
        return ok;
    }

    QString page(const QString &name) const { return u"http://127.0.0.1:%1/files/%2"_s.arg(m_pages.port).arg(name); }

    // A settings folder with these MAIL values, 100 conditions and a history of n + 1 entries.
    QString folder(const QList<std::pair<QString, QString>> &mail, int historyLimit = 500)
    {
        const QString path = m_dir.filePath(u"run%1"_s.arg(++m_runs));
        QDir().mkpath(path);
        clINI ini(path);
        ini.SaveSetting(u"MAIL"_s, u"TIMERTIME"_s, u"3600"_s);
        ini.SaveSetting(u"MAIL"_s, u"RIREKISUU"_s, QString::number(historyLimit));
        for (const auto &[key, value] : mail)
            ini.SaveSetting(u"MAIL"_s, key, value);
        for (int i = 0; i < 99; ++i)
            ini.SaveSetting(u"KEYWORD"_s, u"KEY%1"_s.arg(i), u"条件%1 -除外%1"_s.arg(i));
        for (int i = 0; i <= historyLimit; ++i)
            ini.SaveSetting(u"RIREKI"_s, u"TEXT%1"_s.arg(i), historyLine(i));
        ini.commit();
        return path;
    }

    // One page check (and its links) in a fresh window; the stall and the time of the part measured.
    std::pair<double, double> check(
        const QString &settings, const QString &address, const QString &hitCondition, bool followLinks)
    {
        Module1::testing::reset();
        Module1::testing::setSettingsFolder(settings);
        Form1 w;
        w.setSettingsFolder(settings);
        w.show();
        w.Timer1->stop();
        w.ListKeyWord->item(99)->setText(hitCondition);
        // The browser is warm and the page loaded once, so the phase is what is measured; its hits
        // are new again.
        w.patrol()->CheckPage(address);
        w.List3->clear();
        QElapsedTimer clock;
        m_meter.start();
        clock.start();
        if (followLinks) {
            w.patrol()->CheckPage(address);
            clock.restart();
            w.patrol()->FollowLinks();
        } else {
            w.patrol()->CheckPage(address);
        }
        const double duration = double(clock.nsecsElapsed()) / 1e6;
        const double stall = m_meter.stopMs();
        w.Form_Unload();
        return {stall, duration};
    }

    // A visit whose hit mail the server takes, in a window whose history holds n + 1 entries of 500
    // characters: the whole file is saved before the patrol goes on. Each visit finds a new line.
    std::pair<double, double> savedCheck(const QString &settings, int visits)
    {
        Module1::testing::reset();
        Module1::testing::setSettingsFolder(settings);
        Form1 w;
        w.setSettingsFolder(settings);
        w.show();
        w.Timer1->stop();
        w.ListKeyWord->item(99)->setText(u"新着"_s);
        const auto visit = [&] {
            writeFile(m_dir.filePath(u"fresh.html"_s),
                u"<html><head><meta charset='utf-8'></head><body><div>新着 %1 番</div><div>おわり</div></body></html>"_s
                    .arg(++m_fresh)
                    .toUtf8());
            w.patrol()->CheckPage(page(u"fresh.html"_s));
        };
        // The first hit after the start indexes the history once; that belongs to the start.
        visit();
        QElapsedTimer clock;
        m_meter.start();
        clock.start();
        for (int i = 0; i < visits; ++i)
            visit();
        const double duration = double(clock.nsecsElapsed()) / 1e6 / visits;
        const double stall = m_meter.stopMs();
        w.Form_Unload();
        return {stall, duration};
    }

    // The settings dialog's 登録, every 50 ms while the window's saver writes the whole file on its
    // own thread. Each value must be read back at once and be in the file once the save is done.
    std::pair<double, double> registerWhileSaving(const QString &settings)
    {
        Form1 w;
        w.setSettingsFolder(settings);
        w.Form_Load();
        w.Timer1->stop();
        auto *saver = w.findChild<SettingsSaver *>();
        Form2 dialog(settings);
        QElapsedTimer clock;
        m_meter.start();
        clock.start();
        w.List3->item(0)->setText(u"新着 %1"_s.arg(++m_fresh));
        w.listsEdited();
        while (!saver->saving())
            pump::waitForEvents(5);
        int registered = 0;
        bool lost = false;
        // A quick hand, not a loop that would keep the save busy with the writes handed to it.
        while (saver->saving() && registered < 20) {
            dialog.TxtFrom->setText(u"bench%1@example.test"_s.arg(++registered));
            dialog.StoreSettings();
            lost = lost || clINI(settings).GetSetting(u"MAIL"_s, u"FROM"_s, QString()) != dialog.TxtFrom->text();
            pump::waitForEvents(50);
        }
        while (saver->saving())
            pump::waitForEvents(5);
        const double duration = double(clock.nsecsElapsed()) / 1e6;
        const double stall = m_meter.stopMs();
        QFile file(settings + u"/KVN.ini"_s);
        const QByteArray last = dialog.TxtFrom->text().toUtf8();
        if (lost || !file.open(QIODevice::ReadOnly)
            || PrivateProfile::parse(file.readAll()).value("MAIL", "FROM").value_or(QByteArray()) != last)
            std::fprintf(stderr, "responsiveness: a 登録 made during the save was lost\n");
        w.Form_Unload();
        return {stall, duration};
    }

    // Start-up and shut-down of a window whose history holds n + 1 entries of 500 characters.
    std::pair<double, double> startAndEnd(const QString &settings)
    {
        QElapsedTimer clock;
        Form1 w;
        w.setSettingsFolder(settings);
        clock.start();
        w.Form_Load();
        const double load = double(clock.nsecsElapsed()) / 1e6;
        w.Timer1->stop();
        clock.restart();
        w.Form_Unload();
        return {load, double(clock.nsecsElapsed()) / 1e6};
    }

    std::vector<Row> run(int repetitions, bool quick, const QString &only)
    {
        std::vector<Row> rows;
        auto measure = [&](const QString &phase, int reps, std::function<std::pair<double, double>()> once) {
            if (!phase.contains(only))
                return;
            Row r {phase, u"100 ms"_s, 100, {}, {}};
            for (int i = 0; i < reps; ++i) {
                const auto [stall, duration] = once();
                r.stallsMs.push_back(stall);
                r.durationsMs.push_back(duration);
                std::fprintf(stderr, "%s: %.1f ms stall, %.0f ms\n", qPrintable(phase), stall, duration);
            }
            rows.push_back(std::move(r));
        };
        const QString plain = folder({});
        measure(
            u"loading a page"_s, repetitions, [&] { return check(plain, page(u"small.html"_s), u"大阪"_s, false); });
        measure(u"examining 10,000 lines"_s, repetitions,
            [&] { return check(plain, page(u"lines10000.html"_s), u"価格99[0-9]円"_s, false); });
        measure(u"examining 100,000 lines"_s, std::max(1, repetitions / 2),
            [&] { return check(plain, page(u"lines100000.html"_s), u"価格99[0-9]円"_s, false); });
        measure(u"link following, 50 links into the page"_s, repetitions,
            [&] { return check(plain, page(u"toc.html"_s), u"@ 節"_s, true); });
        if (!quick) {
            const int mailRepetitions = std::max(1, repetitions / 2);
            const QList<std::pair<QString, QString>> mailTo {
                {u"FROM"_s, u"korvani@example.test"_s}, {u"TO"_s, u"bench@example.test"_s}};
            auto with = [&](QList<std::pair<QString, QString>> extra) {
                extra.append(mailTo);
                return folder(extra);
            };
            // A silent server is given up after 8 s here; the program's own limit is 60 s.
            mail::testing::setTimeouts(20000, 8000);
            const QString silent = with({{u"SMTP_SERVER"_s, u"127.0.0.1:%1"_s.arg(m_silentSmtp.port)}});
            measure(u"hit mail, server never speaks"_s, mailRepetitions,
                [&] { return check(silent, page(u"small.html"_s), u"大阪"_s, false); });
            mail::testing::reset();
            const QString slow = with({{u"SMTP_SERVER"_s, u"127.0.0.1:%1"_s.arg(m_slowSmtp.port)}});
            measure(u"hit mail, server answers after 5 s"_s, mailRepetitions,
                [&] { return check(slow, page(u"small.html"_s), u"大阪"_s, false); });
            mail::testing::setTimeouts(20000, 8000);
            const QString pop = with({{u"SMTP_SERVER"_s, u"127.0.0.1:1"_s}, {u"CHECK2"_s, u"1"_s},
                {u"POP_SERVER"_s, u"127.0.0.1:%1"_s.arg(m_silentPop.port)}, {u"POP_ACCOUNT"_s, u"u"_s},
                {u"POP_PASSWORD"_s, u"p"_s}});
            measure(u"POP login, server never speaks"_s, mailRepetitions,
                [&] { return check(pop, page(u"small.html"_s), u"大阪"_s, false); });
            mail::testing::reset();
            QList<std::pair<QString, QString>> fast {{u"SMTP_SERVER"_s, u"127.0.0.1:%1"_s.arg(m_fastSmtp.port)}};
            fast.append(mailTo);
            const QString big = folder(fast, 32766);
            measure(u"5 visits, each mail taken and saved, 32,767 history entries"_s, mailRepetitions,
                [&] { return savedCheck(big, 5); });
        }
        if (u"登録 while a save of 32,767 entries runs"_s.contains(only)) {
            const QString big = folder({}, 32766);
            measure(u"登録 while a save of 32,767 entries runs"_s, std::max(1, repetitions / 2),
                [&] { return registerWhileSaving(big); });
        }
        for (int n : {500, 32766}) {
            if (!u"start-up shut-down"_s.contains(only))
                break;
            const QString settings = folder({}, n);
            Row load {u"start-up, %1 history entries"_s.arg(n + 1), u"2 s"_s, 2000, {}, {}};
            Row end {u"shut-down, %1 history entries"_s.arg(n + 1), u"2 s"_s, 2000, {}, {}};
            for (int i = 0; i < std::max(1, repetitions / 2); ++i) {
                const auto [l, e] = startAndEnd(settings);
                load.stallsMs.push_back(l);
                end.stallsMs.push_back(e);
                std::fprintf(stderr, "%d entries: start-up %.0f ms, shut-down %.0f ms\n", n + 1, l, e);
            }
            rows.push_back(std::move(load));
            rows.push_back(std::move(end));
        }
        return rows;
    }

private:
    QTemporaryDir m_dir;
    Server m_pages, m_silentSmtp, m_slowSmtp, m_fastSmtp, m_silentPop;
    StallMeter m_meter;
    int m_runs = 0;
    int m_fresh = 0;
};

} // namespace

int main(int argc, char **argv)
{
    mail::initialize();
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    WebEngineBrowser::prepareEnvironment();
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int repetitions = std::max(1, args.value(args.indexOf(u"--repetitions"_s) + 1, u"5"_s).toInt());
    const bool quick = args.contains(u"--quick"_s);
    const qsizetype jsonAt = args.indexOf(u"--json"_s);

    Bench bench;
    if (!bench.setUp()) {
        std::fprintf(stderr, "responsiveness: the servers did not start\n");
        return 1;
    }
    const qsizetype onlyAt = args.indexOf(u"--only"_s);
    const std::vector<Row> rows = bench.run(repetitions, quick, onlyAt >= 0 ? args.value(onlyAt + 1) : QString());

    std::printf("%-42s %12s %12s %12s  %-6s %s\n", "phase (stall)", "median", "worst", "target", "", "phase took");
    QJsonArray json;
    for (const Row &r : rows) {
        const double worst = *std::max_element(r.stallsMs.begin(), r.stallsMs.end());
        const double med = median(r.stallsMs);
        const QString took = r.durationsMs.empty() ? QString() : u"%1 ms"_s.arg(median(r.durationsMs), 0, 'f', 0);
        std::printf("%-42s %9.1f ms %9.1f ms %12s  %-6s %s\n", qPrintable(r.phase), med, worst,
            qPrintable(u"< "_s + r.target), worst < r.limitMs ? "ok" : "MISSED", qPrintable(took));
        json.append(QJsonObject {{u"phase"_s, r.phase}, {u"median_ms"_s, med}, {u"worst_ms"_s, worst},
            {u"limit_ms"_s, r.limitMs}, {u"duration_median_ms"_s, median(r.durationsMs)}});
    }
    if (jsonAt >= 0)
        writeFile(args.value(jsonAt + 1), QJsonDocument(json).toJson());
    return 0;
}
