#include "patrol/Conditions.h"
#include "patrol/bregexp.h"

#include <QElapsedTimer>
#include <QTest>

using namespace Qt::StringLiterals;

class TestConditions : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void grammar_data();
    void grammar();
    void regexMatch_data();
    void regexMatch();
    void requiredLiterals_data();
    void requiredLiterals();
    void gateNeverChangesTheAnswer();
    void runawayPattern_endsAsNoMatch();
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
}

void TestConditions::grammar()
{
    QFETCH(QStringList, conditions);
    QFETCH(QString, line);
    QFETCH(bool, page);
    QFETCH(bool, link);
    QCOMPARE(Conditions::matchAny(conditions, line, Conditions::PageMode), page);
    QCOMPARE(Conditions::matchAny(conditions, line, Conditions::LinkMode), link);
    QCOMPARE(Conditions::matchAny(conditions, line, 7), link); // any mode but 1 is link mode
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
    QTest::newRow("escaped dot") << u"a\\.b"_s << QStringList {u"a.b"_s};
    QTest::newRow("group ignored") << u"(x|y)abc"_s << QStringList {u"abc"_s};
    QTest::newRow("alternative without literal") << u"大阪|."_s << QStringList();
    QTest::newRow("counted repeat") << u"ab{0,2}"_s << QStringList();
    QTest::newRow("hex escape") << u"\\x{41}"_s << QStringList();
    QTest::newRow("options") << u"(?x)a b"_s << QStringList();
    QTest::newRow("empty") << QString() << QStringList();
    QTest::newRow("bracket member") << u"[]a]bc"_s << QStringList {u"bc"_s};
    QTest::newRow("POSIX class") << u"[[:digit:]]x"_s << QStringList {u"x"_s};
    QTest::newRow("optional character outside the BMP") << u"ab\U0001F600?c"_s << QStringList {u"ab"_s};
    QTest::newRow("verb") << u"a(*ACCEPT)bcd"_s << QStringList();
}

void TestConditions::requiredLiterals()
{
    QFETCH(QString, pattern);
    QFETCH(QStringList, gate);
    QCOMPARE(Conditions::requiredLiterals(pattern), gate);
}

// The literal pre-test only ever skips searches that cannot match: over many patterns and lines
// the answer is the one the regular-expression search alone gives.
void TestConditions::gateNeverChangesTheAnswer()
{
    const QStringList patterns {u"大阪"_s, u"小[1-6]"_s, u"colou?r"_s, u"a+b"_s, u"(ab|cd)e"_s, u"x|y|zz"_s,
        u"中学[1-3]"_s, u"^abc"_s, u"abc$"_s, u"a\\.b"_s, u"[a-c]+d"_s, u"ab*c"_s, u"東京|."_s, u"\\d+円"_s,
        u"[]x]yz"_s, u"Ab\\|Cd"_s, u"k"_s, u"[[:digit:]]円"_s, u"ab\U0001F600?"_s, u"a(*ACCEPT)bcd"_s,
        u"\U0001F600*x"_s};
    const QStringList lines {u"大阪府"_s, u"小3"_s, u"color"_s, u"colour"_s, u"aab"_s, u"cde"_s, u"zz top"_s,
        u"中学2"_s, u"abcdef"_s, u"xxabc"_s, u"a.b"_s, u"axb"_s, u"bbd"_s, u"ac"_s, u"100円"_s, u"]yz"_s, u"ab|cd"_s,
        u"\u212A"_s, u"ABC"_s, u"ab\U0001F600"_s, u"ax"_s, QString()};
    for (const QString &p : patterns) {
        const Conditions::Condition c = Conditions::parse(p);
        for (const QString &l : lines) {
            const bool expected = !l.isEmpty() && bregexp::search(p, l);
            QVERIFY2(Conditions::hits(c, l, l.toCaseFolded(), Conditions::PageMode) == expected,
                qPrintable(p + u" on "_s + l));
            QVERIFY2(Conditions::ConditionSet({p}).match(l, Conditions::PageMode) == expected,
                qPrintable(p + u" in a set on "_s + l));
        }
    }
    // Many conditions sharing literals, with negative and link-only ones: the set answers as the
    // conditions tried one after another do.
    QStringList conditions;
    for (int i = 0; i < patterns.size(); ++i) {
        conditions << (i % 3 == 0 ? u"-"_s : QString()) + patterns[i] + u" "_s + patterns[(i + 5) % patterns.size()];
        conditions << u"@ "_s + patterns[i];
    }
    const Conditions::ConditionSet set(conditions);
    for (const QString &l : lines) {
        for (quint8 mode : {Conditions::PageMode, Conditions::LinkMode}) {
            bool expected = false;
            for (const QString &text : conditions)
                expected = expected
                    || (!l.isEmpty() && Conditions::hits(Conditions::parse(text), l, l.toCaseFolded(), mode));
            QVERIFY2(set.match(l, mode) == expected, qPrintable(l));
        }
    }
}

void TestConditions::runawayPattern_endsAsNoMatch()
{
    const QString line = QString(40, u'a') + u'b';
    QElapsedTimer t;
    t.start();
    QVERIFY(!Conditions::matchAny({u"(a+)+$"_s}, line, Conditions::PageMode));
    QVERIFY(!bregexp::RegexMatch(u"/(a+)+$/gik"_s, QString(5000, u'a') + u'b'));
    qInfo("runaway searches ended after %lld ms", static_cast<long long>(t.elapsed()));
}

QTEST_GUILESS_MAIN(TestConditions)
#include "tst_conditions.moc"
