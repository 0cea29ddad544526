// The settings dialog and its mail test, on a settings file in a temporary folder.
#include "../../mail/MailDecode.h"
#include "mail/MailClient.h"
#include "mail/MailClientTesting.h"
#include "mail/Module1.h"
#include "mail/Module1Testing.h"
#include "platform/AppTitle.h"
#include "platform/ui/MessageBoxTesting.h"
#include "settings/Autostart.h"
#include "settings/clINI.h"
#include "settings/dialog/Form2.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSpinBox>
#include <QStyle>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>

using namespace Qt::StringLiterals;

class TestForm2 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void noFile_defaultsThenAllKeysInOrder();
    void storedValues_shown_data();
    void storedValues_shown();
    void check2_enablesPopBoxes_disabledOnesStillSaved();
    void numericBox_keepsFocusUntilANumber();
    void closeBox_discards();
    void controls_captionsAndTabOrder();
    void errorMail_shownAndSaved_data();
    void errorMail_shownAndSaved();
    void notify_shownAndSaved_data();
    void notify_shownAndSaved();
    void autostart_entryFollowsTheBox();

    void testMail_outcomes_data();
    void testMail_outcomes();
    void testMail_savedEvenWhenClosedAfter();
    void testMail_closedDuringTest_transferEnds();
    void testMail_dateHasSeconds_data();
    void testMail_dateHasSeconds();
    void testMail_arrivesAtTheRealServer();

private:
    QString file() const { return m_dir->filePath(u"KVN.ini"_s); }
    void put(const QByteArray &bytes);
    QString mail(const QString &key) { return clINI(m_dir->path()).GetSetting(u"MAIL"_s, key, u"<none>"_s); }

    std::unique_ptr<QTemporaryDir> m_dir;
    QTemporaryDir m_config; // XDG_CONFIG_HOME: the autostart entry goes there, not to the user's
    QStringList m_pop;
    QList<std::pair<QString, QString>> m_sent; // subject, body
    QString m_popFailure, m_smtpFailure;
    bool m_inputDuringSend = true;
    int m_ticksDuringSend = 0;
    QString m_captionDuringSend;
};

void TestForm2::initTestCase()
{
    AppTitle::set(u"Korvani  1.8.0"_s);
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
}

void TestForm2::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    Ui::testing::reset();
    m_pop.clear();
    m_sent.clear();
    m_popFailure.clear();
    m_smtpFailure.clear();
}

void TestForm2::cleanup()
{
    Module1::testing::reset();
    Ui::testing::reset();
}

void TestForm2::put(const QByteArray &bytes)
{
    QFile f(file());
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

void TestForm2::noFile_defaultsThenAllKeysInOrder()
{
    Form2 d(m_dir->path());
    QCOMPARE(d.TxtSMTP->text(), QString());
    QCOMPARE(d.cmbSubject->currentText(), u"ウェブページタイトル"_s);
    QCOMPARE(d.cmbTopLine->currentText(), u"指定なし"_s);
    QCOMPARE(d.cmbEndLine->currentText(), u"指定なし"_s);
    QVERIFY(d.Check1->isChecked());
    QVERIFY(!d.Check2->isChecked());
    for (QLineEdit *e : {d.TxtPOP, d.TxtPopAccount, d.TxtPopPassword})
        QVERIFY(!e->isEnabled());
    QCOMPARE(d.TxtTimerTime->text(), u"60"_s);
    QCOMPARE(d.TxtRirekiSUU->text(), u"500"_s);
    QCOMPARE(d.TxtErrorMail->value(), 0);
    QVERIFY(!d.CheckNotify->isChecked());
    QVERIFY(!d.CheckAutostart->isChecked());
    QVERIFY(!QFile::exists(file()));

    d.cmdOK->click();
    QCOMPARE(d.result(), int(QDialog::Accepted));
    QFile f(file());
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(),
        QByteArray("[MAIL]\r\nSMTP_SERVER=\r\nFROM=\r\nTO=\r\nSUBJECT=0\r\nTOPLINE=0\r\nENDLINE=0\r\nCHECK1=1\r\n"
                   "CHECK2=0\r\nTIMERTIME=60\r\nPOP_SERVER=\r\nPOP_ACCOUNT=\r\nPOP_PASSWORD=\r\nRIREKISUU=500\r\n"
                   "ERRORMAIL=0\r\nNOTIFY=0\r\nHOSTGAP=1\r\n"));
    QVERIFY(!QFile::exists(Autostart::entryPath()));
}

