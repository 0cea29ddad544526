#include "PlainConditions.h"
#include "patrol/ConditionAdvice.h"
#include "patrol/ConditionList.h"
#include "patrol/Conditions.h"
#include "patrol/LiteralScan.h"
#include "patrol/bregexp.h"

#include <QListWidget>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// The grammar evaluated the plain way, on the text the matcher searches (lone surrogates replaced).
bool plainFound(const QString &pattern, const QString &line)
{
    return PlainConditions().found(pattern, bregexp::wellFormed(line)).value_or(false);
}

bool plainHits(const QStringList &conditions, const QString &line, quint8 mode)
{
    return PlainConditions().hits(conditions, bregexp::wellFormed(line), mode) == PlainConditions::Answer::Hit;
}

// The matcher as the patrol uses it: the condition list box, read through ConditionList.
bool listMatches(const QStringList &conditions, const QString &line, quint8 mode)
{
    QListWidget list;
    list.addItems(conditions);
    ConditionList matcher(&list);
    return matcher.MatchCondition(line, mode);
}

int warnings = 0;
QString lastWarning;
void countWarnings(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtWarningMsg) {
        ++warnings;
        lastWarning = message;
    }
}

} // namespace

class TestConditions : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void grammar_data();
    void grammar();
    void onlyTheFirstHundredSlotsCount();
    void listEdit_takesEffectWithTheNextLine();
    void regexMatch_data();
    void regexMatch();
    void requiredLiterals_data();
    void requiredLiterals();
    void gateNeverChangesTheAnswer();
    void literalScan_data();
    void literalScan();
    void literalScan_tooLargeForItsTable_missesNothing();
    void foldAgreesWithTheEngine();
    void boundedSearch_agreesWithPlain_data();
    void boundedSearch_agreesWithPlain();
    void boundedSearch_endsAtItsDeadline_data();
    void boundedSearch_endsAtItsDeadline();
    void boundedSearch_longLines();
    void runawayPattern_isAnErrorOfItsCondition_data();
    void runawayPattern_isAnErrorOfItsCondition();
    void runawayPattern_toldOnce();
    void lineBudget_spentMakesTheRestErrors();
    void conditionBudget_spentIsAnErrorOfItsConditionOnly_data();
    void conditionBudget_spentIsAnErrorOfItsConditionOnly();
    void costlyConditions_leaveTheLineTimeToTheRest();
    void hitPositions_everyConditionTried_data();
    void hitPositions_everyConditionTried();
    void advice_data();
    void advice();
    void listMarks_brokenConditionsInRed();
};

