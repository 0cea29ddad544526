#include "platform/VbNumber.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestVbNumber : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void readsAsNumber_data();
    void readsAsNumber();
    void toInt16_data();
    void toInt16();
    void toInt32_data();
    void toInt32();
};

void TestVbNumber::readsAsNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("numeric");
    QTest::addColumn<double>("value");
    QTest::newRow("plain") << u"60"_s << true << 60.0;
    QTest::newRow("blanks around") << u" \t 30 "_s << true << 30.0;
    QTest::newRow("leading sign") << u"-5"_s << true << -5.0;
    QTest::newRow("plus sign") << u"+5"_s << true << 5.0;
    QTest::newRow("trailing sign") << u"5-"_s << true << -5.0;
    QTest::newRow("parentheses negative") << u"(5)"_s << true << -5.0;
    QTest::newRow("decimal point") << u"2.5"_s << true << 2.5;
    QTest::newRow("leading point") << u".5"_s << true << 0.5;
    QTest::newRow("trailing point") << u"5."_s << true << 5.0;
    QTest::newRow("exponent") << u"1E3"_s << true << 1000.0;
    QTest::newRow("negative exponent") << u"25e-1"_s << true << 2.5;
    QTest::newRow("thousands") << u"1,000"_s << true << 1000.0;
    QTest::newRow("hex") << u"&H1F"_s << true << 31.0;
    QTest::newRow("hex FFFF is 16-bit") << u"&HFFFF"_s << true << -1.0;
    QTest::newRow("octal") << u"&O17"_s << true << 15.0;
    QTest::newRow("empty") << QString() << false << 0.0;
    QTest::newRow("blanks only") << u"   "_s << false << 0.0;
    QTest::newRow("letters") << u"abc"_s << false << 0.0;
    QTest::newRow("digits then letters") << u"12abc"_s << false << 0.0;
    QTest::newRow("comma first") << u",5"_s << false << 0.0;
    QTest::newRow("point alone") << u"."_s << false << 0.0;
    QTest::newRow("sign alone") << u"-"_s << false << 0.0;
    QTest::newRow("exponent without digits") << u"1e"_s << false << 0.0;
    QTest::newRow("two points") << u"1.2.3"_s << false << 0.0;
    QTest::newRow("hex without digits") << u"&H"_s << false << 0.0;
    QTest::newRow("bad hex digit") << u"&HG"_s << false << 0.0;
    QTest::newRow("inner blank") << u"1 2"_s << false << 0.0;
    QTest::newRow("full-width digits") << u"６０"_s << false << 0.0;
}

void TestVbNumber::readsAsNumber()
{
    QFETCH(QString, text);
    QFETCH(bool, numeric);
    QFETCH(double, value);
    const std::optional<double> v = vb::parseNumber(text);
    QCOMPARE(v.has_value(), numeric);
    QCOMPARE(vb::readsAsNumber(text), numeric);
    if (numeric)
        QCOMPARE(*v, value);
}

void TestVbNumber::toInt16_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("value");
    const int ok = int(vb::Conversion::Ok), mismatch = int(vb::Conversion::TypeMismatch),
              overflow = int(vb::Conversion::Overflow);
    QTest::newRow("60") << u"60"_s << ok << 60;
    QTest::newRow("2.5 to even") << u"2.5"_s << ok << 2;
    QTest::newRow("3.5 to even") << u"3.5"_s << ok << 4;
    QTest::newRow("-2.5 to even") << u"-2.5"_s << ok << -2;
    QTest::newRow("2.6 rounds up") << u"2.6"_s << ok << 3;
    QTest::newRow("max") << u"32767"_s << ok << 32767;
    QTest::newRow("min") << u"-32768"_s << ok << -32768;
    QTest::newRow("rounds past max") << u"32767.5"_s << overflow << 0;
    QTest::newRow("above max") << u"99999"_s << overflow << 0;
    QTest::newRow("below min") << u"-32769"_s << overflow << 0;
    QTest::newRow("huge exponent") << u"1e999"_s << overflow << 0;
    QTest::newRow("not a number") << u"abc"_s << mismatch << 0;
    QTest::newRow("empty") << QString() << mismatch << 0;
}

void TestVbNumber::toInt16()
{
    QFETCH(QString, text);
    QFETCH(int, status);
    QFETCH(int, value);
    const vb::WholeNumber n = vb::toInt16(text);
    QCOMPARE(int(n.status), status);
    if (n.ok())
        QCOMPARE(n.value, value);
}

void TestVbNumber::toInt32_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("value");
    const int ok = int(vb::Conversion::Ok), mismatch = int(vb::Conversion::TypeMismatch),
              overflow = int(vb::Conversion::Overflow);
    QTest::newRow("500 with blanks") << u" 500 "_s << ok << 500;
    QTest::newRow("beyond 16 bits") << u"99999"_s << ok << 99999;
    QTest::newRow("negative") << u"-3"_s << ok << -3;
    QTest::newRow("2.5") << u"2.5"_s << ok << 2;
    QTest::newRow("max") << u"2147483647"_s << ok << 2147483647;
    QTest::newRow("above max") << u"99999999999"_s << overflow << 0;
    QTest::newRow("hex 32-bit") << u"&HFFFFFFFF"_s << ok << -1;
    QTest::newRow("abc") << u"abc"_s << mismatch << 0;
}

void TestVbNumber::toInt32()
{
    QFETCH(QString, text);
    QFETCH(int, status);
    QFETCH(int, value);
    const vb::WholeNumber n = vb::toInt32(text);
    QCOMPARE(int(n.status), status);
    if (n.ok())
        QCOMPARE(n.value, value);
}

QTEST_GUILESS_MAIN(TestVbNumber)
#include "tst_vbnumber.moc"
