#include "platform/AppTitle.h"
#include "platform/MessagePump.h"
#include "platform/ui/MessageBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

class TestMessageBox : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void queuedAnswersCarryTheApplicationTitle();
    void realBoxShowsTheTitleAndAnswers();
    void realPromptReturnsTextOrNothing();
    void waitForEventsSleepsUntilAnEvent();
};

void TestMessageBox::init()
{
    Ui::testing::reset();
    AppTitle::set(u"Korvani  1.8.0"_s);
}

void TestMessageBox::queuedAnswersCarryTheApplicationTitle()
{
    Ui::testing::queueAnswer(Ui::Answer::Cancel);
    Ui::testing::queueInput(u"typed"_s);
    Ui::testing::queueInput(std::nullopt);
    QCOMPARE(Ui::msgBox(u"q?"_s, Ui::Buttons::OkCancel, Ui::Icon::Question), Ui::Answer::Cancel);
    QCOMPARE(Ui::inputBox(u"p"_s, u"d"_s), std::optional<QString>(u"typed"_s));
    QCOMPARE(Ui::inputBox(u"p"_s, u"d"_s), std::optional<QString>());
    const auto &shown = Ui::testing::shown();
    QCOMPARE(shown.size(), size_t(3));
    for (const auto &s : shown)
        QCOMPARE(s.title, u"Korvani  1.8.0"_s);
    QCOMPARE(shown[0].icon, Ui::Icon::Question);
    QCOMPARE(shown[1].defaultText, u"d"_s);
}

// Without a queued answer the real modal box appears; it must carry the title and no other.
void TestMessageBox::realBoxShowsTheTitleAndAnswers()
{
    QString seenTitle, seenText;
    QTimer::singleShot(50, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(box);
        seenTitle = box->windowTitle();
        seenText = box->text();
        box->button(QMessageBox::Cancel)->click();
    });
    const Ui::Answer a
        = Ui::msgBox(u"送信履歴を削除してもよろしいですか？"_s, Ui::Buttons::OkCancel, Ui::Icon::Question);
    QCOMPARE(a, Ui::Answer::Cancel);
    QCOMPARE(seenTitle, u"Korvani  1.8.0"_s);
    QCOMPARE(seenText, u"送信履歴を削除してもよろしいですか？"_s);

    // Page lines are shown in these boxes: markup in them must stay text.
    Qt::TextFormat seenFormat = Qt::RichText;
    QTimer::singleShot(50, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(box);
        seenFormat = box->textFormat();
        box->button(QMessageBox::Ok)->click();
    });
    Ui::msgBox(u"<b>特売</b>"_s, Ui::Buttons::Ok, Ui::Icon::None);
    QCOMPARE(seenFormat, Qt::PlainText);
}

void TestMessageBox::realPromptReturnsTextOrNothing()
{
    QTimer::singleShot(50, this, [] {
        auto *dlg = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
        QVERIFY(dlg);
        QCOMPARE(dlg->windowTitle(), u"Korvani  1.8.0"_s);
        QCOMPARE(dlg->textValue(), u"old"_s);
        dlg->setTextValue(u"new"_s);
        dlg->accept();
    });
    QCOMPARE(Ui::inputBox(u"URLをどうぞ"_s, u"old"_s), std::optional<QString>(u"new"_s));

    QTimer::singleShot(50, this, [] { QApplication::activeModalWidget()->close(); });
    QCOMPARE(Ui::inputBox(u"URLをどうぞ"_s, u"old"_s), std::optional<QString>());
}

void TestMessageBox::waitForEventsSleepsUntilAnEvent()
{
    // With nothing queued the wait ends at its limit, not at once and not never.
    pump::doEvents();
    QElapsedTimer t;
    t.start();
    pump::waitForEvents(200);
    QVERIFY2(t.elapsed() >= 150, qPrintable(QString::number(t.elapsed())));

    // An event that arrives earlier ends it early and is handled.
    bool fired = false;
    QTimer::singleShot(20, this, [&] { fired = true; });
    t.restart();
    while (!fired && t.elapsed() < 2000)
        pump::waitForEvents(1000);
    QVERIFY(fired);
    QVERIFY2(t.elapsed() < 900, qPrintable(QString::number(t.elapsed())));
}

QTEST_MAIN(TestMessageBox)
#include "tst_messagebox.moc"
