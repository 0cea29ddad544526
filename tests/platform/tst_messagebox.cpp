#include "platform/AppTitle.h"
#include "platform/MessagePump.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/MessageBoxTesting.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

// Says back what it is given, and counts how often.
class EchoPreview : public Ui::InputPreview
{
public:
    void preview(const QString &text) override
    {
        ++calls;
        Q_EMIT lineChanged(u"「"_s + text + u"」"_s);
    }
    int calls = 0;
};

} // namespace

class TestMessageBox : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void queuedAnswersCarryTheApplicationTitle();
    void realBoxShowsTheTitleAndAnswers();
    void realPromptReturnsTextOrNothing();
    void realPromptWithPreview_lineFollowsTheTypingAfterAPause();
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

void TestMessageBox::realPromptWithPreview_lineFollowsTheTypingAfterAPause()
{
    EchoPreview preview;
    QString title, atOpen, whileTyping, settled;
    int callsWhileTyping = -1;
    QTimer::singleShot(50, this, [&] {
        QWidget *dlg = QApplication::activeModalWidget();
        QVERIFY(dlg);
        auto *line = dlg->findChild<QLabel *>(u"preview"_s);
        auto *field = dlg->findChild<QLineEdit *>();
        QVERIFY(line && field);
        title = dlg->windowTitle();
        atOpen = line->text();
        // The default is selected, so typing replaces it.
        QTest::keyClicks(field, u"abc"_s);
        whileTyping = line->text();
        callsWhileTyping = preview.calls;
        QTRY_COMPARE(line->text(), u"「abc」"_s);
        settled = line->text();
        dlg->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
    });
    QCOMPARE(Ui::inputBox(u"検索単語をどうぞ"_s, u"old"_s, nullptr, &preview), std::optional<QString>(u"abc"_s));
    QCOMPARE(title, u"Korvani  1.8.0"_s);
    QCOMPARE(atOpen, u"「old」"_s);
    QCOMPARE(whileTyping, u"「old」"_s);
    QCOMPARE(callsWhileTyping, 1);
    QCOMPARE(settled, u"「abc」"_s);
    QCOMPARE(preview.calls, 2);
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
