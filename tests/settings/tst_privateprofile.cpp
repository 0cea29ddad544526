#include "settings/PrivateProfile.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

// A UTF-16LE file: the mark, then every unit as it stands, lone surrogates included.
QByteArray utf16File(QStringView text, QByteArrayView tail = {})
{
    QByteArray out("\xFF\xFE", 2);
    for (QChar c : text) {
        out.append(static_cast<char>(c.unicode() & 0xFF));
        out.append(static_cast<char>(c.unicode() >> 8));
    }
    out.append(tail);
    return out;
}

} // namespace

// The profile rules on file bytes, as Windows reads and writes them.
class TestPrivateProfile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void read_data();
    void read();
    void write_data();
    void write();
    void writeKeepsEveryOtherByte();
    void utf16_keepsEveryByteNotWritten_data();
    void utf16_keepsEveryByteNotWritten();
    void utf16Text_roundTrip_data();
    void utf16Text_roundTrip();
    void writes_readAsTheFileTheyMake();
};

void TestPrivateProfile::read_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QByteArray>("value");

    QTest::newRow("plain") << QByteArray("[MAIL]\r\nTIMERTIME=60\r\n") << QByteArray("MAIL") << QByteArray("TIMERTIME")
                           << true << QByteArray("60");
    QTest::newRow("present but empty") << QByteArray("[MAIL]\r\nTIMERTIME=\r\n") << QByteArray("MAIL")
                                       << QByteArray("TIMERTIME") << true << QByteArray();
    QTest::newRow("names in lower case") << QByteArray("[mail]\r\ntimertime=30\r\n") << QByteArray("MAIL")
                                         << QByteArray("TIMERTIME") << true << QByteArray("30");
    QTest::newRow("blanks around names and value")
        << QByteArray("[ MAIL ]\r\n \tTIMERTIME \t=  45 \x1A\r\n") << QByteArray("MAIL") << QByteArray("TIMERTIME")
        << true << QByteArray("45");
    QTest::newRow("one pair of double quotes") << QByteArray("[S]\r\nk=\"  a b  \"\r\n") << QByteArray("S")
                                               << QByteArray("k") << true << QByteArray("  a b  ");
    QTest::newRow("single quotes") << QByteArray("[S]\r\nk='x'\r\n") << QByteArray("S") << QByteArray("k") << true
                                   << QByteArray("x");
    QTest::newRow("only one pair removed")
        << QByteArray("[S]\r\nk=\"\"x\"\"\r\n") << QByteArray("S") << QByteArray("k") << true << QByteArray("\"x\"");
    QTest::newRow("mismatched quotes stay")
        << QByteArray("[S]\r\nk=\"x'\r\n") << QByteArray("S") << QByteArray("k") << true << QByteArray("\"x'");
    QTest::newRow("lone quote stays") << QByteArray("[S]\r\nk=\"\r\n") << QByteArray("S") << QByteArray("k") << true
                                      << QByteArray("\"");
    QTest::newRow("value up to the first =") << QByteArray("[URL]\r\nURL0=http://x/?a=1&b=2\r\n") << QByteArray("URL")
                                             << QByteArray("URL0") << true << QByteArray("http://x/?a=1&b=2");
    QTest::newRow("semicolon inside value")
        << QByteArray("[S]\r\nk=a;b\r\n") << QByteArray("S") << QByteArray("k") << true << QByteArray("a;b");
    QTest::newRow("comment line is not a key")
        << QByteArray("[S]\r\n;k=1\r\n") << QByteArray("S") << QByteArray(";k") << false << QByteArray();
    QTest::newRow("line without =") << QByteArray("[S]\r\nk\r\n") << QByteArray("S") << QByteArray("k") << false
                                    << QByteArray();
    QTest::newRow("text after ] ignored")
        << QByteArray("[S] trailing\r\nk=1\r\n") << QByteArray("S") << QByteArray("k") << true << QByteArray("1");
    QTest::newRow("section without ] is no section")
        << QByteArray("[S]\r\nk=1\r\n[T\r\nk=2\r\n") << QByteArray("T") << QByteArray("k") << false << QByteArray();
    QTest::newRow("ordinary line after broken header stays in section")
        << QByteArray("[S]\r\n[T\r\nj=2\r\n") << QByteArray("S") << QByteArray("j") << true << QByteArray("2");
    QTest::newRow("keys before the first section never found")
        << QByteArray("k=0\r\n[S]\r\n") << QByteArray("") << QByteArray("k") << false << QByteArray();
    QTest::newRow("first duplicate section wins")
        << QByteArray("[S]\r\na=1\r\n[S]\r\nb=2\r\n") << QByteArray("S") << QByteArray("b") << false << QByteArray();
    QTest::newRow("first duplicate key wins")
        << QByteArray("[S]\r\nk=1\r\nK=2\r\n") << QByteArray("S") << QByteArray("k") << true << QByteArray("1");
    QTest::newRow("LF-only lines") << QByteArray("[S]\nk=1\n") << QByteArray("S") << QByteArray("k") << true
                                   << QByteArray("1");
    QTest::newRow("lone CR lines") << QByteArray("[S]\rk=1\r") << QByteArray("S") << QByteArray("k") << true
                                   << QByteArray("1");
    QTest::newRow("no final line end") << QByteArray("[S]\r\nk=1") << QByteArray("S") << QByteArray("k") << true
                                       << QByteArray("1");
    QTest::newRow("UTF-8 mark hides the first section")
        << QByteArray("\xEF\xBB\xBF[S]\r\nk=1\r\n") << QByteArray("S") << QByteArray("k") << false << QByteArray();
    // 0x83 0x5D is a double-byte character whose second byte is "]".
    QTest::newRow("double-byte section name")
        << QByteArray("[\x83\x5D\x8C\xA9]\r\nk=1\r\n") << QByteArray("\x83\x5D\x8C\xA9") << QByteArray("k") << true
        << QByteArray("1");
    // 0x82 0x61 is "Ａ": its second byte must not be folded to match "a".
    QTest::newRow("second bytes are not case-folded")
        << QByteArray("[S]\r\n\x82\x61=1\r\n") << QByteArray("S") << QByteArray("\x82\x41") << false << QByteArray();
}