void TestForm2::storedValues_shown_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("subject");
    QTest::addColumn<int>("top");
    QTest::addColumn<int>("end");
    QTest::addColumn<bool>("check1");
    QTest::addColumn<bool>("check2");

    QTest::newRow("tag and address") << QByteArray("SUBJECT=1\r\nTOPLINE=2\r\nENDLINE=1\r\n") << 1 << 2 << 1 << true
                                     << false;
    QTest::newRow("boxes") << QByteArray("CHECK1=0\r\nCHECK2=1\r\n") << 0 << 0 << 0 << false << true;
    QTest::newRow("hand-edited values fall back")
        << QByteArray("SUBJECT=5\r\nTOPLINE=abc\r\nENDLINE=-1\r\nCHECK1=2\r\nCHECK2=x\r\n") << 0 << 0 << 0 << true
        << false;
    QTest::newRow("whole numbers as the platform reads them")
        << QByteArray("SUBJECT= 1 \r\nTOPLINE=1.6\r\nCHECK2=1.0\r\n") << 1 << 2 << 0 << true << true;
}

void TestForm2::storedValues_shown()
{
    QFETCH(QByteArray, stored);
    QFETCH(int, subject);
    QFETCH(int, top);
    QFETCH(int, end);
    QFETCH(bool, check1);
    QFETCH(bool, check2);
    put("[MAIL]\r\nSMTP_SERVER=smtp.example.jp\r\nPOP_PASSWORD=secret\r\nTIMERTIME=30\r\n" + stored);
    Form2 d(m_dir->path());
    QCOMPARE(d.TxtSMTP->text(), u"smtp.example.jp"_s);
    QCOMPARE(d.TxtTimerTime->text(), u"30"_s);
    QCOMPARE(d.cmbSubject->currentIndex(), subject);
    QCOMPARE(d.cmbTopLine->currentIndex(), top);
    QCOMPARE(d.cmbEndLine->currentIndex(), end);
    QCOMPARE(d.Check1->isChecked(), check1);
    QCOMPARE(d.Check2->isChecked(), check2);
    QCOMPARE(d.TxtPOP->isEnabled(), check2);
    QCOMPARE(d.TxtPopPassword->text(), u"secret"_s);
    QCOMPARE(d.TxtPopPassword->echoMode(), QLineEdit::Password);
    d.TxtPopPassword->ensurePolished();
    QCOMPARE(d.TxtPopPassword->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, d.TxtPopPassword),
        int(u'*'));
}

void TestForm2::check2_enablesPopBoxes_disabledOnesStillSaved()
{
    Form2 d(m_dir->path());
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    d.Check2->click();
    for (QLineEdit *e : {d.TxtPOP, d.TxtPopAccount, d.TxtPopPassword})
        QVERIFY(e->isEnabled());
    d.TxtPOP->setText(u"pop.example.jp"_s);
    d.TxtPopPassword->setText(u"p@ss word"_s);
    d.Check2->click();
    QVERIFY(!d.TxtPOP->isEnabled());
    QVERIFY(d.Frame1->isEnabled());
    d.cmdOK->click();
    QCOMPARE(mail(u"CHECK2"_s), u"0"_s);
    QCOMPARE(mail(u"POP_SERVER"_s), u"pop.example.jp"_s);
    QCOMPARE(mail(u"POP_PASSWORD"_s), u"p@ss word"_s);
}