void TestConditions::grammar_data()
{
    QTest::addColumn<QStringList>("conditions");
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("page");
    QTest::addColumn<bool>("link");

    const QStringList none;
    QTest::newRow("empty line hits nothing") << QStringList {u"-x"_s} << QString() << false << false;
    QTest::newRow("word found") << QStringList {u"大阪"_s} << u"大阪府の天気"_s << true << true;
    QTest::newRow("case ignored") << QStringList {u"abc"_s} << u"xABCx"_s << true << true;
    QTest::newRow("AND and NOT hit") << QStringList {u"小[1-6] -大阪 -東京"_s} << u"小3の算数"_s << true << true;
    QTest::newRow("AND and NOT miss") << QStringList {u"小[1-6] -大阪 -東京"_s} << u"東京の小3"_s << false << false;
    QTest::newRow("NOT class digit out of range") << QStringList {u"小[1-6] -大阪"_s} << u"小7"_s << false << false;
    QTest::newRow("class") << QStringList {u"中学[1-3]"_s} << u"中学2年"_s << true << true;
    QTest::newRow("alternative reaches the engine") << QStringList {u"大阪|兵庫"_s} << u"兵庫県"_s << true << true;
    QTest::newRow("link-only") << QStringList {u"@ 大阪|兵庫"_s} << u"大阪"_s << false << true;
    QTest::newRow("link-only miss") << QStringList {u"@ 大阪|兵庫"_s} << u"京都"_s << false << false;
    QTest::newRow("@ alone") << QStringList {u"@"_s} << u"@"_s << false << false;
    QTest::newRow("@ and space") << QStringList {u"@ "_s} << u"x"_s << false << false;
    QTest::newRow("spaces only") << QStringList {u"   "_s} << u"x"_s << false << false;
    QTest::newRow("@ glued is a pattern") << QStringList {u"@大阪"_s} << u"x@大阪x"_s << true << true;
    QTest::newRow("@ glued needs the @") << QStringList {u"@大阪"_s} << u"大阪"_s << false << false;
    QTest::newRow("leading space is not link-only") << QStringList {u" @ 大阪"_s} << u"大阪"_s << true << true;
    QTest::newRow("@ later is ignored") << QStringList {u"大阪 @"_s} << u"大阪"_s << true << true;
    QTest::newRow("double space") << QStringList {u"大阪  東京"_s} << u"東京と大阪"_s << true << true;
    QTest::newRow("double space needs both") << QStringList {u"大阪  東京"_s} << u"大阪"_s << false << false;
    QTest::newRow("lone minus never passes") << QStringList {u"-"_s} << u"x"_s << false << false;
    QTest::newRow("only negative terms") << QStringList {u"-大阪 -東京"_s} << u"名古屋"_s << true << true;
    QTest::newRow("full-width minus is a pattern") << QStringList {u"－大阪"_s} << u"大阪"_s << false << false;
    QTest::newRow("ideographic space does not separate")
        << QStringList {u"大阪\u3000東京"_s} << u"大阪 東京"_s << false << false;
    QTest::newRow("second condition hits")
        << QStringList {u"京都"_s, QString(), u"大阪"_s} << u"大阪"_s << true << true;
    QTest::newRow("invalid patterns are no match")
        << QStringList {u"["_s, u"("_s, u"*"_s} << u"[(*"_s << false << false;
    QTest::newRow("invalid negative passes") << QStringList {u"a -["_s} << u"a["_s << true << true;
    QTest::newRow("slash inside a term") << QStringList {u"a/b"_s} << u"xa/bx"_s << true << true;
    QTest::newRow("no conditions") << none << u"x"_s << false << false;
    QTest::newRow("full-width letters case") << QStringList {u"ａｂｃ"_s} << u"ＡＢＣ"_s << true << true;
    // The surprises the user's guide warns of, and what to write instead.
    QTest::newRow("full-width katakana meet no page text")
        << QStringList {u"ニュース"_s} << u"ﾆｭｰｽ一覧"_s << false << false;
    QTest::newRow("full-width digits meet no page text")
        << QStringList {u"２０２６年"_s} << u"2026年"_s << false << false;
    QTest::newRow("a space splits a pattern") << QStringList {u"Tokyo Tower"_s} << u"Tower of Tokyo"_s << true << true;
    QTest::newRow("a space written as \\x20 hits")
        << QStringList {u"Tokyo\\x20Tower"_s} << u"the Tokyo Tower"_s << true << true;
    QTest::newRow("a leading minus is NOT") << QStringList {u"-5%"_s} << u"割引なし"_s << true << true;
    QTest::newRow("an escaped minus hits") << QStringList {u"\\-5%"_s} << u"価格-5%"_s << true << true;
    QTest::newRow("an escaped dot is a dot") << QStringList {u"3\\.5"_s} << u"3x5"_s << false << false;
    QTest::newRow("an escaped question mark") << QStringList {u"本当\\?"_s} << u"本当"_s << false << false;
    // The engine's compiled form finds this one; its interpreter rightly does not.
    QTest::newRow("possessive group repeat") << QStringList {u"(?:.+|){2}+.{2}x"_s} << u"abcdx"_s << false << false;

    // Patterns that a reading of the syntax by hand gets wrong: the search must still be made.
    QTest::newRow("quoting hides a bracket") << QStringList {u"(\\Q)a(\\E|)"_s} << u"x"_s << true << true;
    QTest::newRow("[: before ] is no POSIX class") << QStringList {u"[[:a]|:]]c"_s} << u"a"_s << true << true;
    QTest::newRow("negated quoting matches everywhere")
        << QStringList {u"x -(\\Q)a(\\E|)"_s} << u"x"_s << false << false;
    QTest::newRow("POSIX class") << QStringList {u"[[:digit:]]円"_s} << u"5円"_s << true << true;
    QTest::newRow("nested group literal") << QStringList {u"(大阪|兵庫)県"_s} << u"兵庫県"_s << true << true;
    QTest::newRow("optional group") << QStringList {u"(大阪)?府"_s} << u"京都府"_s << true << true;
    QTest::newRow("counted repeat of none") << QStringList {u"ab{0}c"_s} << u"ac"_s << true << true;
    QTest::newRow("escape outside the model") << QStringList {u"\\x{5927}阪"_s} << u"大阪"_s << true << true;
    QTest::newRow("line with a lone surrogate") << QStringList {u"abc"_s} << u"abc\xD800"_s << true << true;
    QTest::newRow("negative on a lone surrogate line") << QStringList {u"-abc"_s} << u"abc\xDC00x"_s << false << false;

    // Letters whose case partners are more than one: the pre-test must fold them as the engine does.
    QTest::newRow("sharp s capital") << QStringList {u"\u00DF"_s} << u"x\u1E9E"_s << true << true;
    QTest::newRow("sharp s small") << QStringList {u"\u1E9E"_s} << u"\u00DFx"_s << true << true;
    QTest::newRow("Kelvin sign") << QStringList {u"kg"_s} << u"5\u212AG"_s << true << true;
    QTest::newRow("Kelvin sign in the pattern") << QStringList {u"\u212Ag"_s} << u"kg"_s << true << true;
    QTest::newRow("long s") << QStringList {u"SS"_s} << u"\u017Fs"_s << true << true;
    QTest::newRow("final sigma") << QStringList {u"\u03A3\u03A3"_s} << u"\u03C3\u03C2"_s << true << true;
    QTest::newRow("dotted capital I is no i") << QStringList {u"i"_s} << u"\u0130"_s << false << false;
    QTest::newRow("dotless i is no I") << QStringList {u"I"_s} << u"\u0131"_s << false << false;
    QTest::newRow("outside the BMP") << QStringList {u"\U00010400"_s} << u"\U00010428"_s << true << true;
}

void TestConditions::grammar()
{
    QFETCH(QStringList, conditions);
    QFETCH(QString, line);
    QFETCH(bool, page);
    QFETCH(bool, link);
    QCOMPARE(listMatches(conditions, line, Conditions::PageMode), page);
    QCOMPARE(listMatches(conditions, line, Conditions::LinkMode), link);
    QCOMPARE(listMatches(conditions, line, 7), link); // any mode but 1 is link mode
    // And the table itself agrees with the plain evaluation.
    QCOMPARE(plainHits(conditions, line, Conditions::PageMode), page);
}

void TestConditions::onlyTheFirstHundredSlotsCount()
{
    QStringList conditions(100, QString());
    conditions.append(u"大阪"_s);
    QVERIFY(!listMatches(conditions, u"大阪"_s, Conditions::PageMode));
    conditions[99] = u"大阪"_s;
    QVERIFY(listMatches(conditions, u"大阪"_s, Conditions::PageMode));
}

void TestConditions::listEdit_takesEffectWithTheNextLine()
{
    QListWidget list;
    list.addItems({u"京都"_s, QString()});
    ConditionList matcher(&list);
    QVERIFY(!matcher.MatchCondition(u"大阪"_s, Conditions::PageMode));
    list.item(1)->setText(u"大阪"_s);
    QVERIFY(matcher.MatchCondition(u"大阪"_s, Conditions::PageMode));
    delete list.takeItem(1);
    QVERIFY(!matcher.MatchCondition(u"大阪"_s, Conditions::PageMode));
    list.insertItem(0, u"-京都"_s);
    QVERIFY(matcher.MatchCondition(u"大阪"_s, Conditions::PageMode));
}

