#include "survey/OsVersion.h"
#include "survey/SurveyForm.h"

#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString kVersion = u"1.8.0"_s;
const QString kOs = u"100.6.1.0"_s;
const QByteArray kHead = "VERSION=1.8.0&OS=100.6.1.0";

// A list of 100 rows with the given rows filled in.
QStringList rowsWith(std::initializer_list<std::pair<int, QString>> filled)
{
    QStringList rows(100);
    for (const auto &[row, text] : filled)
        rows[row] = text;
    return rows;
}

QByteArray bodyOf(const QStringList &conditions, const QStringList &targets)
{
    const Survey::Fields f = Survey::surveyFields(conditions, targets, kVersion, kOs);
    return Survey::formBody(f.names, f.values);
}

} // namespace

class TestSurveyForm : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void body_data();
    void body();
    void fullLists_everyRowInOrder();
    void hugeCondition_sentWhole();
    void formBody_namesAsGiven_data();
    void formBody_namesAsGiven();
    void osVersionFrom_data();
    void osVersionFrom();
    void osVersion_thisSystem();
};

void TestSurveyForm::body_data()
{
    QTest::addColumn<QStringList>("conditions");
    QTest::addColumn<QStringList>("targets");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("empty lists") << rowsWith({}) << rowsWith({}) << kHead;
    QTest::newRow("no rows at all") << QStringList() << QStringList() << kHead;
    QTest::newRow("KEY05 after empty rows")
        << rowsWith({{5, u"ab"_s}}) << rowsWith({}) << kHead + "&KEY05=\x82\x81\x82\x82";
    QTest::newRow("gaps keep row numbers")
        << rowsWith({{0, u"a"_s}, {9, u"b"_s}, {42, u"c"_s}}) << rowsWith({{3, u"http://h/"_s}, {99, u"x"_s}})
        << kHead
            + "&KEY00=\x82\x81&KEY09=\x82\x82&KEY42=\x82\x83"
              "&URL03=http://h/&URL99=x";
    QTest::newRow("ASCII digits bar space widened")
        << rowsWith({{0, u"a1| b"_s}}) << rowsWith({}) << kHead + "&KEY00=\x82\x81\x82\x50\x81\x62\x81\x40\x82\x82";
    QTest::newRow("condition carries no ASCII escapes")
        << rowsWith({{0, u"+=&%"_s}}) << rowsWith({}) << kHead + "&KEY00=\x81\x7B\x81\x81\x81\x95\x81\x93";
    QTest::newRow("half-width katakana composed")
        << rowsWith({{0, u"ｶﾞｷﾞ"_s}}) << rowsWith({}) << kHead + "&KEY00=\x83\x4B\x83\x4D";
    QTest::newRow("full-width condition unchanged") << rowsWith(
        {{0, u"テスト　大阪"_s}}) << rowsWith({}) << kHead + "&KEY00=\x83\x65\x83\x58\x83\x67\x81\x40\x91\xE5\x8D\xE3";
    QTest::newRow("= and & escaped, ? / : % kept")
        << rowsWith({}) << rowsWith({{0, u"http://h/a?x=1&y=%41"_s}}) << kHead + "&URL00=http://h/a?x%3D1%26y%3D%41";
    QTest::newRow("spaces kept") << rowsWith({}) << rowsWith({{0, u"http://h/a b"_s}}) << kHead + "&URL00=http://h/a b";
    QTest::newRow("+ and %2B alike") << rowsWith({}) << rowsWith({{0, u"a+b"_s}, {1, u"a%2Bb"_s}})
                                     << kHead + "&URL00=a%2Bb&URL01=a%2Bb";
    QTest::newRow("plus before equals") << rowsWith({}) << rowsWith({{0, u"+=&"_s}}) << kHead + "&URL00=%2B%3D%26";
    QTest::newRow("Japanese address in code page 932") << rowsWith({}) << rowsWith({{0, u"http://例え.jp/パス"_s}})
                                                       << kHead + "&URL00=http://\x97\xE1\x82\xA6.jp/\x83\x70\x83\x58";
    QTest::newRow("no code page 932 form")
        << rowsWith({{0, u"😀한"_s}}) << rowsWith({{0, u"http://h/é"_s}}) << kHead + "&KEY00=??&URL00=http://h/e";
    QTest::newRow("conditions before targets")
        << rowsWith({{50, u"a"_s}}) << rowsWith({{0, u"u"_s}}) << kHead + "&KEY50=\x82\x81&URL00=u";
}

void TestSurveyForm::body()
{
    QFETCH(QStringList, conditions);
    QFETCH(QStringList, targets);
    QFETCH(QByteArray, expected);
    QCOMPARE(bodyOf(conditions, targets), expected);
}