void TestForm2::numericBox_keepsFocusUntilANumber()
{
    Form2 d(m_dir->path());
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    d.activateWindow();
    d.TxtTimerTime->setFocus();
    QTRY_VERIFY(d.TxtTimerTime->hasFocus());
    d.TxtTimerTime->setText(u"abc"_s);
    QTest::keyClick(d.TxtTimerTime, Qt::Key_Tab);
    QVERIFY(d.TxtTimerTime->hasFocus());
    QTest::mouseClick(d.cmdOK, Qt::LeftButton);
    QVERIFY(d.TxtTimerTime->hasFocus());
    QVERIFY(d.isVisible());
    // Other controls do not change meanwhile.
    const bool check2 = d.Check2->isChecked();
    QTest::mouseClick(d.Check2, Qt::LeftButton);
    QCOMPARE(d.Check2->isChecked(), check2);
    QVERIFY(d.TxtPOP->isEnabled() == check2);
    QTest::mouseClick(d.cmbSubject, Qt::LeftButton);
    QVERIFY(!d.cmbSubject->view()->isVisible());
    QVERIFY(d.TxtTimerTime->hasFocus());
    // Inside the box itself the user goes on editing.
    QTest::mouseClick(d.TxtTimerTime, Qt::LeftButton);
    QVERIFY(d.TxtTimerTime->hasFocus());
    QVERIFY(!QFile::exists(file()));
    QCOMPARE(d.TxtTimerTime->text(), u"abc"_s);
    QVERIFY(Ui::testing::shown().empty());

    d.TxtTimerTime->setText(u"30"_s);
    d.TxtRirekiSUU->setFocus();
    QTRY_VERIFY(d.TxtRirekiSUU->hasFocus());
    d.TxtRirekiSUU->clear();
    QTest::mouseClick(d.CmdPOP試験, Qt::LeftButton);
    QVERIFY(d.TxtRirekiSUU->hasFocus());
    QVERIFY(!QFile::exists(file()));

    d.TxtRirekiSUU->setText(u" 1e3 "_s);
    QTest::mouseClick(d.cmdOK, Qt::LeftButton);
    QCOMPARE(d.result(), int(QDialog::Accepted));
    QCOMPARE(mail(u"TIMERTIME"_s), u"30"_s);
    QCOMPARE(mail(u"RIREKISUU"_s), u"1e3"_s); // stored as typed; the file trims the blanks
}

void TestForm2::closeBox_discards()
{
    put("[MAIL]\r\nTO=before@example.jp\r\n");
    Form2 d(m_dir->path());
    d.show();
    d.TxtTO->setText(u"after@example.jp"_s);
    d.cmbSubject->setCurrentIndex(1);
    d.close();
    QCOMPARE(d.result(), int(QDialog::Rejected));
    QFile f(file());
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("[MAIL]\r\nTO=before@example.jp\r\n"));
    // Escape closes nothing: there is no cancel button.
    Form2 again(m_dir->path());
    again.show();
    QVERIFY(QTest::qWaitForWindowExposed(&again));
    QTest::keyClick(&again, Qt::Key_Escape);
    QVERIFY(again.isVisible());
}

