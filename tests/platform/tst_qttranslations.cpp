#include "platform/ui/QtTranslations.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QInputDialog>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTranslator>

using namespace Qt::StringLiterals;

class TestQtTranslations : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void standardButtons_speakTheSessionsLanguage_data();
    void standardButtons_speakTheSessionsLanguage();
};

void TestQtTranslations::standardButtons_speakTheSessionsLanguage_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<bool>("installed");
    QTest::addColumn<QString>("ok");
    QTest::addColumn<QString>("cancel");

    QTest::newRow("Japanese") << u"ja_JP"_s << true << u"OK"_s << u"キャンセル"_s;
    QTest::newRow("German") << u"de_DE"_s << true << u"OK"_s << u"Abbrechen"_s;
    QTest::newRow("English: nothing to load") << u"en_US"_s << false << u"OK"_s << u"Cancel"_s;
    QTest::newRow("C") << u"C"_s << false << u"OK"_s << u"Cancel"_s;
}

void TestQtTranslations::standardButtons_speakTheSessionsLanguage()
{
    QFETCH(QString, locale);
    QFETCH(bool, installed);
    QFETCH(QString, ok);
    QFETCH(QString, cancel);

    QTranslator *t = Ui::installQtTranslations(QLocale(locale));
    QCOMPARE(t != nullptr, installed);
    {
        const QString text = u"設定ファイルに書き込めません。"_s;
        QMessageBox box(QMessageBox::Critical, u"Korvani  1.8.0"_s, text, QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(box.button(QMessageBox::Ok)->text(), ok);
        QCOMPARE(box.button(QMessageBox::Cancel)->text(), cancel);
        QCOMPARE(box.text(), text);
        QCOMPARE(box.windowTitle(), u"Korvani  1.8.0"_s);

        QInputDialog prompt;
        prompt.setLabelText(u"URLを入力してください"_s);
        prompt.show();
        auto *buttons = prompt.findChild<QDialogButtonBox *>();
        QVERIFY(buttons);
        QCOMPARE(buttons->button(QDialogButtonBox::Ok)->text(), ok);
        QCOMPARE(buttons->button(QDialogButtonBox::Cancel)->text(), cancel);
        QCOMPARE(prompt.labelText(), u"URLを入力してください"_s);
    }
    if (t) {
        QCoreApplication::removeTranslator(t);
        delete t;
    }
}

QTEST_MAIN(TestQtTranslations)
#include "tst_qttranslations.moc"
