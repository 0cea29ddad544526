#include "app/CommandLine.h"

#include "app/SingleInstance.h"
#include "patrol/BrowserProfile.h"
#include "patrol/ConditionAdvice.h"
#include "patrol/Conditions.h"
#include "patrol/HitRow.h"
#include "patrol/PageText.h"
#include "patrol/Patrol.h"
#include "patrol/Visit.h"
#include "patrol/WebEngineBrowser.h"
#include "platform/LocaleText.h"
#include "platform/MessagePump.h"
#include "platform/Width.h"
#include "settings/SettingsLocation.h"
#include "settings/clINI.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>

#include <cstdio>
#include <memory>

using namespace Qt::StringLiterals;

namespace CommandLine {
namespace {

void print(std::FILE *to, const QString &text)
{
    const QByteArray bytes = localetext::encode(text + u'\n');
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), to);
}

QString usage()
{
    return QStringList {
        u"使い方: korvani"_s,
        u"        korvani --check [--session] アドレス [検索単語...]"_s,
        u"        korvani --help"_s,
        QString(),
        u"  --check  ウィンドウを開かずにページを読み込み、巡回と同じように半角に変換して切り分けた行を"_s,
        u"           すべて表示し、ヒットした行には検索単語を添えます。検索単語を省くと、保存されている"_s,
        u"           検索単語を使います。メールは送らず、ファイルにも書き込みません。"_s,
        u"           終了コード: 0 ヒットした行がある、1 ない、2 ページを読み込めない（または使い方の誤り）"_s,
        u"  --session  巡回と同じログイン情報を使います（Korvani が動作中でないときだけ）。"_s,
        u"           省くと、ログインしていないブラウザーで読み込みます。"_s,
        u"  --help   この説明を表示します。"_s,
    }
        .join(u'\n');
}

// The saved conditions, read where the window would read them; nothing is made or written.
QStringList savedConditions()
{
    clINI ini(SettingsLocation::readingFolder(SettingsLocation::current()));
    QStringList conditions;
    for (int i = 0; i < Keys::kListSlots; ++i)
        conditions.append(ini.GetSetting(Keys::Keyword.section, Keys::Keyword.key(i), QString()));
    return conditions;
}

// What would keep a condition from hitting as its user expects, on standard error.
void tellAdvice(const QStringList &conditions, const QStringList &typed)
{
    for (int i = 0; i < conditions.size(); ++i) {
        const QString &c = conditions[i];
        if (c.isEmpty())
            continue;
        const QString as = typed.value(i, c);
        if (const std::optional<Conditions::PatternError> e = ConditionAdvice::firstError(c))
            print(stderr, u"korvani: "_s + HitRow::condition(i, as) + u" "_s + ConditionAdvice::errorText(c, *e, as));
        const QString notice = ConditionAdvice::narrowingNotice(as);
        if (!notice.isEmpty())
            print(stderr, u"korvani: "_s + HitRow::condition(i, as) + u" "_s + notice);
    }
}

QString sessionInUseText()
{
    return u"ログイン情報は動作中の Korvani が使っているため、--session は使えません。"_s
           u"--session を付けずに実行するか、Korvani を終了してからもう一度実行してください。"_s;
}

int check(char *program, QByteArrayList arguments)
{
    const bool session = !arguments.isEmpty() && arguments.front() == "--session";
    if (session)
        arguments.removeFirst();
    if (arguments.isEmpty() || arguments.front().isEmpty()) {
        print(stderr, u"korvani: --check にはページのアドレスが必要です\n"_s + usage());
        return 2;
    }
    // No window, whatever the desktop: the check is for a terminal, whose reader wants the lines,
    // not the engine's report on its graphics.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    WebEngineBrowser::prepareEnvironment();
    // After the engine's own rules, which these would otherwise be replaced by.
    QLoggingCategory::setFilterRules(u"qt.*=false"_s);
    // The conditions are no options of Qt's nor of the engine's: a "-" term must not be read as one.
    int qtArgc = 1;
    char *qtArgv[] = {program, nullptr};
    QApplication app(qtArgc, qtArgv);

    const QString address = localetext::decode(arguments.front());
    QStringList typed;
    for (qsizetype i = 1; i < arguments.size(); ++i)
        typed.append(localetext::decode(arguments[i]));
    QStringList conditions;
    if (typed.isEmpty()) {
        conditions = savedConditions();
    } else {
        // As the condition editor stores what is typed.
        for (const QString &t : std::as_const(typed))
            conditions.append(width::narrow(t));
    }
    tellAdvice(conditions, typed);
    const Conditions::ConditionSet set(conditions);

    // The patrol's logins, under the lock of the settings file: never beside a running window.
    std::unique_ptr<SingleInstance> lock;
    std::unique_ptr<BrowserProfile> profile;
    if (session) {
        const QString path = SettingsLocation::filePath(SettingsLocation::readingFolder(SettingsLocation::current()));
        lock = std::make_unique<SingleInstance>(path);
        const SingleInstance::Claim claim = lock->acquire();
        if (claim != SingleInstance::Claim::First) {
            print(stderr,
                u"korvani: "_s
                    + (claim == SingleInstance::Claim::Later ? sessionInUseText()
                                                             : SingleInstance::lockFailedText(lock->failure())));
            return 2;
        }
        profile = std::make_unique<BrowserProfile>(BrowserProfile::folderFor(path));
        if (!profile->trouble().isEmpty())
            print(stderr, u"korvani: "_s + profile->trouble());
    }
    WebEngineBrowser browser(profile.get());
    browser.setSilent(true);
    QElapsedTimer started;
    started.start();
    browser.navigate(address);
    while (browser.busy()) {
        pump::waitForEvents(50);
        if (started.elapsed() / 1000 > Patrol::kLoadLimitSeconds) {
            browser.quit();
            break;
        }
    }
    const LoadResult load = browser.loadResult();
    if (!load.documentArrived()) {
        print(stderr, u"korvani: "_s + address + u" "_s + Visit::outcomeText(load));
        return 2;
    }
    if (load.httpStatus >= 400)
        print(stderr, u"korvani: "_s + address + u" "_s + Visit::outcomeText(load));
    if (!load.complete)
        print(stderr, u"korvani: "_s + address + u" 読み込みが終わらないため、届いた分だけを調べます"_s);

    bool anyHit = false;
    const QString text = width::narrow(browser.bodyInnerText());
    PageText::forEachLine(PageText::cut(text), [&](int index, QStringView line) {
        QList<int> hitBy;
        const bool hit = set.match(line, Conditions::PageMode, &hitBy);
        anyHit = anyHit || hit;
        QString out = PageText::entry(hit, index, line);
        if (hit) {
            QStringList named;
            for (int position : std::as_const(hitBy))
                named.append(HitRow::condition(position, conditions[position]));
            out += u"\n    ヒットした検索単語："_s + named.join(u"、"_s);
        }
        print(stdout, out);
        return true;
    });
    std::fflush(stdout);
    return anyHit ? 0 : 1;
}

} // namespace

std::optional<int> run(int argc, char *argv[])
{
    if (argc < 2)
        return std::nullopt;
    const QByteArray first = argv[1];
    if (first == "--help" || first == "-h") {
        print(stdout, usage());
        return 0;
    }
    // Other arguments are Qt's and the engine's.
    if (first != "--check")
        return std::nullopt;
    QByteArrayList arguments;
    for (int i = 2; i < argc; ++i)
        arguments.append(argv[i]);
    return check(argv[0], arguments);
}

} // namespace CommandLine
