// The editing and history commands of the main window, driven through its widgets' signals.
#include "../patrol/ScriptedBrowser.h"
#include "app/ConditionPreview.h"
#include "app/ExtentListWidget.h"
#include "app/Form1.h"
#include "app/ListCommands.h"
#include "patrol/Patrol.h"
#include "platform/ui/MessageBoxTesting.h"
#include "settings/dialog/Form2.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

using namespace Qt::StringLiterals;

class TestListCommands : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void conditionEditor_promptAndNarrowing_data();
    void conditionEditor_promptAndNarrowing();
    void addressEditor_storesAsTyped_inTheNotedRow();
    void viewersAndTooltips_showTheWholeLine();
    void hitRow_namesItsConditions_data();
    void hitRow_namesItsConditions();
    void emptyLists_doubleClickDoesNothing();
    void historyClear_asksFirst_data();
    void historyClear_asksFirst();
    void settingsDialog_opensModally();
    void enterOnRow_doesWhatADoubleClickDoes_data();
    void enterOnRow_doesWhatADoubleClickDoes();

private:
    void doubleClick(QListWidget *list, int row);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Form1> m_w;
};

void TestListCommands::init()
{
    Ui::testing::reset();
    Ui::testing::settlePreviewsBy(
        [](Ui::InputPreview &p, const QString &text) { return static_cast<ConditionPreview &>(p).settledLine(text); });
    m_dir = std::make_unique<QTemporaryDir>();
    m_w = std::make_unique<Form1>(std::make_unique<ScriptedBrowser>());
    m_w->setSettingsFolder(m_dir->path());
    m_w->Form_Load();
    m_w->Timer1->stop();
    QTest::qWait(1);
}

void TestListCommands::cleanup()
{
    m_w.reset();
    Ui::testing::reset();
}

void TestListCommands::doubleClick(QListWidget *list, int row)
{
    list->setCurrentRow(row);
    Q_EMIT list->itemDoubleClicked(list->item(row));
}

void TestListCommands::conditionEditor_promptAndNarrowing_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<std::optional<QString>>("typed");
    QTest::addColumn<QString>("after");
    QTest::addColumn<QString>("preview");
    const QString narrowing = u"\nページの文字は半角に変換されます："_s;
    QTest::newRow("cancel keeps the row") << u"大阪"_s << std::optional<QString>() << u"大阪"_s
                                          << u"抜き出されたテキスト 4 行のうち 2 行にヒットします"_s;
    QTest::newRow("full width narrowed") << QString()
                                         << std::optional<QString>(u"\uFF21\uFF22\uFF23\u3000\uFF11\uFF12\uFF13"_s)
                                         << u"ABC 123"_s
                                         << u"抜き出されたテキスト 4 行のうち 0 行にヒットします"_s + narrowing
            + u"ＡＢＣ　１２３ → ABC 123"_s;
    QTest::newRow("empty frees the slot") << u"大阪"_s << std::optional<QString>(QString()) << QString()
                                          << u"空のまま OK を押すと、この行の検索単語はなくなります"_s;
    QTest::newRow("katakana narrowed") << QString() << std::optional<QString>(u"セール -終了"_s)
                                       << u"\uFF7E\uFF70\uFF99 -終了"_s
                                       << u"抜き出されたテキスト 4 行のうち 1 行にヒットします"_s + narrowing
            + u"セール → ｾｰﾙ"_s;
    QTest::newRow("stored although it does not compile")
        << QString() << std::optional<QString>(u"大阪 -(東京"_s) << u"大阪 -(東京"_s
        << u"正規表現として使えません（末尾）：「(」を閉じる「)」がありません"_s;
    QTest::newRow("fault counted as typed")
        << QString() << std::optional<QString>(u"ガ)x"_s) << u"ｶﾞ)x"_s
        << u"正規表現として使えません（2文字目）：「)」に対応する「(」がありません"_s + narrowing + u"ガ)x → ｶﾞ)x"_s;
    QTest::newRow("link-only counted in link mode")
        << QString() << std::optional<QString>(u"@ 大阪"_s) << u"@ 大阪"_s
        << u"リンク専用の条件です（メールは送りません）。リンクの文字として調べると、抜き出されたテキスト 4 行のうち 2 行にヒットします"_s;
    QTest::newRow("a search that gives up")
        << QString() << std::optional<QString>(u"(a+)+$"_s) << u"(a+)+$"_s
        << u"抜き出されたテキスト 4 行のうち 0 行にヒットします（1 行は検索に時間がかかりすぎて判定できませんでした）"_s;
    QTest::newRow("10,000 characters") << QString() << std::optional<QString>(QString(9999, u'a') + u'(')
                                       << QString(9999, u'a') + u'('
                                       << u"正規表現として使えません（末尾）：「(」を閉じる「)」がありません"_s;
    QTest::newRow("nothing to search") << QString() << std::optional<QString>(u"@ "_s) << u"@ "_s
                                       << u"調べる語がないため、どの行にもヒットしません"_s;
}

