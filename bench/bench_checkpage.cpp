// One page check over a scripted page: 10,000 lines of about 40 characters (Japanese and ASCII,
// 2% of them hits), 100 conditions of every kind and a sent history of 501 entries. Two
// references run over the same lines and conditions: the straightforward matcher (every term a
// cached regular expression, tested line by line) and grep -E -f over the first terms, one pass.
#include "../tests/patrol/ScriptedBrowser.h"
#include "mail/Module1.h"
#include "mail/Module1Testing.h"
#include "patrol/ConditionList.h"
#include "patrol/Conditions.h"
#include "patrol/HistoryIndex.h"
#include "patrol/PageText.h"
#include "patrol/Patrol.h"
#include "platform/Width.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

const QStringList kFiller = {u"今日"_s, u"天気"_s, u"ニュース"_s, u"情報"_s, u"更新"_s, u"記事"_s, u"写真"_s,
    u"コメント"_s, u"ランキング"_s, u"特集"_s, u"price"_s, u"news"_s, u"item"_s, u"page"_s, u"login"_s, u"2026年"_s,
    u"12月"_s, u"東京"_s, u"大阪"_s, u"shop"_s, u"のお知らせ"_s, u"一覧"_s, u"ID:"_s};

// Kinds by slot: AND, NOT, alternatives, character class, link-only. Narrowed, as the condition
// editor stores them, so that they meet the narrowed page text.
QString conditionAsTyped(int i)
{
    switch (i % 5) {
    case 0:
        return u"キーワード%1 募集"_s.arg(i);
    case 1:
        return u"限定%1 -終了"_s.arg(i);
    case 2:
        return u"特価%1|セール%1"_s.arg(i);
    case 3:
        return u"型番[A-C]%1"_s.arg(i);
    default:
        return u"@ リンク%1"_s.arg(i);
    }
}

QString condition(int i)
{
    return width::narrow(conditionAsTyped(i));
}

QString hitWords(int i)
{
    switch (i % 5) {
    case 0:
        return u"キーワード%1 の募集"_s.arg(i);
    case 1:
        return u"限定%1 品"_s.arg(i);
    case 2:
        return u"セール%1 中"_s.arg(i);
    default:
        return u"型番B%1 です"_s.arg(i);
    }
}

QStringList pageLines(int count)
{
    QRandomGenerator rng(42);
    QStringList lines;
    lines.reserve(count);
    for (int n = 0; n < count; ++n) {
        QString line;
        while (line.size() < 36) {
            line += kFiller[rng.bounded(int(kFiller.size()))];
            line += rng.bounded(3) == 0 ? u" "_s : QString();
        }
        if (rng.bounded(50) == 0) {
            int c = rng.bounded(100);
            if (c % 5 == 4)
                --c;
            line.insert(rng.bounded(int(line.size())), hitWords(c) + QString::number(n));
        }
        lines.append(width::narrow(line));
    }
    return lines;
}

struct Fixture
{
    QWidget window;
    QListWidget *urls = new QListWidget(&window);
    QListWidget *keywords = new QListWidget(&window);
    QListWidget *list1 = new QListWidget(&window);
    QListWidget *list3 = new QListWidget(&window);
    QLabel *status = new QLabel(&window);
    QPlainTextEdit *text1 = new QPlainTextEdit(&window);
    ScriptedBrowser browser;
    QTemporaryDir dir;
    QStringList history;
    std::unique_ptr<Patrol> patrol;

    explicit Fixture(const QStringList &lines)
    {
        list1->setUniformItemSizes(true);
        for (int i = 0; i < 100; ++i) {
            urls->addItem(QString());
            keywords->addItem(condition(i));
        }
        for (int i = 0; i <= 500; ++i)
            history.append(u"以前に送信した行 %1 ニュース一覧"_s.arg(i));
        ScriptedPage page;
        page.body = lines.join(u"\r\n"_s) + u"\r\n"_s;
        page.title = u"bench"_s;
        browser.addPage(u"http://127.0.0.1/bench"_s, page);
        PatrolWidgets w;
        w.window = &window;
        w.browser = &browser;
        w.ListURL = urls;
        w.ListKeyWord = keywords;
        w.List1 = list1;
        w.List3 = list3;
        w.LaStatus = status;
        w.Text1 = text1;
        const QString folder = dir.path();
        w.settingsFolder = [folder] { return folder; };
        patrol = std::make_unique<Patrol>(w);
        Module1::testing::setSettingsFolder(folder);
        Module1::testing::setSendMail([](auto &&...) { return QString(); });
    }
    void resetHistory()
    {
        list3->clear();
        list3->addItems(history);
    }
};

