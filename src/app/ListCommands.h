#pragma once

#include <QObject>

class Form1;
class QListWidget;
class QListWidgetItem;

// The user's commands on the main window's lists: editing a condition or an address in place,
// reading a long line in full, clearing the sent history, and opening the settings dialog.
class ListCommands : public QObject
{
    Q_OBJECT
public:
    explicit ListCommands(Form1 &form);

    // The condition editor's eleven lines, joined by CR LF.
    static QString conditionPrompt();
    static QString addressPrompt();

    void ListKeyWord_DblClick(int row);
    void ListURL_DblClick(int row);
    void List1_DblClick();
    void List3_DblClick();
    void cmdList3Clear_Click();
    void menuSetting_Click();

protected:
    // Enter on a row does what a double-click does.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void followSelection(QListWidget *list);
    void showSelected(QListWidget *list);

    Form1 &m_form;
};