void TestConditions::regexMatch_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("match");
    QTest::newRow("delimited") << u"/大阪/gik"_s << u"大阪府"_s << true;
    QTest::newRow("slash inside") << u"/a/b/gik"_s << u"a/b"_s << true;
    QTest::newRow("empty pattern matches") << u"//gik"_s << u"x"_s << true;
    QTest::newRow("case") << u"/ＡＢＣ/gik"_s << u"ａｂｃ"_s << true;
    QTest::newRow("no delimiters") << u"abc"_s << u"abc"_s << false;
    QTest::newRow("one delimiter") << u"/abc"_s << u"abc"_s << false;
    QTest::newRow("does not compile") << u"/(/gik"_s << u"("_s << false;
    QTest::newRow("gives up") << u"/(.?){99}.{99}$/gik"_s << QString(400, u'x') << false;
}

void TestConditions::regexMatch()
{
    QFETCH(QString, pattern);
    QFETCH(QString, target);
    QFETCH(bool, match);
    QCOMPARE(bregexp::RegexMatch(pattern, target), match);
    QCOMPARE(bregexp::RegexMatch(pattern, target), match); // and again from the cache
}

void TestConditions::requiredLiterals_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QStringList>("gate");
    QTest::newRow("plain") << u"大阪"_s << QStringList {u"大阪"_s};
    QTest::newRow("folded") << u"ABC"_s << QStringList {u"abc"_s};
    QTest::newRow("alternatives") << u"大阪|兵庫"_s << QStringList {u"大阪"_s, u"兵庫"_s};
    QTest::newRow("class after") << u"小[1-6]"_s << QStringList {u"小"_s};
    QTest::newRow("optional character dropped") << u"colou?r"_s << QStringList {u"colo"_s};
    QTest::newRow("star") << u"ab*c"_s << QStringList {u"a"_s};
    QTest::newRow("plus keeps the character") << u"ab+c"_s << QStringList {u"ab"_s};
    QTest::newRow("escaped dot") << u"a\\.b"_s << QStringList {u"a.b"_s};
    QTest::newRow("group of literals wins") << u"(大阪|兵庫)県"_s << QStringList {u"大阪"_s, u"兵庫"_s};
    QTest::newRow("longer run wins over a group") << u"(x|y)abc"_s << QStringList {u"abc"_s};
    QTest::newRow("optional group") << u"(大阪)?府"_s << QStringList {u"府"_s};
    QTest::newRow("non-capturing group") << u"(?:a|b)*c"_s << QStringList {u"c"_s};
    QTest::newRow("non-capturing alternatives") << u"x(?:大阪|兵庫)+"_s << QStringList {u"大阪"_s, u"兵庫"_s};
    QTest::newRow("group with an empty alternative") << u"(大阪|)府"_s << QStringList {u"府"_s};
    QTest::newRow("alternative without literal") << u"大阪|."_s << QStringList();
    QTest::newRow("counted repeat from zero") << u"ab{0,2}"_s << QStringList {u"a"_s};
    QTest::newRow("counted repeat from one") << u"xab{1,}"_s << QStringList {u"xab"_s};
    QTest::newRow("lazy and possessive") << u"ab+?c|ab++d"_s << QStringList {u"ab"_s};
    QTest::newRow("empty") << QString() << QStringList();
    QTest::newRow("bracket member") << u"[]a]bc"_s << QStringList {u"bc"_s};
    QTest::newRow("negated bracket member") << u"[^]a]bc"_s << QStringList {u"bc"_s};
    QTest::newRow("escaped bracket in a class") << u"[\\]]bc"_s << QStringList {u"bc"_s};
    QTest::newRow("optional character outside the BMP") << u"ab\U0001F600?c"_s << QStringList {u"ab"_s};
    QTest::newRow("character outside the BMP folded") << u"x\U00010400"_s << QStringList {u"x\U00010428"_s};
    QTest::newRow("Kelvin sign folded") << u"\u212A"_s << QStringList {u"k"_s};
    QTest::newRow("capital sharp s folded") << u"\u1E9E"_s << QStringList {u"\u00DF"_s};
    QTest::newRow("dotted capital I folded") << u"\u0130"_s << QStringList {u"i"_s};

    // Everything the model does not take: no pre-test at all.
    QTest::newRow("quoting") << u"(\\Q)a(\\E|)"_s << QStringList();
    QTest::newRow("quoting alone") << u"\\Qa.b\\E"_s << QStringList();
    QTest::newRow("POSIX class") << u"[[:digit:]]x"_s << QStringList();
    QTest::newRow("[: that is no POSIX class") << u"[[:a]|:]]c"_s << QStringList();
    QTest::newRow("nested class") << u"[a[b]]cd"_s << QStringList();
    QTest::newRow("verb") << u"a(*ACCEPT)bcd"_s << QStringList();
    QTest::newRow("start option") << u"(*UCP)abc"_s << QStringList();
    QTest::newRow("options") << u"(?x)a b"_s << QStringList();
    QTest::newRow("scoped option") << u"(?-i:abc)"_s << QStringList();
    QTest::newRow("look-ahead") << u"(?=abc)abc"_s << QStringList();
    QTest::newRow("look-behind") << u"(?<=x)abc"_s << QStringList();
    QTest::newRow("back reference") << u"(a)\\1bc"_s << QStringList();
    QTest::newRow("conditional") << u"(a)?(?(1)bc|de)"_s << QStringList();
    QTest::newRow("property") << u"\\p{Han}大阪"_s << QStringList();
    QTest::newRow("hex escape") << u"\\x{41}bc"_s << QStringList();
    QTest::newRow("escaped letter") << u"\\ebc"_s << QStringList();
    QTest::newRow("escape in a class") << u"[\\x41]bc"_s << QStringList();
    QTest::newRow("brace that is no repeat") << u"a{x}bc"_s << QStringList();
    QTest::newRow("repeat without lower bound") << u"ab{,2}c"_s << QStringList();
    QTest::newRow("repeat of a repeat") << u"ab{2}{3}c"_s << QStringList();
    QTest::newRow("repeated assertion") << u"abc\\b+"_s << QStringList();
    QTest::newRow("unbalanced") << u"abc)"_s << QStringList();
    QTest::newRow("unclosed group") << u"(abc"_s << QStringList();
    QTest::newRow("unclosed class") << u"abc[d"_s << QStringList();
    QTest::newRow("trailing backslash") << u"abc\\"_s << QStringList();
    QTest::newRow("lone surrogate") << u"abc\xD800"_s << QStringList();
    QTest::newRow("deep nesting") << QString(100, u'(') + u"abc"_s + QString(100, u')') << QStringList();
}