void TestListCommands::conditionEditor_promptAndNarrowing()
{
    QFETCH(QString, before);
    QFETCH(std::optional<QString>, typed);
    QFETCH(QString, after);
    QFETCH(QString, preview);
    m_w->List1->addItems({u"\u25CF000:ｾｰﾙ中"_s, u"\u3000001:大阪の天気"_s, u"\u3000003:大阪の求人"_s,
        u"\u3000004:"_s + QString(40, u'a') + u'b'});
    m_w->ListKeyWord->item(4)->setText(before);
    Ui::testing::queueInput(typed);
    doubleClick(m_w->ListKeyWord, 4);
    QCOMPARE(m_w->ListKeyWord->item(4)->text(), after);
    QCOMPARE(m_w->ListKeyWord->count(), 100);
    QCOMPARE(Ui::testing::shown().size(), size_t(1));
    const Ui::testing::Shown &s = Ui::testing::shown()[0];
    QVERIFY(s.prompt);
    QCOMPARE(s.title, u"Korvani  1.8.0"_s);
    QCOMPARE(s.defaultText, before);
    const QStringList lines = s.text.split(u"\r\n"_s);
    QCOMPARE(lines.size(), 11);
    QCOMPARE(lines[0], u"検索単語をどうぞ"_s);
    QCOMPARE(lines[6], u"中学[1-3] とすると\u3000中学1,中学2,中学3のいずれか"_s);
    QCOMPARE(lines[7], u"小[1-6] -大阪 -東京 とすると、小1\uFF5E6の文字があり、かつ大阪東京の文字がない文がヒット"_s);
    QVERIFY(lines[8].isEmpty() && lines[9].isEmpty());
    QVERIFY(!s.text.endsWith(u"\r\n"_s));
    QCOMPARE(s.preview, preview);
}

void TestListCommands::addressEditor_storesAsTyped_inTheNotedRow()
{
    m_w->ListURL->item(7)->setText(u"http://127.0.0.1/seven"_s);
    // A patrol step selects row 7 while the prompt on row 5 is open.
    Ui::testing::whileOpen([this] { m_w->ListURL->setCurrentRow(7); });
    Ui::testing::queueInput(u" www.example.jp/なし "_s);
    doubleClick(m_w->ListURL, 5);
    QCOMPARE(m_w->ListURL->item(5)->text(), u" www.example.jp/なし "_s);
    QCOMPARE(m_w->ListURL->item(7)->text(), u"http://127.0.0.1/seven"_s);
    QCOMPARE(Ui::testing::shown()[0].text, u"URLをどうぞ http://を含めてくださいね"_s);

    // Cancel changes nothing, but the double-click has selected the row.
    Ui::testing::queueInput(std::nullopt);
    doubleClick(m_w->ListURL, 9);
    QCOMPARE(m_w->ListURL->item(9)->text(), QString());
    QCOMPARE(m_w->ListURL->currentRow(), 9);

    // The condition editor notes its row the same way.
    Ui::testing::whileOpen([this] { m_w->ListKeyWord->setCurrentRow(0); });
    Ui::testing::queueInput(u"x"_s);
    doubleClick(m_w->ListKeyWord, 3);
    QCOMPARE(m_w->ListKeyWord->item(3)->text(), u"x"_s);
    QCOMPARE(m_w->ListKeyWord->item(0)->text(), QString());
}