void TestForm2::controls_captionsAndTabOrder()
{
    Form2 d(m_dir->path());
    QCOMPARE(d.windowTitle(), u"動作設定"_s);
    // Two rows taller than described, for the error notice and the desktop's boxes.
    QCOMPARE(d.size(), QSize(445, 569));
    QCOMPARE(d.CheckNotify->text(), u"デスクトップ通知"_s);
    QCOMPARE(d.CheckAutostart->text(), u"ログイン時に起動"_s);
    QVERIFY(!(d.windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(d.cmbTopLine->count(), 3);
    QCOMPARE(d.cmbEndLine->itemText(2), u"ウェブページアドレスを挿入"_s);
    QVERIFY(!d.cmbSubject->isEditable());
    const QStringList lines = Form2::check1Caption().split(u"\r\n"_s);
    QCOMPARE(lines.size(), 5);
    QCOMPARE(lines[1], QString(42, u'-'));
    QCOMPARE(lines[3], u"\u3000メール送信の対象とはしません。 例：「@ 大阪|兵庫|奈良」"_s);
    QCOMPARE(d.Check1->text().split(u'\n').size(), 5);
    QCOMPARE(d.Frame1->title(), u"POP Berfore SMTP の設定"_s);
    QCOMPARE(d.CmdPOP試験->toolTip(), u"接続と送信を試験します"_s);
    for (int i = 0; i < 9; ++i)
        QVERIFY(d.Label1[size_t(i)] && !d.Label1[size_t(i)]->text().isEmpty());
    QVERIFY(d.Label1[5]->parentWidget() == d.Frame1);
    QCOMPARE(d.Label1[7]->text(), u"件名："_s);
    // Top left to bottom right: the left column, the POP frame beside it, the bottom rows.
    const QList<QWidget *> order {d.TxtSMTP, d.TxtFrom, d.TxtTO, d.cmbSubject, d.cmbTopLine, d.cmbEndLine,
        d.TxtTimerTime, d.TxtRirekiSUU, d.Check2, d.TxtPOP, d.TxtPopAccount, d.TxtPopPassword, d.Check1, d.CmdPOP試験,
        d.cmdOK, d.TxtErrorMail, d.CheckNotify, d.CheckAutostart, d.TxtHostGap, d.TxtSMTP};
    for (qsizetype i = 0; i + 1 < order.size(); ++i) {
        QWidget *next = order[i]->nextInFocusChain();
        while (next->focusPolicy() == Qt::NoFocus || !order.contains(next))
            next = next->nextInFocusChain();
        QVERIFY2(next == order[i + 1], qPrintable(order[i]->objectName() + u" → "_s + next->objectName()));
    }
    // A screen reader names each control after what the user sees: its caption, or its label.
    for (QWidget *w : d.findChildren<QWidget *>()) {
        if (w->focusPolicy() & Qt::TabFocus && !w->isWindow() && w->isVisibleTo(&d)
            && !qobject_cast<QAbstractItemView *>(w) && w->parentWidget() != d.TxtErrorMail)
            QVERIFY2(!w->accessibleName().isEmpty() || !w->property("text").toString().isEmpty(),
                qPrintable(w->objectName()));
    }
    QCOMPARE(d.TxtSMTP->accessibleName(), u"SMTPサーバー名"_s);
    QCOMPARE(d.cmbSubject->accessibleName(), u"件名"_s);
    QCOMPARE(d.cmbEndLine->accessibleName(), u"本文最終行処理"_s);
    QCOMPARE(d.TxtPopPassword->accessibleName(), u"POPパスワード"_s);
    QCOMPARE(d.TxtRirekiSUU->accessibleName(), u"履歴保持件数"_s);
    QCOMPARE(d.Check1->accessibleName(), u"検索条件にヒットする文のリンク先も自動参照する"_s);
}

void TestForm2::errorMail_shownAndSaved_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("shown");
    QTest::newRow("absent") << QByteArray() << 0;
    QTest::newRow("three") << QByteArray("ERRORMAIL=3\r\n") << 3;
    // Whatever means off shows 0, so that saving the dialog cannot switch alerts on.
    QTest::newRow("letters") << QByteArray("ERRORMAIL=abc\r\n") << 0;
    QTest::newRow("too many") << QByteArray("ERRORMAIL=99999\r\n") << 0;
    QTest::newRow("fraction") << QByteArray("ERRORMAIL=2.5\r\n") << 0;
}

void TestForm2::errorMail_shownAndSaved()
{
    QFETCH(QByteArray, stored);
    QFETCH(int, shown);
    put("[MAIL]\r\n" + stored);
    {
        Form2 d(m_dir->path());
        QCOMPARE(d.TxtErrorMail->value(), shown);
        QCOMPARE(d.Label4->text(), u"エラー通知（連続失敗回数、0で無効）"_s);
        QCOMPARE(d.TxtErrorMail->maximum(), 1000);
        d.cmdOK->click();
    }
    QCOMPARE(mail(u"ERRORMAIL"_s), QString::number(shown));
    Form2 d(m_dir->path());
    d.TxtErrorMail->setValue(5);
    d.cmdOK->click();
    QCOMPARE(mail(u"ERRORMAIL"_s), u"5"_s);
}

void TestForm2::notify_shownAndSaved_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<bool>("ticked");
    QTest::newRow("absent") << QByteArray() << false;
    QTest::newRow("on") << QByteArray("NOTIFY=1\r\n") << true;
    QTest::newRow("off") << QByteArray("NOTIFY=0\r\n") << false;
    // Only "1" is on: what the notifier reads must be what the box shows.
    QTest::newRow("yes") << QByteArray("NOTIFY=yes\r\n") << false;
    QTest::newRow("1.0") << QByteArray("NOTIFY=1.0\r\n") << false;
}

void TestForm2::notify_shownAndSaved()
{
    QFETCH(QByteArray, stored);
    QFETCH(bool, ticked);
    put("[MAIL]\r\n" + stored);
    {
        Form2 d(m_dir->path());
        QCOMPARE(d.CheckNotify->isChecked(), ticked);
        d.cmdOK->click();
    }
    QCOMPARE(mail(u"NOTIFY"_s), ticked ? u"1"_s : u"0"_s);
    Form2 d(m_dir->path());
    d.CheckNotify->click();
    d.cmdOK->click();
    QCOMPARE(mail(u"NOTIFY"_s), ticked ? u"0"_s : u"1"_s);
}