void TestSurveyForm::fullLists_everyRowInOrder()
{
    QStringList conditions(100, u"k"_s);
    QStringList targets(100, u"u"_s);
    const Survey::Fields f = Survey::surveyFields(conditions, targets, kVersion, kOs);
    QCOMPARE(f.names.size(), 202);
    QCOMPARE(f.values.size(), 202);
    for (int i = 0; i < 100; ++i) {
        QCOMPARE(f.names[2 + i], u"KEY%1"_s.arg(i, 2, 10, QChar(u'0')));
        QCOMPARE(f.names[102 + i], u"URL%1"_s.arg(i, 2, 10, QChar(u'0')));
    }
    const QByteArray body = Survey::formBody(f.names, f.values);
    QVERIFY(body.startsWith(kHead + "&KEY00=\x82\x8B&KEY01="));
    QVERIFY(body.endsWith("&URL98=u&URL99=u"));
}

void TestSurveyForm::hugeCondition_sentWhole()
{
    const qsizetype n = 100 * 1024;
    const QByteArray body = bodyOf(rowsWith({{0, QString(n, u'a')}}), rowsWith({{1, QString(n, u'&')}}));
    const QByteArray key = "&KEY00=";
    const QByteArray url = "&URL01=";
    QCOMPARE(body.size(), kHead.size() + key.size() + 2 * n + url.size() + 3 * n);
    QCOMPARE(body.mid(kHead.size() + key.size(), 2 * n), QByteArray("\x82\x81").repeated(n));
    QVERIFY(body.endsWith(url + QByteArray("%26").repeated(n)));
}

void TestSurveyForm::formBody_namesAsGiven_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("nothing") << QStringList() << QStringList() << QByteArray();
    QTest::newRow("names never escaped") << QStringList {u"A+B"_s, u"C&D"_s} << QStringList {u"1"_s, u"2"_s}
                                         << QByteArray("A+B=1&C&D=2");
    QTest::newRow("empty value") << QStringList {u"A"_s, u"B"_s} << QStringList {QString(), u"x"_s}
                                 << QByteArray("A=&B=x");
    QTest::newRow("extra values unused") << QStringList {u"A"_s} << QStringList {u"1"_s, u"2"_s} << QByteArray("A=1");
    // A caller's short list must not read past its end.
    QTest::newRow("missing value sent empty")
        << QStringList {u"A"_s, u"B"_s} << QStringList {u"1"_s} << QByteArray("A=1&B=");
}

void TestSurveyForm::formBody_namesAsGiven()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, values);
    QFETCH(QByteArray, expected);
    QCOMPARE(Survey::formBody(names, values), expected);
}

void TestSurveyForm::osVersionFrom_data()
{
    QTest::addColumn<int>("platform");
    QTest::addColumn<QString>("kernel");
    QTest::addColumn<QString>("expected");
    QTest::newRow("Windows 10") << Survey::kPlatformWindowsNt << u"10.0.19045"_s << u"2.10.0.19045"_s;
    QTest::newRow("Debian kernel") << Survey::kPlatformLinux << u"6.1.0-18-amd64"_s << u"100.6.1.0"_s;
    QTest::newRow("two numbers") << Survey::kPlatformLinux << u"5.15"_s << u"100.5.15.0"_s;
    QTest::newRow("one number") << Survey::kPlatformLinux << u"23"_s << u"100.23.0.0"_s;
    QTest::newRow("four numbers") << Survey::kPlatformLinux << u"4.19.260.1"_s << u"100.4.19.260"_s;
    QTest::newRow("suffix on minor") << Survey::kPlatformOtherUnix << u"23.4rc1"_s << u"101.23.4.0"_s;
    QTest::newRow("empty dot part") << Survey::kPlatformLinux << u"6..1"_s << u"100.6.0.0"_s;
    QTest::newRow("failed query") << Survey::kPlatformLinux << QString() << u"0.0.0.0"_s;
    QTest::newRow("no number") << Survey::kPlatformLinux << u"unknown"_s << u"0.0.0.0"_s;
    QTest::newRow("largest number") << Survey::kPlatformLinux << u"2147483647.0.0"_s << u"100.2147483647.0.0"_s;
    QTest::newRow("beyond 32 bits") << Survey::kPlatformLinux << u"6.2147483648.0"_s << u"0.0.0.0"_s;
}

void TestSurveyForm::osVersionFrom()
{
    QFETCH(int, platform);
    QFETCH(QString, kernel);
    QFETCH(QString, expected);
    QCOMPARE(Survey::osVersionFrom(platform, kernel), expected);
}

void TestSurveyForm::osVersion_thisSystem()
{
    const QString os = Survey::osVersion();
#if defined(Q_OS_LINUX)
    QVERIFY2(QRegularExpression(u"^100\\.\\d+\\.\\d+\\.\\d+$"_s).match(os).hasMatch(), qPrintable(os));
    QVERIFY2(!os.startsWith(u"100.0."_s), qPrintable(os));
#else
    QVERIFY2(QRegularExpression(u"^\\d+\\.\\d+\\.\\d+\\.\\d+$"_s).match(os).hasMatch(), qPrintable(os));
#endif
}

QTEST_GUILESS_MAIN(TestSurveyForm)
#include "tst_surveyform.moc"