void TestPrivateProfile::read()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, section);
    QFETCH(QByteArray, key);
    QFETCH(bool, found);
    QFETCH(QByteArray, value);
    const PrivateProfile p = PrivateProfile::parse(file);
    const std::optional<QByteArray> v = p.value(section, key);
    QCOMPARE(v.has_value(), found);
    if (found)
        QCOMPARE(*v, value);
    QCOMPARE(p.serialize(), file);
}

void TestPrivateProfile::write_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("new file") << QByteArray() << QByteArray("MAIL") << QByteArray("TO") << QByteArray("a@b")
                              << QByteArray("[MAIL]\r\nTO=a@b\r\n");
    QTest::newRow("section appended without blank line")
        << QByteArray("[A]\r\nx=1\r\n") << QByteArray("B") << QByteArray("y") << QByteArray("2")
        << QByteArray("[A]\r\nx=1\r\n[B]\r\ny=2\r\n");
    QTest::newRow("section appended after a last line without line end")
        << QByteArray("[A]\r\nx=1") << QByteArray("B") << QByteArray("y") << QByteArray("2")
        << QByteArray("[A]\r\nx=1\r\n[B]\r\ny=2\r\n");
    QTest::newRow("key inserted after last key, before blank lines")
        << QByteArray("[A]\r\nx=1\r\n\r\n[B]\r\n") << QByteArray("A") << QByteArray("y") << QByteArray("2")
        << QByteArray("[A]\r\nx=1\r\ny=2\r\n\r\n[B]\r\n");
    QTest::newRow("key into section without keys")
        << QByteArray("[A]\r\n\r\n[B]\r\n") << QByteArray("A") << QByteArray("y") << QByteArray("2")
        << QByteArray("[A]\r\ny=2\r\n\r\n[B]\r\n");
    QTest::newRow("existing key replaced in place")
        << QByteArray("[A]\r\n  x = 1 \r\nz=3\r\n") << QByteArray("a") << QByteArray("X") << QByteArray("9")
        << QByteArray("[A]\r\nX=9\r\nz=3\r\n");
    QTest::newRow("empty value keeps the key") << QByteArray("[A]\r\nx=1\r\n") << QByteArray("A") << QByteArray("x")
                                               << QByteArray() << QByteArray("[A]\r\nx=\r\n");
    QTest::newRow("first duplicate key replaced")
        << QByteArray("[A]\r\nx=1\r\nx=2\r\n") << QByteArray("A") << QByteArray("x") << QByteArray("9")
        << QByteArray("[A]\r\nx=9\r\nx=2\r\n");
    QTest::newRow("first duplicate section gets the new key")
        << QByteArray("[A]\r\na=1\r\n[A]\r\nb=2\r\n") << QByteArray("A") << QByteArray("b") << QByteArray("9")
        << QByteArray("[A]\r\na=1\r\nb=9\r\n[A]\r\nb=2\r\n");
    QTest::newRow("LF-only file keeps its other line ends")
        << QByteArray("[A]\nx=1\n") << QByteArray("A") << QByteArray("y") << QByteArray("2")
        << QByteArray("[A]\nx=1\ny=2\r\n");
    QTest::newRow("UTF-8 mark: section appended")
        << QByteArray("\xEF\xBB\xBF[A]\r\nx=1\r\n") << QByteArray("A") << QByteArray("x") << QByteArray("2")
        << QByteArray("\xEF\xBB\xBF[A]\r\nx=1\r\n[A]\r\nx=2\r\n");
}