void TestListCommands::viewersAndTooltips_showTheWholeLine()
{
    const QString wide = u"\u25CF000:"_s + QString(3000, u'長');
    m_w->List1->addItem(u"\u3000000:short"_s);
    m_w->List1->addItem(wide);
    m_w->List3->addItem(u"mailed line"_s);
    m_w->List1->setCurrentRow(1);
    QCOMPARE(m_w->List1->toolTip(), wide);
    m_w->List3->setCurrentRow(0);
    QCOMPARE(m_w->List3->toolTip(), u"mailed line"_s);

    Ui::testing::queueAnswer(Ui::Answer::Ok);
    Ui::testing::queueAnswer(Ui::Answer::Ok);
    Q_EMIT m_w->List1->itemDoubleClicked(m_w->List1->item(1));
    Q_EMIT m_w->List3->itemDoubleClicked(m_w->List3->item(0));
    QCOMPARE(Ui::testing::shown().size(), size_t(2));
    QCOMPARE(Ui::testing::shown()[0].text, wide);
    QCOMPARE(Ui::testing::shown()[0].icon, Ui::Icon::None);
    QCOMPARE(Ui::testing::shown()[0].buttons, Ui::Buttons::Ok);
    QCOMPARE(Ui::testing::shown()[1].text, u"mailed line"_s);
    // The tooltip stays until the selection changes.
    m_w->List1->clear();
    QCOMPARE(m_w->List1->toolTip(), wide);

    // A line that looks like markup is shown as it stands, not rendered.
    const QString markup = u"\u25CF001:<b>特売</b> &amp; <img src=x>"_s;
    m_w->List3->addItem(markup);
    m_w->List3->setCurrentRow(1);
    QTextDocument shownTip;
    shownTip.setHtml(m_w->List3->toolTip());
    QCOMPARE(shownTip.toPlainText(), markup);
}

void TestListCommands::hitRow_namesItsConditions_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("explanation");
    const QStringList both {u"ヒットした検索単語：1番目「大阪」、3番目「求人 -京都」"_s};
    QTest::newRow("new hit") << 0 << u"\u25CF000:大阪府の求人"_s << (QStringList(both) << u"新着"_s);
    QTest::newRow("no hit") << 1 << u"\u3000001:京都の求人"_s << QStringList();
    QTest::newRow("hit mailed before") << 2 << u"\u3000003:大阪の求人 既出"_s << (QStringList(both) << u"送信済み"_s);
    QTest::newRow("one condition") << 3 << u"\u25CF004:京都の天気"_s
                                   << QStringList {u"ヒットした検索単語：8番目「天気」"_s, u"新着"_s};
}

// A row of a page check tells which conditions hit its line, as they read then, and whether it
// was new; the link-only condition never hits a page line.
void TestListCommands::hitRow_namesItsConditions()
{
    QFETCH(int, row);
    QFETCH(QString, text);
    QFETCH(QStringList, explanation);
    auto *browser = dynamic_cast<ScriptedBrowser *>(m_w->WebBrowser1);
    QVERIFY(browser);
    ScriptedPage page;
    page.body = u"大阪府の求人\r\n京都の求人\r\n\r\n大阪の求人 既出\r\n京都の天気\r\nend"_s;
    browser->addPage(u"http://127.0.0.1/jobs"_s, page);
    m_w->ListKeyWord->item(0)->setText(u"大阪"_s);
    m_w->ListKeyWord->item(2)->setText(u"求人 -京都"_s);
    m_w->ListKeyWord->item(5)->setText(u"@ 求人"_s);
    m_w->ListKeyWord->item(7)->setText(u"天気"_s);
    m_w->List3->addItem(u"大阪の求人 既出"_s);
    m_w->patrol()->CheckPage(u"http://127.0.0.1/jobs"_s);
    QCOMPARE(m_w->List1->count(), 4);
    m_w->ListKeyWord->item(0)->setText(u"奈良"_s);

    const QString tip = QStringList(QStringList {text} + explanation).join(u'\n');
    m_w->List1->setCurrentRow(row);
    QCOMPARE(m_w->List1->toolTip(), tip);
    Ui::testing::queueAnswer(Ui::Answer::Ok);
    Q_EMIT m_w->List1->itemDoubleClicked(m_w->List1->item(row));
    QCOMPARE(Ui::testing::shown().back().text, QString(tip).replace(u'\n', u"\r\n"_s));
}

