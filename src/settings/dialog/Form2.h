#pragma once

#include <QDialog>

#include <array>

class QCheckBox;
class QDateTime;
class QLocale;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

// The settings dialog: the thirteen mail and timing values of the settings file, loaded afresh
// at every opening, written back by "登録" and by the mail test; the close box discards.
class Form2 : public QDialog
{
    Q_OBJECT
public:
    // The settings file is the one in this folder.
    explicit Form2(const QString &settingsFolder, QWidget *parent = nullptr);
    ~Form2() override;

    void StoreSettings();
    void SendTestMail();

    // The five lines of Check1's caption, separated by CR LF.
    static QString check1Caption();
    // The test mail's date and time: the locale's short form, with seconds.
    static QString testMailDateTime(const QLocale &locale, const QDateTime &when);

    std::array<QLabel *, 9> Label1 {};
    QLineEdit *TxtSMTP = nullptr;
    QLineEdit *TxtFrom = nullptr;
    QLineEdit *TxtTO = nullptr;
    QPushButton *cmdOK = nullptr;
    QComboBox *cmbSubject = nullptr;
    QComboBox *cmbTopLine = nullptr;
    QComboBox *cmbEndLine = nullptr;
    QCheckBox *Check1 = nullptr;
    QLineEdit *TxtTimerTime = nullptr;
    QLabel *Label2 = nullptr;
    QGroupBox *Frame1 = nullptr;
    QCheckBox *Check2 = nullptr;
    QLineEdit *TxtPOP = nullptr;
    QLineEdit *TxtPopAccount = nullptr;
    QLineEdit *TxtPopPassword = nullptr;
    QPushButton *CmdPOP試験 = nullptr;
    QLineEdit *TxtRirekiSUU = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label4 = nullptr;
    QSpinBox *TxtErrorMail = nullptr;
    QLabel *LabelHostGap = nullptr;
    QSpinBox *TxtHostGap = nullptr;
    QCheckBox *CheckNotify = nullptr;
    QCheckBox *CheckAutostart = nullptr;

    // The largest ERRORMAIL the dialog offers.
    static constexpr int kMaxErrorMail = 1000;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void Form_Load();
    void Check2_Click();
    void cmdOK_Click();
    // A numeric box whose text does not read as a number keeps the focus; false then.
    bool numbersValid();
    void onFocusChanged(QWidget *old, QWidget *now);

    // Every control of the dialog, not its window: the window must stay closable during a test.
    void setControlsEnabled(bool enabled);
    // The dialog is going away: a test on its way ends without telling anybody.
    bool goingAway() const;

    QString m_folder;
    bool m_refocusing = false;
    QMetaObject::Connection m_focusConnection;
    bool m_testing = false;
    bool m_closing = false;
};