void CheckPage(benchmark::State &state)
{
    Fixture f(pageLines(int(state.range(0))));
    int hits = 0;
    for (auto _ : state) {
        state.PauseTiming();
        f.resetHistory();
        state.ResumeTiming();
        f.patrol->CheckPage(u"http://127.0.0.1/bench"_s);
        hits = f.list3->count() - 501;
    }
    state.counters["lines"] = double(f.list1->count());
    state.counters["new_hits"] = hits;
}
BENCHMARK(CheckPage)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

// The matcher alone, as the page check uses it.
void Matcher(benchmark::State &state)
{
    const QStringList lines = pageLines(10000);
    QListWidget keywords;
    for (int i = 0; i < 100; ++i)
        keywords.addItem(condition(i));
    ConditionList conditions(&keywords);
    int hits = 0;
    for (auto _ : state) {
        hits = 0;
        for (const QString &line : lines)
            hits += conditions.MatchCondition(line, Conditions::PageMode) ? 1 : 0;
        benchmark::DoNotOptimize(hits);
    }
    state.counters["hits"] = hits;
}
BENCHMARK(Matcher)->Unit(benchmark::kMillisecond)->UseRealTime();

// The work of a page check outside the matcher, each part alone over the same 10,000 lines.

// The page's text turned into half-width.
void PartWidth(benchmark::State &state)
{
    const QString text = pageLines(10000).join(u"\r\n"_s);
    for (auto _ : state)
        benchmark::DoNotOptimize(width::narrow(text));
}
BENCHMARK(PartWidth)->Unit(benchmark::kMillisecond)->UseRealTime();

// Cut into lines, each trimmed and made into its row of List1.
void PartRows(benchmark::State &state)
{
    const QString text = pageLines(10000).join(u"\r\n"_s) + u"\r\n"_s;
    for (auto _ : state) {
        QStringList rows;
        PageText::forEachLine(PageText::cut(text), [&](int i, QStringView line) {
            rows.append(PageText::entry(false, i, line));
            return true;
        });
        benchmark::DoNotOptimize(rows);
    }
}
BENCHMARK(PartRows)->Unit(benchmark::kMillisecond)->UseRealTime();

// The rows into List1 (hidden, as the page check fills it), the rows of the last page going first.
void PartList(benchmark::State &state)
{
    QStringList rows;
    for (const QString &line : pageLines(10000))
        rows.append(PageText::entry(false, int(rows.size()), line));
    QListWidget list;
    list.setUniformItemSizes(true);
    list.addItems(rows);
    for (auto _ : state) {
        list.clear();
        list.addItems(rows);
    }
}
BENCHMARK(PartList)->Unit(benchmark::kMillisecond)->UseRealTime();

// The hit lines looked up in a sent history of 501 entries, built once as it is in a run.
void PartHistory(benchmark::State &state)
{
    QListWidget keywords;
    for (int i = 0; i < 100; ++i)
        keywords.addItem(condition(i));
    ConditionList conditions(&keywords);
    QStringList hits;
    for (const QString &line : pageLines(10000)) {
        if (conditions.MatchCondition(line, Conditions::PageMode))
            hits.append(line);
    }
    QListWidget list;
    for (int i = 0; i <= 500; ++i)
        list.addItem(u"以前に送信した行 %1 ニュース一覧"_s.arg(i));
    HistoryIndex history(&list);
    for (auto _ : state) {
        int found = 0;
        for (const QString &line : std::as_const(hits))
            found += history.contains(line) ? 1 : 0;
        benchmark::DoNotOptimize(found);
    }
    state.counters["lookups"] = double(hits.size());
}
BENCHMARK(PartHistory)->Unit(benchmark::kMillisecond)->UseRealTime();

