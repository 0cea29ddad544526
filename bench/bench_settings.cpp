// Start-up and shut-down loads of the settings file with full lists: 100 conditions, 100 addresses
// and 501 history lines of 500 Japanese characters (about 0.5 MB in code page 932); and the save
// that follows each taken mail, at 501 and at 32,768 history entries.
#include "app/SettingsSaver.h"
#include "settings/clINI.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

QString historyLine(int i)
{
    QString s = QStringLiteral("%1:").arg(i);
    while (s.size() < 500)
        s += QStringLiteral("巡回で見つかった新しい行です。");
    return s.left(500);
}

void fillFile(const QString &folder)
{
    clINI ini(folder);
    ini.SaveSetting(Keys::TimerTime, QStringLiteral("60"));
    ini.SaveSetting(Keys::RirekiSuu, QStringLiteral("500"));
    for (int i = 0; i < Keys::kListSlots; ++i) {
        ini.SaveSetting(Keys::Keyword.section, Keys::Keyword.key(i), QStringLiteral("大阪 -東京 条件%1").arg(i));
        ini.SaveSetting(Keys::Url.section, Keys::Url.key(i), QStringLiteral("http://127.0.0.1/page%1?a=1").arg(i));
    }
    for (int i = 0; i <= 500; ++i)
        ini.SaveSetting(Keys::Rireki.section, Keys::Rireki.key(i), historyLine(i));
}

// 703 reads: the start-up sequence of the main window.
void StartUpReads(benchmark::State &state)
{
    QTemporaryDir dir;
    fillFile(dir.path());
    for (auto _ : state) {
        clINI ini(dir.path());
        qsizetype total = 0;
        for (int i = 0; i < Keys::kListSlots; ++i)
            total += ini.GetSetting(Keys::Keyword.section, Keys::Keyword.key(i), QString()).size();
        for (int i = 0; i < Keys::kListSlots; ++i)
            total += ini.GetSetting(Keys::Url.section, Keys::Url.key(i), QString()).size();
        const int n = ini.GetSetting(Keys::RirekiSuu).toInt();
        for (int i = 0; i <= n; ++i)
            total += ini.GetSetting(Keys::Rireki.section, Keys::Rireki.key(i), QString()).size();
        total += ini.GetSetting(Keys::TimerTime).size();
        benchmark::DoNotOptimize(total);
    }
}
BENCHMARK(StartUpReads)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);

// 902 accesses: the shut-down sequence, ending with the file written when the object is dropped.
void ShutDownWrites(benchmark::State &state)
{
    QTemporaryDir dir;
    fillFile(dir.path());
    const QString pristine = dir.filePath(QStringLiteral("pristine.ini"));
    QFile::copy(dir.filePath(QStringLiteral("KVN.ini")), pristine);
    for (auto _ : state) {
        state.PauseTiming();
        QFile::remove(dir.filePath(QStringLiteral("KVN.ini")));
        QFile::copy(pristine, dir.filePath(QStringLiteral("KVN.ini")));
        state.ResumeTiming();
        clINI ini(dir.path());
        for (int i = 0; i < Keys::kListSlots; ++i)
            ini.SaveSetting(Keys::Keyword.section, Keys::Keyword.key(i), QString());
        for (int i = 0; i < Keys::kListSlots; ++i)
            ini.SaveSetting(Keys::Keyword.section, Keys::Keyword.key(i), QStringLiteral("条件%1").arg(i));
        for (int i = 0; i < Keys::kListSlots; ++i)
            ini.SaveSetting(Keys::Url.section, Keys::Url.key(i), QString());
        for (int i = 0; i < Keys::kListSlots; ++i)
            ini.SaveSetting(Keys::Url.section, Keys::Url.key(i), QStringLiteral("http://127.0.0.1/p%1").arg(i));
        const int n = ini.GetSetting(Keys::RirekiSuu).toInt();
        for (int i = 0; i <= n; ++i)
            ini.SaveSetting(Keys::Rireki.section, Keys::Rireki.key(i), historyLine(i + 1));
        benchmark::DoNotOptimize(ini.commit());
    }
}
BENCHMARK(ShutDownWrites)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);

// The whole file written as after a taken mail: one new line on top of a full history, the file
// flushed and renamed into place. It runs on a thread of its own; the patrol waits for it.
void SaveAfterMail(benchmark::State &state)
{
    const int n = int(state.range(0));
    QTemporaryDir dir;
    SettingsSaver::Snapshot snapshot;
    {
        clINI ini(dir.path());
        ini.SaveSetting(Keys::RirekiSuu, QString::number(n));
        for (int i = 0; i < Keys::kListSlots; ++i) {
            snapshot.lists.conditions.append(QStringLiteral("大阪 -東京 条件%1").arg(i));
            snapshot.lists.targets.append(QStringLiteral("http://127.0.0.1/page%1?a=1").arg(i));
        }
        for (int i = 0; i <= n; ++i)
            snapshot.lists.history.append(historyLine(i));
        SettingsSaver::write(ini, snapshot);
        ini.commit();
    }
    int round = 0;
    for (auto _ : state) {
        snapshot.lists.history.prepend(QStringLiteral("新着 %1").arg(++round));
        snapshot.lists.history.removeLast();
        clINI ini(dir.path());
        SettingsSaver::write(ini, snapshot);
        benchmark::DoNotOptimize(ini.commit());
    }
}
BENCHMARK(SaveAfterMail)
    ->Arg(500)
    ->Arg(32767)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// The settings dialog's 登録 on a file whose history holds n + 1 entries, with no save on its way:
// the whole file is written anew on the window's thread.
void DialogSave(benchmark::State &state)
{
    const int n = int(state.range(0));
    QTemporaryDir dir;
    {
        clINI ini(dir.path());
        ini.SaveSetting(Keys::RirekiSuu, QString::number(n));
        for (int i = 0; i <= n; ++i)
            ini.SaveSetting(Keys::Rireki.section, Keys::Rireki.key(i), historyLine(i));
    }
    int round = 0;
    for (auto _ : state) {
        clINI ini(dir.path());
        ini.SaveSetting(Keys::From, QStringLiteral("bench%1@example.test").arg(++round));
    }
}
BENCHMARK(DialogSave)->Arg(500)->Arg(32767)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
