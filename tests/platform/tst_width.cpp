#include "platform/Clip.h"
#include "platform/Width.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestWidth : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void narrow_data();
    void narrow();
    void wide_data();
    void wide();
    void clipped_data();
    void clipped();
};

void TestWidth::narrow_data()
{
    QTest::addColumn<QString>("in");
    QTest::addColumn<QString>("out");
    QTest::newRow("letters, digits, ideographic space") << u"ＡＢＣ１２３　"_s << u"ABC123 "_s;
    QTest::newRow("condition typed full-width") << u"ＡＢＣ　１２３"_s << u"ABC 123"_s;
    QTest::newRow("full-width symbols") << u"！＃＄％＆（）＝｜＋"_s << u"!#$%&()=|+"_s;
    QTest::newRow("full-width backslash stays") << u"＼"_s << u"＼"_s;
    QTest::newRow("full-width tilde becomes ~") << u"～"_s << u"~"_s;
    QTest::newRow("wave dash stays") << u"〜"_s << u"〜"_s;
    QTest::newRow("punctuation") << u"、。「」・ー゛゜"_s << u"､｡｢｣･ｰﾞﾟ"_s;
    QTest::newRow("combining sound marks") << u"\u3099\u309A"_s << u"ﾞﾟ"_s;
    QTest::newRow("plain katakana") << u"カタカナ"_s << u"ｶﾀｶﾅ"_s;
    QTest::newRow("voiced splits") << u"ガパヴ"_s << u"ｶﾞﾊﾟｳﾞ"_s;
    QTest::newRow("wa and wo voiced") << u"ヷヺ"_s << u"ﾜﾞｦﾞ"_s;
    QTest::newRow("vi ve and voiced iteration") << u"ヸヹヾ"_s << u"ヰﾞヱﾞヽﾞ"_s;
    QTest::newRow("katakana without half form stay") << u"ヮヰヱヵヶヽ"_s << u"ヮヰヱヵヶヽ"_s;
    QTest::newRow("small kana convert") << u"ァッャ"_s << u"ｧｯｬ"_s;
    QTest::newRow("hiragana and kanji stay") << u"ひらがな漢字"_s << u"ひらがな漢字"_s;
    QTest::newRow("quotes") << u"’”‘“"_s << u"'\"‘“"_s;
    QTest::newRow("currency and signs") << u"￠￡￢￣￤￥￦"_s << u"¢£¬¯¦¥₩"_s;
    QTest::newRow("box drawing and arrows stay") << u"│■○←↑→↓"_s << u"│■○←↑→↓"_s;
    QTest::newRow("hangul stays") << u"한글"_s << u"한글"_s;
    QTest::newRow("half-width input unchanged") << u"abc ｶﾞ ~"_s << u"abc ｶﾞ ~"_s;
    QTest::newRow("emoji unchanged") << u"a😀b"_s << u"a😀b"_s;
    QTest::newRow("empty") << QString() << QString();
}

void TestWidth::narrow()
{
    QFETCH(QString, in);
    QFETCH(QString, out);
    QCOMPARE(width::narrow(in), out);
}

void TestWidth::wide_data()
{
    QTest::addColumn<QString>("in");
    QTest::addColumn<QString>("out");
    QTest::newRow("letters digits space") << u"ABC 123"_s << u"ＡＢＣ　１２３"_s;
    QTest::newRow("symbols of a form") << u"+=&|%?/:"_s << u"＋＝＆｜％？／："_s;
    QTest::newRow("backslash stays") << u"\\"_s << u"\\"_s;
    QTest::newRow("quotes") << u"'\""_s << u"＇＂"_s;
    QTest::newRow("tilde") << u"~"_s << u"～"_s;
    QTest::newRow("yen") << u"¥"_s << u"￥"_s;
    QTest::newRow("half katakana") << u"ｶﾀｶﾅ"_s << u"カタカナ"_s;
    QTest::newRow("voiced composes") << u"ｶﾞﾊﾟｳﾞ"_s << u"ガパヴ"_s;
    QTest::newRow("wa voiced composes") << u"ﾜﾞｦﾞ"_s << u"ヷヺ"_s;
    QTest::newRow("mark after a letter that takes none") << u"ｱﾞ"_s << u"ア゛"_s;
    QTest::newRow("lone marks") << u"ﾞﾟ"_s << u"゛゜"_s;
    QTest::newRow("half punctuation") << u"｡｢｣､･ｰ"_s << u"。「」、・ー"_s;
    QTest::newRow("kanji hiragana full-width stay") << u"漢字ひらＡ"_s << u"漢字ひらＡ"_s;
    QTest::newRow("condition with alternatives") << u"@ 大阪|兵庫"_s << u"＠　大阪｜兵庫"_s;
}

void TestWidth::wide()
{
    QFETCH(QString, in);
    QFETCH(QString, out);
    QCOMPARE(width::wide(in), out);
}

QTEST_GUILESS_MAIN(TestWidth)
// Text shown where only its start fits: the one rule of the log, the notifications and the marks.
void TestWidth::clipped_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("fits") << u"大阪府"_s << u"大阪府"_s;
    QTest::newRow("clipped") << u"大阪府大阪市"_s << u"大阪府…"_s;
    QTest::newRow("never half a pair") << u"大阪\U00020BB7"_s << u"大阪…"_s;
}

void TestWidth::clipped()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QCOMPARE(::clipped(text, 3), shown);
}

#include "tst_width.moc"
