#include "settings/dialog/Form2.h"

#include "mail/Module1.h"
#include "platform/VbNumber.h"
#include "platform/ui/Accessible.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/Twips.h"
#include "settings/Autostart.h"
#include "settings/SettingKeys.h"
#include "settings/clINI.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>

using namespace Qt::StringLiterals;
using Ui::place;
using Ui::twips;

namespace {

// A stored index or state: its whole number when that names an item, otherwise the default.
int storedIndex(const QString &text, int count, int fallback)
{
    const vb::WholeNumber n = vb::toInt16(text);
    return n.ok() && n.value >= 0 && n.value < count ? n.value : fallback;
}

const QStringList kLineItems {u"指定なし"_s, u"ウェブページタイトルを挿入"_s, u"ウェブページアドレスを挿入"_s};

} // namespace

Form2::Form2(const QString &settingsFolder, QWidget *parent)
    : QDialog(parent)
    , m_folder(settingsFolder)
{
    setObjectName(u"Form2"_s);
    setWindowTitle(u"動作設定"_s);
    // A fixed dialog border: a close box, no minimise or maximise box.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint
        | Qt::WindowCloseButtonHint);
    // Taller than the described 7410 twips by two rows, for the error notice and the desktop's
    // two boxes below the rest.
    setFixedSize(Ui::twipsToPixels(6675), Ui::twipsToPixels(8535));
    setFont(Ui::windowFont(font()));
    buildControls();
    m_focusConnection = connect(qApp, &QApplication::focusChanged, this, &Form2::onFocusChanged);
    qApp->installEventFilter(this);
    Form_Load();
}

// The widgets are hidden and destroyed after this body: a focus change then must not reach a
// dialog that is no longer one.
Form2::~Form2()
{
    disconnect(m_focusConnection);
}

QString Form2::check1Caption()
{
    const QString rule(42, u'-');
    return u"検索条件にヒットする文のリンク先も自動参照する\r\n"_s + rule
        + u"\r\n@で始まる検索条件文は、リンク先の自動参照だけとなり、\r\n\u3000メール送信の対象とはしません。 例：「@ 大阪|兵庫|奈良」\r\n"_s
        + rule;
}