void TestConditions::requiredLiterals()
{
    QFETCH(QString, pattern);
    QFETCH(QStringList, gate);
    QCOMPARE(Conditions::requiredLiterals(pattern), gate);
}

// The literal pre-test only ever skips searches that cannot match: over many patterns and lines
// the answer is the one of the plain evaluation.
void TestConditions::gateNeverChangesTheAnswer()
{
    const QStringList patterns {u"大阪"_s, u"小[1-6]"_s, u"colou?r"_s, u"a+b"_s, u"(ab|cd)e"_s, u"x|y|zz"_s,
        u"中学[1-3]"_s, u"^abc"_s, u"abc$"_s, u"a\\.b"_s, u"[a-c]+d"_s, u"ab*c"_s, u"東京|."_s, u"\\d+円"_s,
        u"[]x]yz"_s, u"Ab\\|Cd"_s, u"k"_s, u"[[:digit:]]円"_s, u"ab\U0001F600?"_s, u"a(*ACCEPT)bcd"_s,
        u"\U0001F600*x"_s, u"(\\Q)a(\\E|)"_s, u"[[:a]|:]]c"_s, u"(大阪|兵庫)県"_s, u"(a|)b{1,3}c"_s, u"ß"_s,
        u"\u212A"_s, u"\u03A3a"_s, u"(?i)x"_s};
    const QStringList lines {u"大阪府"_s, u"小3"_s, u"color"_s, u"colour"_s, u"aab"_s, u"cde"_s, u"zz top"_s,
        u"中学2"_s, u"abcdef"_s, u"xxabc"_s, u"a.b"_s, u"axb"_s, u"bbd"_s, u"ac"_s, u"100円"_s, u"]yz"_s, u"ab|cd"_s,
        u"\u212A"_s, u"ABC"_s, u"ab\U0001F600"_s, u"ax"_s, u"x"_s, u"a"_s, u"兵庫県"_s, u"bbbc"_s, u"\u1E9E"_s,
        u"\u03C2A"_s, u"\u03C3a"_s, QString()};
    for (const QString &p : patterns) {
        const Conditions::ConditionSet set({p});
        for (const QString &l : lines) {
            const bool expected = !l.isEmpty() && plainFound(p, l);
            QVERIFY2(set.match(l, Conditions::PageMode) == expected, qPrintable(p + u" on "_s + l));
        }
    }
    // Many conditions sharing literals, with negative and link-only ones.
    QStringList conditions;
    for (int i = 0; i < patterns.size(); ++i) {
        conditions << (i % 3 == 0 ? u"-"_s : QString()) + patterns[i] + u" "_s + patterns[(i + 5) % patterns.size()];
        conditions << u"@ "_s + patterns[i];
    }
    const Conditions::ConditionSet set(conditions);
    for (const QString &l : lines) {
        for (quint8 mode : {Conditions::PageMode, Conditions::LinkMode})
            QVERIFY2(set.match(l, mode) == plainHits(conditions, l, mode), qPrintable(l));
    }
    QCOMPARE(set.errorCount(), 0u);
}

void TestConditions::literalScan_data()
{
    QTest::addColumn<QStringList>("literals");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<int>>("found");
    QTest::addColumn<bool>("wellFormed");
    QTest::newRow("overlapping") << QStringList {u"he"_s, u"she"_s, u"his"_s, u"hers"_s} << u"ushers"_s
                                 << QList<int> {0, 1, 3} << true;
    QTest::newRow("suffixes of one another")
        << QStringList {u"aaa"_s, u"b"_s, u"aa"_s, u"a"_s} << u"xaaa"_s << QList<int> {0, 2, 3} << true;
    QTest::newRow("a failed match restarts inside itself")
        << QStringList {u"abac"_s, u"bab"_s} << u"ababac"_s << QList<int> {0, 1} << true;
    QTest::newRow("letter case") << QStringList {u"abc"_s} << u"xABc"_s << QList<int> {0} << true;
    QTest::newRow("kelvin sign") << QStringList {u"k"_s} << u"\u212A"_s << QList<int> {0} << true;
    QTest::newRow("supplementary letter")
        << QStringList {u"\U00010428x"_s} << u"\U00010400X"_s << QList<int> {0} << true;
    QTest::newRow("half-width katakana") << QStringList {u"ﾆｭｰｽ"_s, u"ﾆｭｰｽﾞ"_s} << u"今日のﾆｭｰｽ"_s << QList<int> {0}
                                         << true;
    QTest::newRow("lone surrogate") << QStringList {u"a\uFFFD"_s} << u"a\xD800z"_s << QList<int> {0} << false;
    QTest::newRow("lone low surrogate last") << QStringList {u"z"_s} << u"a\xDC00"_s << QList<int>() << false;
    QTest::newRow("absent") << QStringList {u"大阪"_s, u"東京"_s} << u"名古屋大東"_s << QList<int>() << true;
    QTest::newRow("no literals") << QStringList() << u"a\xD800"_s << QList<int>() << false;
    QTest::newRow("empty text") << QStringList {u"a"_s} << QString() << QList<int>() << true;
}