void TestPrivateProfile::write()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, section);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, after);
    PrivateProfile p = PrivateProfile::parse(before);
    p.setValue(section, key, value);
    QCOMPARE(p.serialize(), after);
    QCOMPARE(p.value(section, key).value_or("<missing>"), value);
}

void TestPrivateProfile::writeKeepsEveryOtherByte()
{
    const QByteArray file("; comment\r\n\r\n[MAIL]\r\nTO=x\r\n; inner\r\n[Unknown]\r\n odd line \r\nk=v\r\n"
                          "garbage\x80\xFF\r\n[RIREKI]\r\nTEXT0=old\r\n");
    PrivateProfile p = PrivateProfile::parse(file);
    p.setValue("RIREKI", "TEXT0", "new");
    p.setValue("MAIL", "TO", "y");
    QByteArray expected = file;
    expected.replace("TEXT0=old", "TEXT0=new").replace("TO=x", "TO=y");
    QCOMPARE(p.serialize(), expected);

    // A file that came as UTF-16LE stays UTF-16LE.
    const QString text = QStringLiteral("[S]\r\nk=値\r\n");
    QByteArray utf16("\xFF\xFE", 2);
    utf16.append(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    PrivateProfile w = PrivateProfile::parse(utf16);
    QVERIFY(w.isUtf16());
    QCOMPARE(w.value("S", "k").value_or(""), QStringLiteral("値").toUtf8());
    w.setValue("S", "j", "1");
    const QByteArray out = w.serialize();
    QVERIFY(out.startsWith("\xFF\xFE"));
    const QString back(reinterpret_cast<const QChar *>(out.constData() + 2), (out.size() - 2) / 2);
    QCOMPARE(back, QStringLiteral("[S]\r\nk=値\r\nj=1\r\n"));
}

void TestPrivateProfile::utf16_keepsEveryByteNotWritten_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QByteArray>("tail");
    QTest::addColumn<QString>("after");
    const QString plain = QStringLiteral("[S]\r\nk=v\r\n");
    const QString written = QStringLiteral("[S]\r\nk=1\r\n");
    QTest::newRow("odd length") << plain << QByteArray("\x41", 1) << written;
    QTest::newRow("odd length, section appended")
        << QStringLiteral("[T]\r\nx=1") << QByteArray("\x00", 1) << QStringLiteral("[T]\r\nx=1\r\n[S]\r\nk=1\r\n");
    QTest::newRow("lone high surrogate before a character") << QStringLiteral("; \xD800\xD83D\xDE00\r\n")
            + plain << QByteArray() << QStringLiteral("; \xD800\xD83D\xDE00\r\n") + written;
    QTest::newRow("lone low surrogate") << plain + QStringLiteral("j=\xDC00x\r\n") << QByteArray()
                                        << written + QStringLiteral("j=\xDC00x\r\n");
    QTest::newRow("high surrogate at the end")
        << plain + QStringLiteral("\xDBFF") << QByteArray() << written + QStringLiteral("\xDBFF");
    QTest::newRow("low then high") << QStringLiteral("\xDC00\xD800\r\n") + plain << QByteArray("\xFF", 1)
                                   << QStringLiteral("\xDC00\xD800\r\n") + written;
    QTest::newRow("surrogates in the replaced line")
        << QStringLiteral("[S]\r\nk=\xD800\r\n") << QByteArray() << written;
    QTest::newRow("NUL and the mark again")
        << QStringLiteral("\uFEFF\0\r\n") + plain << QByteArray() << QStringLiteral("\uFEFF\0\r\n") + written;
}