void Form2::buildControls()
{
    auto label = [this](QWidget *parent, int index, const QString &text, const QRect &r) {
        Label1[size_t(index)] = Ui::label(parent, u"Label1_%1"_s.arg(index), text, r);
    };
    label(this, 0, u"SMTPサーバー名"_s, twips(300, 60, 1365, 195));
    TxtSMTP = place<QLineEdit>(this, u"TxtSMTP"_s, twips(300, 300, 6200, 315));
    label(this, 3, u"送信者メールアドレス：(例：abc@xxx.jp)"_s, twips(300, 690, 3240, 195));
    TxtFrom = place<QLineEdit>(this, u"TxtFrom"_s, twips(300, 930, 6200, 315));
    label(this, 4, u"宛先メールアドレス：(例:abc@xxx.jp 複数の場合は\";\"で区切ります)"_s, twips(300, 1305, 6060, 195));
    TxtTO = place<QLineEdit>(this, u"TxtTO"_s, twips(300, 1515, 6200, 315));
    label(this, 7, u"件名："_s, twips(300, 1965, 450, 195));
    cmdOK = place<QPushButton>(this, u"cmdOK"_s, twips(5565, 6750, 990, 450));
    cmdOK->setText(u"登録"_s);
    cmbSubject = place<QComboBox>(this, u"cmbSubject"_s, twips(300, 2190, 6225, 345));
    label(this, 1, u"本文一行目処理："_s, twips(285, 2715, 1350, 195));
    cmbTopLine = place<QComboBox>(this, u"cmbTopLine"_s, twips(285, 2955, 6225, 345));
    cmbEndLine = place<QComboBox>(this, u"cmbEndLine"_s, twips(300, 3645, 6225, 345));
    label(this, 2, u"本文最終行処理："_s, twips(300, 3405, 1350, 195));
    Check1 = place<QCheckBox>(this, u"Check1"_s, twips(240, 6030, 5205, 1170));
    // Qt breaks lines at LF only.
    Check1->setText(check1Caption().replace(u"\r\n"_s, u"\n"_s));
    TxtTimerTime = place<QLineEdit>(this, u"TxtTimerTime"_s, twips(1440, 4140, 735, 300));
    Label2 = Ui::label(this, u"Label2"_s, u"巡回間隔(秒)："_s, twips(285, 4215, 1110, 195));
    Frame1 = place<QGroupBox>(this, u"Frame1"_s, twips(2325, 4215, 4140, 1650));
    Frame1->setTitle(u"POP Berfore SMTP の設定"_s);
    Check2 = place<QCheckBox>(Frame1, u"Check2"_s, twips(120, 195, 2850, 330));
    Check2->setText(u"有効にする"_s);
    TxtPOP = place<QLineEdit>(Frame1, u"TxtPOP"_s, twips(1440, 480, 2610, 330));
    label(Frame1, 5, u"POPサーバー名"_s, twips(105, 555, 1245, 195));
    TxtPopAccount = place<QLineEdit>(Frame1, u"TxtPopAccount"_s, twips(1440, 840, 2610, 330));
    label(Frame1, 6, u"POPアカウント名"_s, twips(105, 915, 1305, 195));
    TxtPopPassword = place<QLineEdit>(Frame1, u"TxtPopPassword"_s, twips(1440, 1200, 2610, 330));
    TxtPopPassword->setEchoMode(QLineEdit::Password);
    TxtPopPassword->setStyleSheet(u"lineedit-password-character: 42;"_s); // "*", not the style's dot
    label(Frame1, 8, u"POPパスワード"_s, twips(105, 1275, 1170, 195));
    CmdPOP試験 = place<QPushButton>(this, u"CmdPOP試験"_s, twips(5580, 6045, 990, 525));
    CmdPOP試験->setText(u"試験"_s);
    CmdPOP試験->setToolTip(u"接続と送信を試験します"_s);
    TxtRirekiSUU = place<QLineEdit>(this, u"TxtRirekiSUU"_s, twips(1425, 4515, 735, 300));
    Label3 = Ui::label(this, u"Label3"_s, u"履歴保持件数："_s, twips(255, 4590, 1170, 195));
    Label4 = Ui::label(this, u"Label4"_s, u"エラー通知（連続失敗回数、0で無効）"_s, twips(255, 7395, 3600, 195));
    TxtErrorMail = place<QSpinBox>(this, u"TxtErrorMail"_s, twips(3900, 7335, 900, 315));
    TxtErrorMail->setRange(0, kMaxErrorMail);
    CheckNotify = place<QCheckBox>(this, u"CheckNotify"_s, twips(255, 7740, 2400, 300));
    CheckNotify->setText(u"デスクトップ通知"_s);
    CheckAutostart = place<QCheckBox>(this, u"CheckAutostart"_s, twips(2760, 7740, 2400, 300));
    CheckAutostart->setText(u"ログイン時に起動"_s);
    LabelHostGap = Ui::label(
        this, u"LabelHostGap"_s, u"同じサーバーへの巡回の間隔（秒、0で無制限）"_s, twips(255, 8145, 3600, 195));
    TxtHostGap = place<QSpinBox>(this, u"TxtHostGap"_s, twips(3900, 8085, 900, 315));
    TxtHostGap->setRange(0, 60);

    // Screen readers name each box after the label beside it.
    const std::pair<QLabel *, QWidget *> named[] {{Label1[0], TxtSMTP}, {Label1[3], TxtFrom}, {Label1[4], TxtTO},
        {Label1[7], cmbSubject}, {Label1[1], cmbTopLine}, {Label1[2], cmbEndLine}, {Label2, TxtTimerTime},
        {Label1[5], TxtPOP}, {Label1[6], TxtPopAccount}, {Label1[8], TxtPopPassword}, {Label3, TxtRirekiSUU},
        {Label4, TxtErrorMail}, {LabelHostGap, TxtHostGap}};
    for (const auto &[label, control] : named)
        Ui::nameAfter(label, control);
    const QStringList check1Lines = check1Caption().split(u"\r\n"_s);
    Check1->setAccessibleName(check1Lines.front());
    Check1->setAccessibleDescription(check1Lines.mid(2, 2).join(QString()).trimmed());

    for (QComboBox *c : {cmbSubject, cmbTopLine, cmbEndLine})
        c->setEditable(false);
    // No default button: Enter does not press one.
    for (QPushButton *b : {cmdOK, CmdPOP試験}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    // Top left to bottom right: the left column, the POP frame beside it, then the bottom rows.
    const QList<QWidget *> order {TxtSMTP, TxtFrom, TxtTO, cmbSubject, cmbTopLine, cmbEndLine, TxtTimerTime,
        TxtRirekiSUU, Check2, TxtPOP, TxtPopAccount, TxtPopPassword, Check1, CmdPOP試験, cmdOK, TxtErrorMail,
        CheckNotify, CheckAutostart, TxtHostGap};
    for (qsizetype i = 0; i + 1 < order.size(); ++i)
        setTabOrder(order[i], order[i + 1]);

    connect(Check2, &QCheckBox::clicked, this, &Form2::Check2_Click);
    connect(cmdOK, &QPushButton::clicked, this, &Form2::cmdOK_Click);
    connect(CmdPOP試験, &QPushButton::clicked, this, &Form2::SendTestMail);
}

void Form2::Form_Load()
{
    cmbSubject->addItems({u"ウェブページタイトル"_s, u"[KVS]"_s});
    cmbTopLine->addItems(kLineItems);
    cmbEndLine->addItems(kLineItems);
    {
        clINI ini(m_folder);
        TxtSMTP->setText(ini.GetSetting(Keys::SmtpServer));
        TxtFrom->setText(ini.GetSetting(Keys::From));
        TxtTO->setText(ini.GetSetting(Keys::To));
        cmbSubject->setCurrentIndex(storedIndex(ini.GetSetting(Keys::Subject), cmbSubject->count(), 0));
        cmbTopLine->setCurrentIndex(storedIndex(ini.GetSetting(Keys::TopLine), cmbTopLine->count(), 0));
        cmbEndLine->setCurrentIndex(storedIndex(ini.GetSetting(Keys::EndLine), cmbEndLine->count(), 0));
        Check1->setChecked(storedIndex(ini.GetSetting(Keys::Check1), 2, 1) == 1);
        Check2->setChecked(storedIndex(ini.GetSetting(Keys::Check2), 2, 0) == 1);
        TxtTimerTime->setText(ini.GetSetting(Keys::TimerTime));
        TxtPOP->setText(ini.GetSetting(Keys::PopServer));
        TxtPopAccount->setText(ini.GetSetting(Keys::PopAccount));
        TxtPopPassword->setText(ini.GetSetting(Keys::PopPassword));
        TxtRirekiSUU->setText(ini.GetSetting(Keys::RirekiSuu));
        // A value that switches nothing on shows as 0, so that saving it cannot switch alerts on.
        TxtErrorMail->setValue(Keys::errorMailThreshold(ini.GetSetting(Keys::ErrorMail)));
        CheckNotify->setChecked(ini.GetSetting(Keys::Notify) == u"1");
        TxtHostGap->setValue(Keys::hostGapSeconds(ini.GetSetting(Keys::HostGap)));
    }
    CheckAutostart->setChecked(Autostart::isOn());
    Check2_Click();
}

void Form2::Check2_Click()
{
    const bool on = Check2->isChecked();
    for (QLineEdit *e : {TxtPOP, TxtPopAccount, TxtPopPassword})
        e->setEnabled(on);
}

void Form2::StoreSettings()
{
    clINI ini(m_folder);
    ini.SaveSetting(Keys::SmtpServer, TxtSMTP->text());
    ini.SaveSetting(Keys::From, TxtFrom->text());
    ini.SaveSetting(Keys::To, TxtTO->text());
    ini.SaveSetting(Keys::Subject, QString::number(cmbSubject->currentIndex()));
    ini.SaveSetting(Keys::TopLine, QString::number(cmbTopLine->currentIndex()));
    ini.SaveSetting(Keys::EndLine, QString::number(cmbEndLine->currentIndex()));
    ini.SaveSetting(Keys::Check1, Check1->isChecked() ? u"1"_s : u"0"_s);
    ini.SaveSetting(Keys::Check2, Check2->isChecked() ? u"1"_s : u"0"_s);
    ini.SaveSetting(Keys::TimerTime, TxtTimerTime->text());
    ini.SaveSetting(Keys::PopServer, TxtPOP->text());
    ini.SaveSetting(Keys::PopAccount, TxtPopAccount->text());
    ini.SaveSetting(Keys::PopPassword, TxtPopPassword->text());
    ini.SaveSetting(Keys::RirekiSuu, TxtRirekiSUU->text());
    ini.SaveSetting(Keys::ErrorMail, QString::number(TxtErrorMail->value()));
    ini.SaveSetting(Keys::Notify, CheckNotify->isChecked() ? u"1"_s : u"0"_s);
    ini.SaveSetting(Keys::HostGap, QString::number(TxtHostGap->value()));
}

bool Form2::numbersValid()
{
    for (QLineEdit *box : {TxtTimerTime, TxtRirekiSUU}) {
        if (!vb::readsAsNumber(box->text())) {
            box->setFocus(Qt::OtherFocusReason);
            return false;
        }
    }
    return true;
}

void Form2::onFocusChanged(QWidget *old, QWidget *now)
{
    // The focus may not leave a numeric box while its text is no number; nothing is said.
    if (m_refocusing || (old != TxtTimerTime && old != TxtRirekiSUU) || now == old || !isVisible())
        return;
    auto *box = static_cast<QLineEdit *>(old);
    if (vb::readsAsNumber(box->text()) || !isAncestorOf(now ? now : this))
        return;
    m_refocusing = true;
    box->setFocus(Qt::OtherFocusReason);
    m_refocusing = false;
}

bool Form2::eventFilter(QObject *watched, QEvent *event)
{
    // While leaving a numeric box is refused, a click elsewhere in the dialog does nothing at all:
    // no box is ticked, no list opens.
    const QEvent::Type type = event->type();
    if ((type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) && watched->isWidgetType()) {
        auto *target = static_cast<QWidget *>(watched);
        QWidget *focused = focusWidget();
        if ((focused == TxtTimerTime || focused == TxtRirekiSUU) && target != focused && isAncestorOf(target)
            && !vb::readsAsNumber(static_cast<QLineEdit *>(focused)->text()))
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

void Form2::cmdOK_Click()
{
    if (!numbersValid())
        return;
    StoreSettings();
    // Not part of the settings file: the entry in the autostart folder is the setting. Written
    // anew when ticked, so that it names the program where it is now.
    if (CheckAutostart->isChecked() || Autostart::isOn()) {
        const QString failure = Autostart::set(CheckAutostart->isChecked(), QCoreApplication::applicationFilePath());
        if (!failure.isEmpty())
            Ui::msgBox(failure, Ui::Buttons::Ok, Ui::Icon::Critical, this);
    }
    accept();
}

QString Form2::testMailDateTime(const QLocale &locale, const QDateTime &when)
{
    // The system's usual form of a moment carries its seconds; the short form often drops them.
    QString format = locale.dateTimeFormat(QLocale::ShortFormat);
    if (!format.contains(u's')) {
        const qsizetype minutes = format.lastIndexOf(u"mm"_s);
        if (minutes >= 0)
            format.insert(minutes + 2, u":ss"_s);
        else
            format += u":ss"_s;
    }
    return locale.toString(when, format);
}

void Form2::setControlsEnabled(bool enabled)
{
    for (QWidget *w : findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        w->setEnabled(enabled);
}

bool Form2::goingAway() const
{
    return m_closing || Module1::ending();
}

void Form2::SendTestMail()
{
    if (m_testing || !numbersValid())
        return;
    m_testing = true;
    CmdPOP試験->setText(u"試験中..."_s);
    // The transfers run on a worker while both windows go on painting and the countdown counts;
    // the dialog takes no input meanwhile, but closing it ends the test.
    setControlsEnabled(false);
    StoreSettings();
    const QString body = u"試験メッセージ:"_s + testMailDateTime(QLocale::system(), QDateTime::currentDateTime());
    const auto popFailed = [this](const QString &failure) {
        if (!goingAway())
            Ui::msgBox(u"POPサーバーへ接続できませんでした。エラーが発生しています。\r\n"_s + failure, Ui::Buttons::Ok,
                Ui::Icon::Critical, this);
    };
    const QString failure = Module1::Send(body, u"Korvani試験"_s,
        {.popFirst = Check2->isChecked(), .goOn = [this] { return !m_closing; }, .popFailed = popFailed})
                                .failure;
    if (goingAway()) {
        // Nobody is there to read the answer any more.
    } else if (!failure.isEmpty())
        Ui::msgBox(u"SMTPサーバーへ接続できませんでした。エラーが発生しています。\r\n"_s + failure, Ui::Buttons::Ok,
            Ui::Icon::Critical, this);
    else
        Ui::msgBox(u"送信しました。"_s, Ui::Buttons::Ok, Ui::Icon::Information, this);
    CmdPOP試験->setText(u"試験"_s);
    setControlsEnabled(true);
    m_testing = false;
}

void Form2::closeEvent(QCloseEvent *event)
{
    m_closing = true;
    QDialog::closeEvent(event);
}

void Form2::keyPressEvent(QKeyEvent *event)
{
    // Without a cancel button Escape closes nothing.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
