#include "app/ListCommands.h"

#include "app/ConditionPreview.h"
#include "app/ExtentListWidget.h"
#include "app/Form1.h"
#include "app/SentJournal.h"
#include "patrol/HitRow.h"
#include "platform/Width.h"
#include "platform/ui/MessageBox.h"
#include "settings/SettingsLocation.h"
#include "settings/dialog/Form2.h"

#include <QAction>
#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>
#include <QTextDocument>

using namespace Qt::StringLiterals;

namespace {

// A row's text, and for a hit of the extracted-line list the conditions behind it.
QString withExplanation(const QListWidgetItem *row, const QString &lineBreak)
{
    const QString why = HitRow::explanation(row);
    return why.isEmpty() ? row->text() : row->text() + lineBreak + QString(why).replace(u'\n', lineBreak);
}

} // namespace

ListCommands::ListCommands(Form1 &form)
    : QObject(&form)
    , m_form(form)
{
    connect(form.ListKeyWord, &QListWidget::itemDoubleClicked, this,
        [this](QListWidgetItem *item) { ListKeyWord_DblClick(m_form.ListKeyWord->row(item)); });
    connect(form.ListURL, &QListWidget::itemDoubleClicked, this,
        [this](QListWidgetItem *item) { ListURL_DblClick(m_form.ListURL->row(item)); });
    connect(form.List1, &QListWidget::itemDoubleClicked, this, &ListCommands::List1_DblClick);
    connect(form.List3, &QListWidget::itemDoubleClicked, this, &ListCommands::List3_DblClick);
    for (QListWidget *list : {static_cast<QListWidget *>(form.List1), form.List3}) {
        connect(list, &QListWidget::itemSelectionChanged, this, [this, list] { followSelection(list); });
        connect(list, &QListWidget::itemClicked, this, [this, list] { followSelection(list); });
    }
    connect(form.cmdList3Clear, &QPushButton::clicked, this, &ListCommands::cmdList3Clear_Click);
    connect(form.menuSetting, &QAction::triggered, this, &ListCommands::menuSetting_Click);
    for (QListWidget *list : {form.ListKeyWord, form.ListURL, static_cast<QListWidget *>(form.List1), form.List3})
        list->installEventFilter(this);
}

bool ListCommands::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) || key->modifiers() & ~Qt::KeypadModifier)
        return QObject::eventFilter(watched, event);
    auto *list = static_cast<QListWidget *>(watched);
    const int row = list->currentRow();
    if (row < 0)
        return QObject::eventFilter(watched, event);
    // The row a double-click would have selected.
    list->setCurrentRow(row);
    if (list == m_form.ListKeyWord)
        ListKeyWord_DblClick(row);
    else if (list == m_form.ListURL)
        ListURL_DblClick(row);
    else if (list == m_form.List1)
        List1_DblClick();
    else
        List3_DblClick();
    return true;
}

QString ListCommands::conditionPrompt()
{
    return QStringList {
        u"検索単語をどうぞ"_s,
        QString(),
        u"正規検索対応"_s,
        u"半角スペースでAND条件"_s,
        u"-xxxx でNOT条件"_s,
        u"xxx|xxx でどちらか条件"_s,
        u"中学[1-3] とすると\u3000中学1,中学2,中学3のいずれか"_s,
        u"小[1-6] -大阪 -東京 とすると、小1\uFF5E6の文字があり、かつ大阪東京の文字がない文がヒット"_s,
        QString(),
        QString(),
        u"先頭に@ をつけると、自動リンク先参照だけの機能となります。メール送信はしません。"_s,
    }
        .join(u"\r\n"_s);
}

QString ListCommands::addressPrompt()
{
    return u"URLをどうぞ http://を含めてくださいね"_s;
}

void ListCommands::ListKeyWord_DblClick(int row)
{
    // The row is noted now: the prompt lets window messages run, a patrol step among them.
    QListWidgetItem *item = m_form.ListKeyWord->item(row);
    if (!item)
        return;
    ConditionPreview preview(m_form.List1);
    const std::optional<QString> text = Ui::inputBox(conditionPrompt(), item->text(), &m_form, &preview);
    if (!text)
        return;
    if (QListWidgetItem *target = m_form.ListKeyWord->item(row))
        target->setText(width::narrow(*text));
    m_form.listsEdited();
}

void ListCommands::ListURL_DblClick(int row)
{
    QListWidgetItem *item = m_form.ListURL->item(row);
    if (!item)
        return;
    const std::optional<QString> text = Ui::inputBox(addressPrompt(), item->text(), &m_form);
    if (!text)
        return;
    if (QListWidgetItem *target = m_form.ListURL->item(row))
        target->setText(*text);
    m_form.listsEdited();
}

void ListCommands::followSelection(QListWidget *list)
{
    const QList<QListWidgetItem *> selected = list->selectedItems();
    if (selected.isEmpty())
        return;
    // A tooltip that looks like markup is rendered as such; a page's "<b>" must show as typed.
    const QString text = withExplanation(selected.front(), u"\n"_s);
    list->setToolTip(
        Qt::mightBeRichText(text) ? u"<p style='white-space:pre'>"_s + text.toHtmlEscaped() + u"</p>"_s : text);
}

void ListCommands::showSelected(QListWidget *list)
{
    const QList<QListWidgetItem *> selected = list->selectedItems();
    if (selected.isEmpty())
        return;
    Ui::msgBox(withExplanation(selected.front(), u"\r\n"_s), Ui::Buttons::Ok, Ui::Icon::None, &m_form);
}

void ListCommands::List1_DblClick()
{
    showSelected(m_form.List1);
}

void ListCommands::List3_DblClick()
{
    showSelected(m_form.List3);
}

void ListCommands::cmdList3Clear_Click()
{
    if (Ui::msgBox(u"送信履歴を削除してもよろしいですか？"_s, Ui::Buttons::OkCancel, Ui::Icon::Question, &m_form)
        == Ui::Answer::Ok) {
        m_form.List3->clear();
        // Nor may a start bring the cleared lines back.
        const QString file = SettingsLocation::filePath(m_form.settingsFolder());
        sentjournal::settle(file, sentjournal::mark(file));
        m_form.listsEdited();
    }
}

void ListCommands::menuSetting_Click()
{
    Form2 dialog(m_form.settingsFolder(), &m_form);
    dialog.exec();
}