void TestListCommands::emptyLists_doubleClickDoesNothing()
{
    ListCommands *commands = m_w->findChild<ListCommands *>();
    QVERIFY(commands);
    commands->List1_DblClick();
    commands->List3_DblClick();
    QVERIFY(Ui::testing::shown().empty());
}

void TestListCommands::historyClear_asksFirst_data()
{
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("before");
    QTest::newRow("OK clears") << true << 3;
    QTest::newRow("Cancel keeps") << false << 3;
    QTest::newRow("asks also when empty") << true << 0;
}

void TestListCommands::historyClear_asksFirst()
{
    QFETCH(bool, ok);
    QFETCH(int, before);
    for (int i = 0; i < before; ++i)
        m_w->List3->addItem(u"line %1"_s.arg(i));
    // An entry a patrol step adds while the question is open goes as well.
    Ui::testing::whileOpen([this] { m_w->List3->insertItem(0, u"added meanwhile"_s); });
    Ui::testing::queueAnswer(ok ? Ui::Answer::Ok : Ui::Answer::Cancel);
    m_w->cmdList3Clear->click();
    QCOMPARE(Ui::testing::shown().size(), size_t(1));
    QCOMPARE(Ui::testing::shown()[0].text, u"送信履歴を削除してもよろしいですか？"_s);
    QCOMPARE(Ui::testing::shown()[0].icon, Ui::Icon::Question);
    QCOMPARE(Ui::testing::shown()[0].buttons, Ui::Buttons::OkCancel);
    QCOMPARE(m_w->List3->count(), ok ? 0 : before + 1);
}

void TestListCommands::settingsDialog_opensModally()
{
    Form2 *seen = nullptr;
    bool modal = false;
    QString countdownBefore = m_w->LaCountDown->text();
    m_w->Timer1->start();
    QTimer::singleShot(1500, this, [&] {
        seen = qobject_cast<Form2 *>(QApplication::activeModalWidget());
        modal = seen && seen->isModal() && seen->parentWidget() == m_w.get();
        if (seen)
            seen->close();
    });
    m_w->menuSetting->trigger();
    QVERIFY(seen);
    QVERIFY(modal);
    // The patrol's countdown went on while the dialog was open.
    QVERIFY(m_w->LaCountDown->text() != countdownBefore);
}

void TestListCommands::enterOnRow_doesWhatADoubleClickDoes_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("prompt");
    QTest::newRow("address, Return") << u"ListURL"_s << int(Qt::Key_Return) << ListCommands::addressPrompt();
    QTest::newRow("condition, keypad Enter")
        << u"ListKeyWord"_s << int(Qt::Key_Enter) << ListCommands::conditionPrompt();
    QTest::newRow("hit line viewer") << u"List1"_s << int(Qt::Key_Return) << u"行 1"_s;
    QTest::newRow("history viewer") << u"List3"_s << int(Qt::Key_Return) << u"行 1"_s;
}

void TestListCommands::enterOnRow_doesWhatADoubleClickDoes()
{
    QFETCH(QString, list);
    QFETCH(int, key);
    QFETCH(QString, prompt);
    auto *l = m_w->findChild<QListWidget *>(list);
    QVERIFY(l);
    if (l->count() == 0)
        l->addItems({u"行 0"_s, u"行 1"_s});
    l->item(1)->setText(u"行 1"_s);
    const bool editable = l == m_w->ListURL || l == m_w->ListKeyWord;
    if (editable)
        Ui::testing::queueInput(u"ｴﾝﾀｰ"_s);
    else
        Ui::testing::queueAnswer(Ui::Answer::Ok);
    l->setCurrentRow(1);
    QTest::keyClick(l, Qt::Key(key), key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
    QCOMPARE(Ui::testing::shown().size(), size_t(1));
    QCOMPARE(Ui::testing::shown()[0].prompt, editable);
    QCOMPARE(Ui::testing::shown()[0].text, prompt);
    if (editable) {
        QCOMPARE(Ui::testing::shown()[0].defaultText, u"行 1"_s);
        QCOMPARE(l->item(1)->text(), u"ｴﾝﾀｰ"_s);
    }
    // Enter with a modifier is not the command.
    QTest::keyClick(l, Qt::Key_Return, Qt::ControlModifier);
    QCOMPARE(Ui::testing::shown().size(), size_t(1));
}

QTEST_MAIN(TestListCommands)
#include "tst_listcommands.moc"