// One line against 100 conditions whose searches run away: what the step limit and the line's
// time budget hold a line to.
void MatcherGivingUp(benchmark::State &state)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    const QString line(400, u'x');
    QListWidget keywords;
    for (int i = 0; i < 100; ++i)
        keywords.addItem(u"(.?){99}.{99}$"_s);
    ConditionList conditions(&keywords);
    for (auto _ : state)
        benchmark::DoNotOptimize(conditions.MatchCondition(line, Conditions::PageMode));
    qInstallMessageHandler(nullptr);
    state.counters["errors"] = double(conditions.errorCount());
}
BENCHMARK(MatcherGivingUp)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// A line of a megabyte against 100 conditions of 10,000 characters of nested groups, each a
// little different: what a hostile page and a pasted condition cost together.
void MatcherHostileLine(benchmark::State &state)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    QString line;
    line.reserve(1'000'000);
    QRandomGenerator random(19);
    while (line.size() < 1'000'000)
        line += QChar(u'a' + char16_t(random.bounded(26)));
    QListWidget keywords;
    const int depth = int(state.range(0));
    for (int i = 0; i < 100; ++i) {
        // Groups within groups, each with an alternative, until 10,000 characters.
        QString open, close;
        while (open.size() + close.size() + 12 < 10'000) {
            open += u"(?:a|";
            close.prepend(u")*"_s);
            if (open.size() / 5 >= depth) {
                open += u"b"_s + QString::number(i) + close;
                close.clear();
            }
        }
        keywords.addItem(open + u"z"_s + close);
    }
    ConditionList conditions(&keywords);
    // The conditions are prepared at their first use; that is timed on its own.
    QElapsedTimer prepare;
    prepare.start();
    conditions.MatchCondition(u"-"_s, Conditions::PageMode);
    state.counters["prepare_ms"] = double(prepare.elapsed());
    for (auto _ : state)
        benchmark::DoNotOptimize(conditions.MatchCondition(line, Conditions::PageMode));
    qInstallMessageHandler(nullptr);
    state.counters["errors"] = double(conditions.errorCount());
}
BENCHMARK(MatcherHostileLine)->Arg(20)->Arg(400)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// Reference: every term a cached regular expression, conditions walked in order for every line.
void ReferenceRegexPerTerm(benchmark::State &state)
{
    const QStringList lines = pageLines(10000);
    struct Term
    {
        QRegularExpression re;
        bool negative;
    };
    std::vector<std::pair<bool, std::vector<Term>>> conditions;
    for (int i = 0; i < 100; ++i) {
        const QStringList pieces = condition(i).split(u' ');
        std::vector<Term> terms;
        for (const QString &p : pieces) {
            if (p.isEmpty() || p == u"@")
                continue;
            const bool neg = p.startsWith(u'-');
            QRegularExpression re(neg ? p.mid(1) : p, QRegularExpression::CaseInsensitiveOption);
            re.optimize();
            terms.push_back({re, neg});
        }
        conditions.emplace_back(pieces.front() == u"@", std::move(terms));
    }
    int hits = 0;
    for (auto _ : state) {
        hits = 0;
        for (const QString &line : lines) {
            for (const auto &[linkOnly, terms] : conditions) {
                if (linkOnly || terms.empty())
                    continue;
                bool all = true;
                for (const Term &t : terms) {
                    if (t.re.match(line).hasMatch() == t.negative) {
                        all = false;
                        break;
                    }
                }
                if (all) {
                    ++hits;
                    break;
                }
            }
        }
        benchmark::DoNotOptimize(hits);
    }
    state.counters["hits"] = hits;
}
BENCHMARK(ReferenceRegexPerTerm)->Unit(benchmark::kMillisecond)->UseRealTime();

// Reference: grep over the first term of every condition, one pass, the process start included.
void ReferenceGrep(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString linesFile = dir.filePath(u"lines.txt"_s);
    const QString patternsFile = dir.filePath(u"patterns.txt"_s);
    QFile l(linesFile), p(patternsFile);
    if (!l.open(QIODevice::WriteOnly) || !p.open(QIODevice::WriteOnly)) {
        state.SkipWithError("cannot write the input files");
        return;
    }
    l.write(pageLines(10000).join(u'\n').toUtf8() + '\n');
    for (int i = 0; i < 100; ++i) {
        const QStringList pieces = condition(i).split(u' ', Qt::SkipEmptyParts);
        const QString first = pieces.front() == u"@" ? pieces.value(1) : pieces.front();
        p.write(first.toUtf8() + '\n');
    }
    l.close();
    p.close();
    const QByteArray command
        = "grep -E -i -c -f '" + patternsFile.toLocal8Bit() + "' '" + linesFile.toLocal8Bit() + "' > /dev/null";
    for (auto _ : state) {
        if (std::system(command.constData()) < 0)
            state.SkipWithError("grep did not run");
    }
}
BENCHMARK(ReferenceGrep)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