void TestConditions::literalScan()
{
    QFETCH(QStringList, literals);
    QFETCH(QString, text);
    QFETCH(QList<int>, found);
    QFETCH(bool, wellFormed);
    const Conditions::LiteralScan scan(literals);
    std::vector<int> ids;
    QCOMPARE(scan.scan(text, ids), wellFormed);
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    QCOMPARE(QList<int>(ids.begin(), ids.end()), found);
}

// Past the table's size a literal is looked for by its start, and at last everywhere: a scan may
// then find more than there is, never less.
void TestConditions::literalScan_tooLargeForItsTable_missesNothing()
{
    QRandomGenerator random(7);
    for (const int alphabet : {600, 20000}) {
        QStringList literals;
        for (int i = 0; i < 1000; ++i) {
            QString l;
            for (int k = 0; k < 100; ++k)
                l += QChar(char16_t(0x4E00 + random.bounded(alphabet)));
            literals << l;
        }
        const Conditions::LiteralScan scan(literals);
        QVERIFY(scan.m_reach < 100);
        for (int i = 0; i < literals.size(); i += 37) {
            std::vector<int> ids;
            scan.scan(u"x"_s + literals[i] + u"y"_s, ids);
            QVERIFY2(std::find(ids.begin(), ids.end(), i) != ids.end(), qPrintable(QString::number(i)));
        }
        std::vector<int> ids;
        scan.scan(u"plain ASCII"_s, ids);
        QCOMPARE(ids.empty(), scan.m_reach > 0);
    }
}

// Whatever the engine matches without regard to case must fold alike, or the pre-test skips
// a line that holds a hit. Only characters with a case mapping can have a partner.
void TestConditions::foldAgreesWithTheEngine()
{
    QList<char32_t> cased;
    QString subject;
    for (char32_t c = 0; c <= QChar::LastValidCodePoint; ++c) {
        if (QChar::isSurrogate(c))
            continue;
        if (QChar::toLower(c) == c && QChar::toUpper(c) == c && QChar::toTitleCase(c) == c
            && QChar::toCaseFolded(c) == c && Conditions::foldCase(c) == c)
            continue;
        cased.append(c);
        subject += QString::fromUcs4(&c, 1);
    }
    QVERIFY(cased.size() > 2000);
    // The text form folds as the character form does, lone surrogates left alone.
    QString folded;
    for (char32_t c : cased) {
        const char32_t f = Conditions::foldCase(c);
        folded += QString::fromUcs4(&f, 1);
    }
    QCOMPARE(Conditions::foldCase(subject), folded);
    QCOMPARE(Conditions::foldCase(u"A\xD800-\xDC00"_s), u"a\xD800-\xDC00"_s);
    for (char32_t c : cased) {
        const QRegularExpression re(u"\\x{%1}"_s.arg(uint(c), 0, 16), QRegularExpression::CaseInsensitiveOption);
        QRegularExpressionMatchIterator it = re.globalMatch(subject);
        int found = 0;
        while (it.hasNext()) {
            const QString m = it.next().captured();
            const char32_t d = m.toUcs4().value(0);
            ++found;
            QVERIFY2(Conditions::foldCase(d) == Conditions::foldCase(c),
                qPrintable(u"U+%1 and U+%2"_s.arg(uint(c), 4, 16, QChar(u'0')).arg(uint(d), 4, 16, QChar(u'0'))));
        }
        QVERIFY(found >= 1);
    }
}

void TestConditions::boundedSearch_agreesWithPlain_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::newRow("plain") << u"b.d"_s;
    QTest::newRow("start of text") << u"^abc"_s;
    QTest::newRow("\\G") << u"\\Gb"_s;
    QTest::newRow("look-behind") << u"(?<=a)b"_s;
    QTest::newRow("back reference") << u"(b)\\1|c"_s;
    QTest::newRow("open quotation") << u"b\\Qc"_s;
    QTest::newRow("quoted verb") << u"\\Q(*\\E|cd"_s;
    QTest::newRow("escaped verb") << u"\\(*cd"_s;
    QTest::newRow("verb in a class") << u"[(*]cd|bc"_s;
    QTest::newRow("top-level alternatives") << u"zz|cd$"_s;
    QTest::newRow("inline option") << u"(?-i)B|d"_s;
    QTest::newRow("start option") << u"(*UCP)\\bcd"_s;
    QTest::newRow("commit") << u"(*COMMIT)cd"_s;
    QTest::newRow("prune") << u"b(*PRUNE)x|cd"_s;
    QTest::newRow("skip") << u"a(*SKIP)x|bc"_s;
    QTest::newRow("recursion") << u"c(?R)?d"_s;
    QTest::newRow("extended comment") << u"(?x)c d # comment"_s;
    QTest::newRow("callout of its own") << u"(?C1)bc"_s;
    QTest::newRow("invalid") << u"(b"_s;
    QTest::newRow("empty match refused") << u"(*NOTEMPTY)(?n)"_s;
    QTest::newRow("empty match refused at the start") << u"(*NOTEMPTY_ATSTART)z?"_s;
}

// The limits and the deadline of a bounded search change no answer.
void TestConditions::boundedSearch_agreesWithPlain()
{
    QFETCH(QString, pattern);
    const bregexp::Expression e(pattern);
    for (const QString &line :
        {u"abcd"_s, u"xbbd"_s, u"ABCD"_s, u"ccdd"_s, u"b"_s, u"bQc"_s, u"c d"_s, u"(*cd"_s, QString()}) {
        const bool expected = plainFound(pattern, line);
        QVERIFY2((e.search(line) == bregexp::Outcome::Found) == expected, qPrintable(line));
    }
}