void TestForm2::autostart_entryFollowsTheBox()
{
    const QString entry = m_config.path() + u"/autostart/korvani.desktop"_s;
    {
        Form2 d(m_dir->path());
        QVERIFY(!d.CheckAutostart->isChecked());
        d.CheckAutostart->click();
        // The test mail saves the settings, not the entry.
        d.StoreSettings();
        QVERIFY(!QFile::exists(entry));
        d.cmdOK->click();
    }
    QFile f(entry);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.readAll().contains("\nExec=\"" + QCoreApplication::applicationFilePath().toUtf8() + "\"\n"));
    f.close();
    {
        Form2 d(m_dir->path());
        QVERIFY(d.CheckAutostart->isChecked());
        d.CheckAutostart->click();
        d.cmdOK->click();
    }
    QVERIFY(!QFile::exists(entry));

    // A folder that cannot be written: told in a box; the rest is saved and the dialog closes.
    QDir(m_config.path()).rmdir(u"autostart"_s);
    QFile blocker(m_config.path() + u"/autostart"_s);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const auto unblock = qScopeGuard([&blocker] { blocker.remove(); });
    Form2 d(m_dir->path());
    d.CheckAutostart->click();
    d.TxtTimerTime->setText(u"45"_s);
    Ui::testing::queueAnswer(Ui::Answer::Ok);
    d.cmdOK->click();
    QCOMPARE(d.result(), int(QDialog::Accepted));
    QCOMPARE(Ui::testing::shown().size(), size_t(1));
    QVERIFY2(Ui::testing::shown()[0].text.startsWith(u"自動起動の設定を書き込めませんでした"_s),
        qPrintable(Ui::testing::shown()[0].text));
    QCOMPARE(Ui::testing::shown()[0].icon, Ui::Icon::Critical);
    QCOMPARE(mail(u"TIMERTIME"_s), u"45"_s);
    QVERIFY(!Form2(m_dir->path()).CheckAutostart->isChecked());
}

void TestForm2::testMail_outcomes_data()
{
    QTest::addColumn<bool>("check2");
    QTest::addColumn<QString>("popFailure");
    QTest::addColumn<QString>("smtpFailure");
    QTest::addColumn<QStringList>("boxes");

    const QString popText = u"POPサーバーへ接続できませんでした。エラーが発生しています。\r\n"_s;
    const QString smtpText = u"SMTPサーバーへ接続できませんでした。エラーが発生しています。\r\n"_s;
    QTest::newRow("no POP, sent") << false << u"unused"_s << QString() << QStringList {u"送信しました。"_s};
    QTest::newRow("no POP, failed") << false << QString() << u"接続できません (x)"_s
                                    << QStringList {smtpText + u"接続できません (x)"_s};
    QTest::newRow("POP fails, then sent")
        << true << u"-ERR auth"_s << QString() << QStringList {popText + u"-ERR auth"_s, u"送信しました。"_s};
    QTest::newRow("POP fine, SMTP fails") << true << QString() << u"550 no"_s << QStringList {smtpText + u"550 no"_s};
}

