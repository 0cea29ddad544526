#include "app/KeyboardAccess.h"

#include "app/ExtentListWidget.h"
#include "app/Form1.h"
#include "platform/ui/Accessible.h"

#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace KeyboardAccess {

QString withKey(const QString &text, const QKeySequence &key)
{
    return text + u" ("_s + key.toString(QKeySequence::NativeText) + u')';
}

namespace {

QAction *command(Form1 &form, const QKeySequence &key, std::function<void()> run)
{
    auto *a = new QAction(&form);
    a->setShortcut(key);
    a->setShortcutContext(Qt::WindowShortcut);
    QObject::connect(a, &QAction::triggered, &form, std::move(run));
    form.addAction(a);
    return a;
}

} // namespace

void setUp(Form1 &form)
{
    // The picture buttons have no caption: their tooltips name them.
    form.cmd動作制御[0]->setAccessibleName(u"開始"_s);
    form.cmd動作制御[1]->setAccessibleName(u"停止"_s);
    form.cmd動作制御[0]->setToolTip(withKey(u"開始"_s, startStopKey()));
    form.cmd動作制御[1]->setToolTip(withKey(u"停止"_s, startStopKey()));
    form.cmdRun->setToolTip(withKey(form.cmdRun->text(), runNowKey()));
    form.cmdList3Clear->setToolTip(withKey(form.cmdList3Clear->text(), clearHistoryKey()));
    form.menuSetting->setShortcut(settingsKey());
    form.menuSetting->setToolTip(withKey(form.menuSetting->text(), settingsKey()));
    // A menu bar shows no tooltips of its items by itself, nor their keys: it takes the hovered one's.
    QMenuBar *bar = form.menuBar();
    QObject::connect(bar, &QMenuBar::hovered, bar,
        [bar, setting = form.menuSetting](QAction *a) { bar->setToolTip(a == setting ? a->toolTip() : QString()); });

    Ui::nameAfter(form.Label5, form.ListURL);
    Ui::nameAfter(form.Label2, form.List1);
    Ui::nameAfter(form.Label1, form.Text1);
    Ui::nameAfter(form.Label4, form.ListKeyWord);
    Ui::nameAfter(form.Label3, form.List3);
    for (QListWidget *list : {form.ListURL, form.ListKeyWord})
        list->setAccessibleDescription(u"Enter キーでも変更できます"_s);
    form.LaCountDown->setAccessibleDescription(form.Label7->text());
    if (QWidget *view = form.WebBrowser1->widget())
        view->setAccessibleName(u"巡回中のページ"_s);

    // Read-only, yet readable line by line from the keyboard; Tab leaves it.
    form.Text1->setTabChangesFocus(true);
    form.Text1->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);

    // Top left to bottom right: the buttons of the top row, then the lists below them by rows.
    const QList<QWidget *> order {form.cmd動作制御[0], form.cmd動作制御[1], form.cmdRun, form.cmdList3Clear,
        form.ListURL, form.List3, form.List1, form.ListKeyWord, form.Text1};
    for (qsizetype i = 0; i + 1 < order.size(); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);

    // A button that is disabled (the one for the state already on, or 強制実行 during a step)
    // ignores its click, so a key can never start what the mouse could not.
    command(form, runNowKey(), [&form] { form.cmdRun->click(); });
    command(form, startStopKey(), [&form] { form.cmd動作制御[form.Timer1->isActive() ? 1 : 0]->click(); });
    command(form, clearHistoryKey(), [&form] { form.cmdList3Clear->click(); });
}

} // namespace KeyboardAccess