void TestConditions::boundedSearch_endsAtItsDeadline_data()
{
    QTest::addColumn<QString>("pattern");
    // Each start position costs millions of steps on the line, below the limit; all of them
    // together take twenty seconds and more, however the pattern is spelt.
    QTest::newRow("plain") << u"(\\w*)(\\w*)\\d"_s;
    QTest::newRow("escaped verb") << u"\\(*(\\w*)(\\w*)\\d"_s;
    QTest::newRow("verb in a class") << u"[(*](\\w*)(\\w*)\\d|(\\w*)(\\w*)\\d"_s;
    QTest::newRow("extended comment") << u"(?x)(\\w*)(\\w*)\\d#c"_s;
    QTest::newRow("open quotation") << u"(\\w*)(\\w*)\\d|\\Q(*"_s;
    QTest::newRow("recursion") << u"(\\w*)(\\w*)\\d|x(?R)"_s;
    QTest::newRow("its own callout") << u"(?C1)(\\w*)(\\w*)\\d"_s;
    QTest::newRow("its own higher limit") << u"(*LIMIT_MATCH=4000000000)(*NO_START_OPT)(\\w*)(\\w*)\\d"_s;
    QTest::newRow("one start position far beyond") << u"(.?){99}.{99}$"_s;
}

void TestConditions::boundedSearch_endsAtItsDeadline()
{
    QFETCH(QString, pattern);
    const QString line(2000, u'a');
    const bregexp::Expression e(pattern);
    QVERIFY(e.isValid());
    const auto outcome = e.search(line, bregexp::kLastLevel, bregexp::Clock::now() + std::chrono::milliseconds(20));
    QVERIFY(outcome == bregexp::Outcome::TimedOut || outcome == bregexp::Outcome::GaveUp);
    // In the matcher it is an error of its condition, and the next condition is still heard.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"condition 0 .* gave up on a line"_s));
    const Conditions::ConditionSet set(
        {pattern, u"a"_s}, {.condition = std::chrono::milliseconds(20), .line = std::chrono::seconds(10)});
    QList<int> positions;
    QVERIFY(set.match(line, Conditions::PageMode, &positions));
    QCOMPARE(positions, QList<int> {1});
    QCOMPARE(set.errorCount(), 1u);
}

void TestConditions::boundedSearch_longLines()
{
    // A cheap pattern searches a line of a megabyte within the limit.
    const QString megabyte = QString(1'000'000, u'x') + u"大阪"_s;
    QCOMPARE(bregexp::Expression(u"大阪"_s).search(megabyte), bregexp::Outcome::Found);
    QCOMPARE(bregexp::Expression(u"\\d{3}-"_s).search(megabyte), bregexp::Outcome::NotFound);
    // A deadline gone by ends the search at its first look at the clock.
    const bregexp::Expression cheap(u"x大阪"_s);
    QCOMPARE(cheap.search(megabyte, 0, bregexp::Clock::now()), bregexp::Outcome::TimedOut);
    QCOMPARE(cheap.search(megabyte, 0), bregexp::Outcome::Found);
    // A condition that a first short search cannot answer is answered later, not given up; its own
    // time is ample, whatever the machine's load.
    const Conditions::ConditionSet set(
        {u"x大阪"_s, u"-x大阪"_s}, {.condition = std::chrono::seconds(60), .line = std::chrono::seconds(60)});
    QList<int> positions;
    QVERIFY(set.match(megabyte, Conditions::PageMode, &positions));
    QCOMPARE(positions, QList<int> {0});
    QCOMPARE(set.errorCount(), 0u);
}

void TestConditions::runawayPattern_isAnErrorOfItsCondition_data()
{
    QTest::addColumn<QString>("condition");
    QTest::addColumn<QString>("line");
    const QString runaway = u"(.?){99}.{99}$"_s;
    // The pattern does match these lines, at a start position far from the first.
    QTest::newRow("positive") << runaway << QString(400, u'x');
    QTest::newRow("negative does not pass") << u"-"_s + runaway << QString(400, u'x');
    QTest::newRow("negative beside a hit") << u"x -"_s + runaway << QString(400, u'x');
    QTest::newRow("nested repeats") << u"(a+)+$"_s << QString(40, u'a') + u'b';
}

void TestConditions::runawayPattern_isAnErrorOfItsCondition()
{
    QFETCH(QString, condition);
    QFETCH(QString, line);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"condition 1 .* gave up on a line"_s));
    const Conditions::ConditionSet set({u"zzz"_s, condition, u"qqq"_s});
    QVERIFY(!set.match(line, Conditions::PageMode));
    QCOMPARE(set.errorCount(), 1u);
}

void TestConditions::runawayPattern_toldOnce()
{
    QListWidget list;
    list.addItems({u"(a+)+$"_s, u"b"_s});
    ConditionList matcher(&list);
    warnings = 0;
    const QtMessageHandler previous = qInstallMessageHandler(countWarnings);
    const QString line = QString(40, u'a') + u'c';
    QVERIFY(!matcher.MatchCondition(line, Conditions::PageMode));
    QVERIFY(!matcher.MatchCondition(line, Conditions::PageMode));
    QVERIFY(matcher.MatchCondition(line + u'b', Conditions::PageMode));
    qInstallMessageHandler(previous);
    QCOMPARE(warnings, 1);
    QCOMPARE(matcher.errorCount(), 3u);
    // An edit prepares the conditions anew; the count goes on.
    list.item(1)->setText(u"z"_s);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"condition 0 .* gave up"_s));
    QVERIFY(!matcher.MatchCondition(line, Conditions::PageMode));
    QCOMPARE(matcher.errorCount(), 4u);

    // A long condition is told by its start.
    const QString longCondition = u"(a+)+$"_s + QString(5000, u'|') + u"z"_s;
    list.item(0)->setText(longCondition);
    const QtMessageHandler again = qInstallMessageHandler(countWarnings);
    QVERIFY(!matcher.MatchCondition(line, Conditions::PageMode));
    qInstallMessageHandler(again);
    QVERIFY(lastWarning.contains(longCondition.left(60) + QChar(0x2026)));
    QVERIFY(lastWarning.size() < 200);
}