void TestForm2::testMail_outcomes()
{
    QFETCH(bool, check2);
    QFETCH(QString, popFailure);
    QFETCH(QString, smtpFailure);
    QFETCH(QStringList, boxes);
    put("[MAIL]\r\nSUBJECT=1\r\n");
    Form2 *dialog = nullptr;
    Module1::testing::setSettingsFolder(m_dir->path());
    Module1::testing::setRcvMail([&](auto &&...) {
        m_pop << mail(u"CHECK2"_s);
        return popFailure.isEmpty() ? QVariant(QStringList {u"+OK"_s}) : QVariant(popFailure);
    });
    // The sender runs on a worker and holds on until the dialog has been looked at meanwhile.
    std::atomic<bool> sending {false}, release {false};
    Module1::testing::setSendMail(
        [&](const QString &, const QString &, const QString &, const QString &subject, const QString &body, auto &&) {
            m_sent.append({subject, body});
            sending = true;
            while (!release)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return smtpFailure;
        });
    for (qsizetype i = 0; i < boxes.size(); ++i)
        Ui::testing::queueAnswer(Ui::Answer::Ok);
    Form2 d(m_dir->path());
    dialog = &d;
    QTimer tick;
    tick.setInterval(10);
    connect(&tick, &QTimer::timeout, this, [&] {
        if (!sending || release)
            return;
        // Window messages run while the mail is on its way: the dialog shows its state.
        if (++m_ticksDuringSend < 3)
            return;
        m_inputDuringSend = dialog->TxtSMTP->isEnabled() || dialog->cmdOK->isEnabled()
            || dialog->CmdPOP試験->isEnabled() || dialog->Check2->isEnabled();
        m_captionDuringSend = dialog->CmdPOP試験->text();
        release = true;
    });
    tick.start();
    d.TxtSMTP->setText(u"127.0.0.1:2525"_s);
    if (check2)
        d.Check2->click(); // ticked but not saved: the test saves first
    d.CmdPOP試験->click();

    QCOMPARE(m_pop, check2 ? QStringList {u"1"_s} : QStringList {});
    QCOMPARE(m_sent.size(), 1);
    QCOMPARE(m_sent[0].first, u"Korvani試験"_s);
    QVERIFY(m_sent[0].second.startsWith(u"試験メッセージ:"_s));
    QVERIFY(m_sent[0].second.contains(QString::number(QDate::currentDate().year())));
    QVERIFY(m_ticksDuringSend >= 3);
    QVERIFY(!m_inputDuringSend);
    QCOMPARE(m_captionDuringSend, u"試験中..."_s);
    QStringList shown;
    for (const auto &s : Ui::testing::shown()) {
        shown << s.text;
        QCOMPARE(s.title, u"Korvani  1.8.0"_s);
        QCOMPARE(s.icon, s.text == u"送信しました。"_s ? Ui::Icon::Information : Ui::Icon::Critical);
    }
    QCOMPARE(shown, boxes);
    QVERIFY(d.isEnabled());
    QVERIFY(d.CmdPOP試験->isEnabled());
    QVERIFY(d.TxtSMTP->isEnabled());
    QCOMPARE(d.TxtPOP->isEnabled(), check2);
    QCOMPARE(d.CmdPOP試験->text(), u"試験"_s);
    QCOMPARE(mail(u"SMTP_SERVER"_s), u"127.0.0.1:2525"_s);
}

void TestForm2::testMail_savedEvenWhenClosedAfter()
{
    Module1::testing::setSettingsFolder(m_dir->path());
    Module1::testing::setSendMail([](auto &&...) { return QString(); });
    Ui::testing::queueAnswer(Ui::Answer::Ok);
    Form2 d(m_dir->path());
    d.show();
    d.TxtTO->setText(u"tested@example.jp"_s);
    d.CmdPOP試験->click();
    d.TxtTO->setText(u"not saved@example.jp"_s);
    d.close();
    QCOMPARE(mail(u"TO"_s), u"tested@example.jp"_s);
}

// A mail server that takes the connection and never says a word: closing the dialog ends the
// test at once, shows nothing, and the transfer itself ends too.
void TestForm2::testMail_closedDuringTest_transferEnds()
{
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    QList<QTcpSocket *> held;
    connect(&silent, &QTcpServer::newConnection, this, [&] {
        while (QTcpSocket *s = silent.nextPendingConnection())
            held.append(s);
    });
    Module1::testing::setSettingsFolder(m_dir->path());
    Form2 d(m_dir->path());
    d.show();
    d.TxtSMTP->setText(u"127.0.0.1:%1"_s.arg(silent.serverPort()));
    d.TxtFrom->setText(u"korvani@example.test"_s);
    d.TxtTO->setText(u"user@example.test"_s);
    QTimer::singleShot(300, &d, [&] {
        QCOMPARE(held.size(), 1);
        QCOMPARE(d.CmdPOP試験->text(), u"試験中..."_s);
        d.close();
    });
    d.CmdPOP試験->click();
    QVERIFY(!d.isVisible());
    QVERIFY(Ui::testing::shown().empty());
    QVERIFY(Module1::waitForWorkers(5000));
}

void TestForm2::testMail_dateHasSeconds_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("expected");
    QTest::newRow("ja_JP") << u"ja_JP"_s << u"2026/12/08 9:05:07"_s;
    QTest::newRow("en_US") << u"en_US"_s << u"12/8/26 9:05:07\u202FAM"_s;
    QTest::newRow("de_DE") << u"de_DE"_s << u"08.12.26 09:05:07"_s;
}

