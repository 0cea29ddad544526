#include "platform/CodePage932.h"

#include <QRandomGenerator>
#include <QTest>

using namespace Qt::StringLiterals;

class TestCodePage932 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void decode_data();
    void decode();
    void encode_data();
    void encode();
    void roundTripOfEveryMappedPair();
    void randomBytesNeverCrash();
    void truncateKeepsWholeCharacters();
    void encodedLengthMatchesEncode();
};

void TestCodePage932::decode_data()
{
    QTest::addColumn<QByteArray>("in");
    QTest::addColumn<QString>("out");
    QTest::newRow("backslash and tilde are ASCII") << QByteArray("\x5C\x7E") << u"\\~"_s;
    QTest::newRow("815F full-width backslash") << QByteArray("\x81\x5F") << u"\uFF3C"_s;
    QTest::newRow("8160 full-width tilde") << QByteArray("\x81\x60") << u"\uFF5E"_s;
    QTest::newRow("8161 parallel") << QByteArray("\x81\x61") << u"\u2225"_s;
    QTest::newRow("817C full-width minus") << QByteArray("\x81\x7C") << u"\uFF0D"_s;
    QTest::newRow("8191 8192 81CA") << QByteArray("\x81\x91\x81\x92\x81\xCA") << u"\uFFE0\uFFE1\uFFE2"_s;
    QTest::newRow("NEC row 13") << QByteArray("\x87\x40") << u"\u2460"_s;
    QTest::newRow("NEC-selected IBM") << QByteArray("\xED\x40") << u"\u7E8A"_s;
    QTest::newRow("IBM row") << QByteArray("\xFA\x40") << u"\u2170"_s;
    QTest::newRow("private use") << QByteArray("\xF0\x40\xF9\xFC") << u"\uE000\uE757"_s;
    QTest::newRow("control bytes stay") << QByteArray("\x1A\x1C\x7F") << u"\x1A\x1C\x7F"_s;
    QTest::newRow("half-width katakana") << QByteArray("\xB6\xDE") << u"ｶﾞ"_s;
    QTest::newRow("Japanese text") << QByteArray("\x93\xFA\x96\x7B\x8C\xEA") << u"日本語"_s;
    QTest::newRow("lone lead byte at end") << QByteArray("a\x81") << u"a\uFFFD"_s;
    QTest::newRow("lead byte before a non-trail byte") << QByteArray("\x81\x20z") << u"\uFFFD z"_s;
    QTest::newRow("unmapped pair") << QByteArray("\x85\x40") << u"\uFFFD"_s;
    QTest::newRow("bytes that are never valid")
        << QByteArray("\x80\xA0\xFD\xFE\xFF") << u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"_s;
    QTest::newRow("NUL") << QByteArray("a\0b", 3) << QString(u"a\0b"_s);
}

void TestCodePage932::decode()
{
    QFETCH(QByteArray, in);
    QFETCH(QString, out);
    QCOMPARE(cp932::decode(in), out);
}

void TestCodePage932::encode_data()
{
    QTest::addColumn<QString>("in");
    QTest::addColumn<QByteArray>("out");
    QTest::newRow("ASCII") << u"abc\\~"_s << QByteArray("abc\x5C\x7E");
    QTest::newRow("Japanese") << u"日本語ｶﾞ"_s << QByteArray("\x93\xFA\x96\x7B\x8C\xEA\xB6\xDE");
    QTest::newRow("full-width tilde and backslash") << u"\uFF5E\uFF3C"_s << QByteArray("\x81\x60\x81\x5F");
    QTest::newRow("yen best fit") << u"¥"_s << QByteArray("\x5C");
    QTest::newRow("cent pound not best fit") << u"¢£¬"_s << QByteArray("\x81\x91\x81\x92\x81\xCA");
    QTest::newRow("accents dropped") << u"éÀñ"_s << QByteArray("eAn");
    QTest::newRow("NEC row preferred over IBM for roman numerals") << u"\u2160"_s << QByteArray("\x87\x54");
    QTest::newRow("IBM row preferred for small roman numerals") << u"\u2170"_s << QByteArray("\xFA\x40");
    QTest::newRow("JIS row preferred for because") << u"\u2235"_s << QByteArray("\x81\xE6");
    QTest::newRow("control bytes stay") << u"\x1A\x1C\x7F"_s << QByteArray("\x1A\x1C\x7F");
    QTest::newRow("no form becomes ?") << u"한\u2014"_s << QByteArray("??");
    QTest::newRow("emoji is one ?") << u"a😀b"_s << QByteArray("a?b");
    QTest::newRow("lone surrogate") << QString(QChar(0xD800)) << QByteArray("?");
    QTest::newRow("wave dash has no form") << u"〜"_s << QByteArray("?");
}

void TestCodePage932::encode()
{
    QFETCH(QString, in);
    QFETCH(QByteArray, out);
    QCOMPARE(cp932::encode(in), out);
}

// Every byte pair that decodes to a character encodes back to a pair that decodes to the same
// character: the tables agree with each other over the whole code page.
void TestCodePage932::roundTripOfEveryMappedPair()
{
    int mapped = 0;
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
        if (!cp932::isLeadByte(static_cast<unsigned char>(lead)))
            continue;
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            if (!cp932::isTrailByte(static_cast<unsigned char>(trail)))
                continue;
            const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
            const QString s = cp932::decode(QByteArrayView(pair, 2));
            QCOMPARE(s.size(), 1);
            if (s.at(0) == QChar::ReplacementCharacter)
                continue;
            ++mapped;
            const QByteArray back = cp932::encode(s);
            QVERIFY2(back.size() == 2, qPrintable(QString::number(lead * 256 + trail, 16)));
            QCOMPARE(cp932::decode(back), s);
        }
    }
    // JIS X 0208 (6,879), NEC row 13 (83), NEC-selected IBM (374), IBM (388), private use (1,880).
    QCOMPARE(mapped, 6879 + 83 + 374 + 388 + 1880);
}

void TestCodePage932::randomBytesNeverCrash()
{
    QRandomGenerator rng(932);
    for (int round = 0; round < 200; ++round) {
        QByteArray b(rng.bounded(1, 2000), Qt::Uninitialized);
        for (char &c : b)
            c = static_cast<char>(rng.bounded(256));
        const QString s = cp932::decode(b);
        QVERIFY(s.size() <= b.size());
        QVERIFY(!cp932::encode(s).isEmpty());
    }
}

void TestCodePage932::truncateKeepsWholeCharacters()
{
    const QByteArray ja = cp932::encode(u"あいう"_s); // six bytes
    QCOMPARE(cp932::truncate(ja, 5), cp932::encode(u"あい"_s));
    QCOMPARE(cp932::truncate(ja, 4), cp932::encode(u"あい"_s));
    QCOMPARE(cp932::truncate("a" + ja, 4), "a" + cp932::encode(u"あ"_s));
    QCOMPARE(cp932::truncate(ja, 100), ja);
    // Half-width katakana are single bytes in the lead-byte gap.
    QCOMPARE(cp932::truncate(cp932::encode(u"ｶｶｶ"_s), 2), cp932::encode(u"ｶｶ"_s));
}

void TestCodePage932::encodedLengthMatchesEncode()
{
    for (const QString &s : {u"abc"_s, u"日本語ｶﾞ"_s, u"a😀b한"_s, QString()})
        QCOMPARE(cp932::encodedLength(s), cp932::encode(s).size());
}

QTEST_GUILESS_MAIN(TestCodePage932)
#include "tst_codepage932.moc"