void TestConditions::lineBudget_spentMakesTheRestErrors()
{
    // With no time at all, only the first search of a line is made.
    const Conditions::ConditionSet set(
        {u"[a]"_s, u"@ [c]"_s, u"[b]"_s, u"[c]"_s}, {.line = std::chrono::nanoseconds(0)});
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"condition 2 "_s));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"condition 3 "_s));
    QVERIFY(!set.match(u"c"_s, Conditions::PageMode));
    QCOMPARE(set.errorCount(), 2u);
    QVERIFY(set.match(u"a"_s, Conditions::PageMode));
    QCOMPARE(set.errorCount(), 2u);
    // Counted apart from the conditions that gave up on their own.
    const auto standings = set.standings();
    QCOMPARE(standings[2].crowdedOut, 1u);
    QCOMPARE(standings[2].gaveUp, 0u);
}

void TestConditions::conditionBudget_spentIsAnErrorOfItsConditionOnly_data()
{
    QTest::addColumn<QStringList>("conditions");
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("hit");
    QTest::addColumn<QList<int>>("gaveUp");
    // With no time of their own, conditions make their first search only; the line has time
    // enough. Classes carry no literal, so every term is searched.
    QTest::newRow("the next condition is still heard")
        << QStringList {u"[a] [b]"_s, u"[c]"_s} << u"abc"_s << true << QList<int> {0};
    QTest::newRow("a negative term does not pass unsearched")
        << QStringList {u"[a] -[z]"_s} << u"abc"_s << false << QList<int> {0};
    QTest::newRow("every first search is made")
        << QStringList {u"[x]"_s, u"[y]"_s, u"@ [c]"_s, u"[c]"_s} << u"c"_s << true << QList<int>();
    QTest::newRow("a literal test costs no search")
        << QStringList {u"[a] zz"_s, u"[c]"_s} << u"abc"_s << true << QList<int>();
}

void TestConditions::conditionBudget_spentIsAnErrorOfItsConditionOnly()
{
    QFETCH(QStringList, conditions);
    QFETCH(QString, line);
    QFETCH(bool, hit);
    QFETCH(QList<int>, gaveUp);
    const QtMessageHandler previous
        = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    const Conditions::ConditionSet set(
        conditions, {.condition = std::chrono::nanoseconds(0), .line = std::chrono::hours(1)});
    const bool matched = set.match(line, Conditions::PageMode);
    qInstallMessageHandler(previous);
    QCOMPARE(matched, hit);
    QList<int> seen;
    for (const auto &s : set.standings()) {
        QCOMPARE(s.crowdedOut, 0u);
        if (s.gaveUp > 0)
            seen.append(s.position);
    }
    QCOMPARE(seen, gaveUp);
    QCOMPARE(set.errorCount(), quint64(gaveUp.size()));
}

// Costly conditions before a cheap one take more than the line's time together; each is still
// heard first, so the cheap one hits, and each costly one is an error of its own.
void TestConditions::costlyConditions_leaveTheLineTimeToTheRest()
{
    QStringList conditions;
    QString line(40, u'a');
    for (int i = 0; i < 12; ++i) {
        conditions << u"(a|aa)+c%1$"_s.arg(i);
        line += u" c%1"_s.arg(i);
    }
    conditions << u"hello"_s;
    line += u" hello"_s;
    const QtMessageHandler previous
        = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    const Conditions::Budgets budgets {
        .condition = std::chrono::milliseconds(20), .line = std::chrono::milliseconds(100)};
    const Conditions::ConditionSet set(conditions, budgets);
    QList<int> positions;
    const bool every = set.match(line, Conditions::PageMode, &positions);
    const bool first = set.match(line, Conditions::PageMode);
    qInstallMessageHandler(previous);
    QVERIFY(every);
    QCOMPARE(positions, QList<int> {12});
    QVERIFY(first);
    QCOMPARE(set.errorCount(), 24u);
    quint64 crowdedOut = 0;
    for (const auto &s : set.standings()) {
        QCOMPARE(s.gaveUp + s.crowdedOut, s.position == 12 ? 0u : 2u);
        crowdedOut += s.crowdedOut;
    }
    // The line's time did run out: without a first round for every condition, "hello" would not be heard.
    QVERIFY(crowdedOut > 0);
}

void TestConditions::hitPositions_everyConditionTried_data()
{
    QTest::addColumn<QStringList>("conditions");
    QTest::addColumn<QString>("line");
    QTest::addColumn<quint8>("mode");
    QTest::addColumn<QList<int>>("positions");
    const QStringList list {u"大阪"_s, QString(), u"府 -東京"_s, u"@ 大阪"_s, u"京都"_s};
    QTest::newRow("page mode") << list << u"大阪府"_s << quint8(Conditions::PageMode) << QList<int> {0, 2};
    QTest::newRow("link mode") << list << u"大阪府"_s << quint8(Conditions::LinkMode) << QList<int> {0, 2, 3};
    QTest::newRow("none") << list << u"名古屋"_s << quint8(Conditions::PageMode) << QList<int>();
}

void TestConditions::hitPositions_everyConditionTried()
{
    QFETCH(QStringList, conditions);
    QFETCH(QString, line);
    QFETCH(quint8, mode);
    QFETCH(QList<int>, positions);
    const Conditions::ConditionSet set(conditions);
    QList<int> seen;
    QCOMPARE(set.match(line, mode, &seen), !positions.isEmpty());
    QCOMPARE(seen, positions);
    QCOMPARE(set.match(line, mode), !positions.isEmpty());
}