// A UTF-16LE file read and written key by key keeps every byte that no write concerns: the
// units the engine calls broken and the half unit at an odd end included.
void TestPrivateProfile::utf16_keepsEveryByteNotWritten()
{
    QFETCH(QString, before);
    QFETCH(QByteArray, tail);
    QFETCH(QString, after);
    const QByteArray file = utf16File(before, tail);
    QCOMPARE(PrivateProfile::parse(file).serialize(), file);
    PrivateProfile p = PrivateProfile::parse(file);
    QVERIFY(p.isUtf16());
    p.setValue("S", "k", "1");
    QCOMPARE(p.serialize(), utf16File(after, tail));
    QCOMPARE(p.value("S", "k").value_or("<missing>"), QByteArray("1"));
}

void TestPrivateProfile::utf16Text_roundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("ASCII and Japanese") << QStringLiteral("a=値");
    QTest::newRow("pair") << QStringLiteral("\xD83D\xDE00");
    QTest::newRow("lone high before a pair") << QStringLiteral("\xD800\xD83D\xDE00");
    QTest::newRow("lone low") << QStringLiteral("\xDFFF");
    QTest::newRow("low before high") << QStringLiteral("\xDC00\xD800");
    QTest::newRow("NUL and the last BMP character") << QStringLiteral("\0\uFFFF");
}

void TestPrivateProfile::utf16Text_roundTrip()
{
    QFETCH(QString, text);
    const QByteArray bytes = PrivateProfile::utf16Text(text);
    QCOMPARE(PrivateProfile::fromUtf16Text(bytes), text);
    // Valid text is plain UTF-8.
    if (text.isValidUtf16())
        QCOMPARE(bytes, text.toUtf8());
}

// Whatever names and values are written, in whatever order, the document answers every read as
// the file it turns into would when read afresh: names that make a line read as something else
// ("[x" with a value holding "]", half a double-byte character) included.
void TestPrivateProfile::writes_readAsTheFileTheyMake()
{
    const QByteArray alphabet("aAbB[]= ;\x82\x81\x5C\t1");
    QRandomGenerator rng(20261208);
    auto name = [&](int longest) {
        QByteArray n;
        const int length = 1 + rng.bounded(longest);
        for (int i = 0; i < length; ++i)
            n.append(alphabet[rng.bounded(int(alphabet.size()))]);
        return n;
    };
    for (int round = 0; round < 300; ++round) {
        QByteArray start;
        for (int i = rng.bounded(6); i > 0; --i)
            start += (rng.bounded(3) == 0 ? "[" + name(3) + "]" : name(3) + "=" + name(4))
                + (rng.bounded(4) ? "\r\n" : "\n");
        PrivateProfile doc = PrivateProfile::parse(start);
        QList<std::pair<QByteArray, QByteArray>> asked;
        for (int w = 0; w < 12; ++w) {
            const QByteArray section = rng.bounded(3) ? QByteArray("S") : name(2);
            const QByteArray key = rng.bounded(3) ? QByteArray("k") + QByteArray::number(rng.bounded(4)) : name(2);
            doc.setValue(section, key, name(4));
            asked.append({section, key});
            const PrivateProfile reread = PrivateProfile::parse(doc.serialize());
            QCOMPARE(reread.serialize(), doc.serialize());
            for (const auto &[sec, k] : asked)
                QVERIFY2(doc.value(sec, k) == reread.value(sec, k),
                    qPrintable(QString::fromLatin1(doc.serialize().toPercentEncoding())));
        }
    }
}

QTEST_GUILESS_MAIN(TestPrivateProfile)
#include "tst_privateprofile.moc"