void TestForm2::testMail_dateHasSeconds()
{
    QFETCH(QString, locale);
    QFETCH(QString, expected);
    const QDateTime when(QDate(2026, 12, 8), QTime(9, 5, 7));
    QString shown = Form2::testMailDateTime(QLocale(locale), when);
    shown.replace(u' ', u'\u202F'); // some locales put a narrow space before AM
    expected.replace(u' ', u'\u202F');
    QCOMPARE(shown, expected);
}

void TestForm2::testMail_arrivesAtTheRealServer()
{
    const QString run = qEnvironmentVariable("KORVANI_MAIL_RUN");
    const int base = qEnvironmentVariableIntValue("KORVANI_MAIL_PORT_BASE");
    QVERIFY2(!run.isEmpty() && base > 0, "run through ctest: the mail servers are a fixture");
    const QString to = u"form2-%1@example.test"_s.arg(QCoreApplication::applicationPid());
    Module1::testing::setSettingsFolder(m_dir->path());
    Ui::testing::queueAnswer(Ui::Answer::Ok);
    Ui::testing::queueAnswer(Ui::Answer::Ok);
    Form2 d(m_dir->path());
    d.TxtSMTP->setText(u"127.0.0.1:%1"_s.arg(base + 25));
    d.TxtFrom->setText(u"korvani@example.test"_s);
    d.TxtTO->setText(to);
    d.CmdPOP試験->click();
    QCOMPARE(Ui::testing::shown().size(), size_t(1));
    QCOMPARE(Ui::testing::shown()[0].text, u"送信しました。"_s);

    QByteArray found;
    for (const QString &sub : {u"new"_s, u"cur"_s}) {
        QDir dir(run + u"/Maildir/"_s + sub);
        for (const QString &name : dir.entryList(QDir::Files)) {
            QFile f(dir.filePath(name));
            if (f.open(QIODevice::ReadOnly)) {
                const QByteArray head = f.readLine() + f.readLine();
                if (head.contains(to.toUtf8()))
                    found = f.readAll();
            }
        }
    }
    QVERIFY(!found.isEmpty());
    const maildecode::Parsed m = maildecode::parse(found);
    QCOMPARE(maildecode::decodeWords(m.header("Subject")), u"Korvani試験"_s);
    QVERIFY(maildecode::decodeBody(m.body).startsWith(u"試験メッセージ:"_s));

    // A server that refuses: the failure box carries the sender's own text after the line break.
    d.TxtSMTP->setText(u"127.0.0.1:1"_s);
    d.CmdPOP試験->click();
    QCOMPARE(Ui::testing::shown().size(), size_t(2));
    QVERIFY(
        Ui::testing::shown()[1].text.startsWith(u"SMTPサーバーへ接続できませんでした。エラーが発生しています。\r\n"_s));
    QVERIFY(Ui::testing::shown()[1].text.size() > 40);

    // No server at all: a clear failure, at once.
    Ui::testing::queueAnswer(Ui::Answer::Ok);
    d.TxtSMTP->clear();
    d.CmdPOP試験->click();
    QCOMPARE(Ui::testing::shown().size(), size_t(3));
    QVERIFY(Ui::testing::shown()[2].text.startsWith(u"SMTPサーバーへ接続できませんでした。"_s));

    // The real POP server refuses the password: its box first, then the send's outcome.
    mail::testing::setCaFile(run + u"/cert.pem"_s);
    Ui::testing::queueAnswer(Ui::Answer::Ok);
    Ui::testing::queueAnswer(Ui::Answer::Ok);
    d.TxtSMTP->setText(u"127.0.0.1:%1"_s.arg(base + 25));
    d.Check2->click();
    d.TxtPOP->setText(u"127.0.0.1:%1"_s.arg(base + 110));
    d.TxtPopAccount->setText(u"korvani"_s);
    d.TxtPopPassword->setText(u"wrong"_s);
    d.CmdPOP試験->click();
    QCOMPARE(Ui::testing::shown().size(), size_t(5));
    QVERIFY(
        Ui::testing::shown()[3].text.startsWith(u"POPサーバーへ接続できませんでした。エラーが発生しています。\r\n"_s));
    QCOMPARE(Ui::testing::shown()[3].icon, Ui::Icon::Critical);
    QCOMPARE(Ui::testing::shown()[4].text, u"送信しました。"_s);
    QVERIFY(d.TxtSMTP->isEnabled());
    mail::testing::reset();
}

QTEST_MAIN(TestForm2)
#include "tst_form2.moc"