void TestConditions::advice_data()
{
    QTest::addColumn<QString>("condition");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("notice");
    auto unusable = [](const QString &where, const QString &why) {
        return u"正規表現として使えません（"_s + where + u"）："_s + why;
    };
    const QString openParen = u"「(」を閉じる「)」がありません"_s;
    const QString lonelyParen = u"「)」に対応する「(」がありません"_s;
    QTest::newRow("[") << u"["_s << QString() << unusable(u"末尾"_s, u"「[」を閉じる「]」がありません"_s) << QString();
    QTest::newRow("(") << u"("_s << QString() << unusable(u"末尾"_s, openParen) << QString();
    QTest::newRow("*a") << u"*a"_s << QString()
                        << unusable(u"1文字目"_s, u"「*」「+」「?」「{」の前に、繰り返す文字がありません"_s)
                        << QString();
    QTest::newRow("backslash") << u"\\"_s << QString() << unusable(u"末尾"_s, u"「\\」の後に文字がありません"_s)
                               << QString();
    QTest::newRow("escape at the end") << u"ab\\q"_s << QString()
                                       << unusable(u"4文字目"_s, u"「\\」の後に使えない文字があります"_s) << QString();
    QTest::newRow("range") << u"[z-a]"_s << QString()
                           << unusable(u"4文字目"_s, u"「[ ]」の中の範囲（a-z など）が正しくありません"_s) << QString();
    QTest::newRow("lookbehind") << u"(?<=a+)b"_s << QString()
                                << unusable(u"1文字目"_s,
                                       u"後読み「(?<= )」「(?<! )」の中は決まった長さでなければなりません"_s)
                                << QString();
    QTest::newRow("{n,m}") << u"a{2,1}"_s << QString()
                           << unusable(u"6文字目"_s,
                                  u"「{n,m}」の回数が正しくありません（n は m 以下、どちらも 65535 まで）"_s)
                           << QString();
    QTest::newRow("(?Q)")
        << u"(?Q)"_s << QString()
        << unusable(u"3文字目"_s,
               u"「(?」の後に使えない文字があります（使えるのは「(?:」「(?=」「(?!」「(?<=」「(?<!」など）"_s)
        << QString();
    QTest::newRow("too large, 10,000 characters") << u"(?:"_s + QString(9993, u'a') + u"){9}"_s << QString()
                                                  << unusable(u"末尾"_s, u"正規表現が大きすぎます"_s) << QString();
    QTest::newRow("other, in a later negative term")
        << u"大阪 -小[1-6] -[[:x:]]"_s << QString()
        << unusable(u"16文字目"_s, u"その他のエラー：unknown POSIX class name"_s) << QString();
    QTest::newRow("counted in characters")
        << u"\U0001F600[[:x:]]"_s << QString() << unusable(u"5文字目"_s, u"その他のエラー：unknown POSIX class name"_s)
        << QString();
    QTest::newRow("counted as typed") << u"\uFF76\uFF9E)x"_s << u"ガ)x"_s << unusable(u"2文字目"_s, lonelyParen)
                                      << QString();
    QTest::newRow("10,000 characters") << QString(9999, u'a') + u")a"_s << QString()
                                       << unusable(u"10000文字目"_s, lonelyParen) << QString();
    QTest::newRow("fine") << u"小[1-6] -大阪 -東京"_s << QString() << QString() << QString();
    QTest::newRow("full-width katakana") << u"ニュース"_s << QString() << QString()
                                         << u"ページの文字は半角に変換されます：ニュース → ﾆｭｰｽ"_s;
    QTest::newRow("full-width digits and a space") << u"ＡＢＣ　１２３ 大阪"_s << QString() << QString()
                                                   << u"ページの文字は半角に変換されます：ＡＢＣ　１２３ → ABC 123"_s;
}

void TestConditions::advice()
{
    QFETCH(QString, condition);
    QFETCH(QString, typed);
    QFETCH(QString, error);
    QFETCH(QString, notice);
    const std::optional<Conditions::PatternError> e = ConditionAdvice::firstError(condition);
    QCOMPARE(e.has_value(), !error.isEmpty());
    if (e) {
        QCOMPARE(ConditionAdvice::errorText(condition, *e, typed), error);
        // The matcher knows the same fault.
        const auto standings = Conditions::ConditionSet({condition}).standings();
        QCOMPARE(standings.size(), size_t(1));
        QVERIFY(standings[0].error);
        QCOMPARE(standings[0].error->offset, e->offset);
        QCOMPARE(standings[0].error->fault, e->fault);
    }
    QCOMPARE(ConditionAdvice::narrowingNotice(condition), notice);
}

// The list shows what is wrong with a condition by colour and tooltip, and keeps its text.
void TestConditions::listMarks_brokenConditionsInRed()
{
    QListWidget list;
    list.addItems({u"大阪"_s, u"小[1-6"_s, u"(a+)+$"_s, u"ニュース"_s, QString()});
    ConditionList matcher(&list);
    auto red = [&](int row) { return list.item(row)->foreground().color() == QColor(Qt::red); };
    QTRY_VERIFY(red(1));
    QCOMPARE(list.item(1)->toolTip(), u"正規表現として使えません（末尾）：「[」を閉じる「]」がありません"_s);
    QVERIFY(!red(0) && !red(2) && !red(3));
    QVERIFY(list.item(0)->toolTip().isEmpty());
    QCOMPARE(list.item(3)->toolTip(), u"ページの文字は半角に変換されます：ニュース → ﾆｭｰｽ"_s);

    // A condition that gives up on a line of the page is red until the next target's page.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"condition 2 .* gave up"_s));
    QVERIFY(!matcher.MatchCondition(QString(40, u'a') + u'b', Conditions::PageMode));
    QTRY_VERIFY(red(2));
    QVERIFY2(
        list.item(2)->toolTip().contains(u"最後に調べたページの 1 行で判定をあきらめました（起動してから 1 行）"_s),
        qPrintable(list.item(2)->toolTip()));
    matcher.beginPage();
    QVERIFY(!red(2));
    QVERIFY(
        list.item(2)->toolTip().contains(u"最後に調べたページの 0 行で判定をあきらめました（起動してから 1 行）"_s));

    // Mended, the row is shown as any other; the texts were never touched.
    list.item(1)->setText(u"小[1-6]"_s);
    QTRY_VERIFY(!red(1));
    QVERIFY(list.item(1)->toolTip().isEmpty());
    QCOMPARE(list.item(2)->text(), u"(a+)+$"_s);
    QVERIFY(matcher.MatchCondition(u"小3"_s, Conditions::PageMode));
    QCOMPARE(matcher.errorCount(), 1u);
}

QTEST_MAIN(TestConditions)
#include "tst_conditions.moc"
