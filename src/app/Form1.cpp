#include "app/Form1.h"

#include "app/DesktopNotifier.h"
#include "app/ExtentListWidget.h"
#include "app/HintedListWidget.h"
#include "app/KeyboardAccess.h"
#include "app/LearnedKeeper.h"
#include "app/ListCommands.h"
#include "app/ListPersistence.h"
#include "app/LoginCommands.h"
#include "app/ScheduleCommands.h"
#include "app/SortedListBox.h"
#include "app/TrayIcon.h"
#include "mail/Module1.h"
#include "patrol/Browser.h"
#include "patrol/BrowserProfile.h"
#include "patrol/HealthStore.h"
#include "patrol/Patrol.h"
#include "patrol/Schedule.h"
#include "patrol/Scheduler.h"
#include "patrol/TargetHealth.h"
#include "patrol/WebEngineBrowser.h"
#include "platform/AppTitle.h"
#include "platform/FileStore.h"
#include "platform/Log.h"
#include "platform/QuitSignals.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/Twips.h"
#include "settings/SettingsLocation.h"
#include "settings/clINI.h"
#include "survey/Survey.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSessionManager>
#include <QSvgRenderer>
#include <QTimer>

using namespace Qt::StringLiterals;
using Ui::label;
using Ui::place;
using Ui::twips;

namespace {

// Longer than a cancelled mail waits for the server's verdict on a message it has all of.
constexpr int kCancelledMailWaitMs = 1200;

QFont jpFont(bool proportional, bool bold = false)
{
    QFont f;
    if (proportional)
        f.setFamilies({u"ＭＳ Ｐゴシック"_s, u"MS PGothic"_s, u"IPAPGothic"_s, u"IPAPゴシック"_s});
    else
        f.setFamilies({u"ＭＳ ゴシック"_s, u"MS Gothic"_s, u"IPAGothic"_s, u"IPAゴシック"_s});
    f.setStyleHint(proportional ? QFont::SansSerif : QFont::Monospace);
    f.setPointSizeF(9.75);
    f.setBold(bold);
    return f;
}

QPixmap renderSvg(const QString &resource, QSize size)
{
    QSvgRenderer renderer(resource);
    QPixmap pm(size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    renderer.render(&p);
    return pm;
}

QIcon makeWindowIcon()
{
    QIcon icon;
    icon.addPixmap(renderSvg(u":/icons/korvani.svg"_s, QSize(32, 32)));
    icon.addPixmap(renderSvg(u":/icons/korvani.svg"_s, QSize(16, 16)));
    return icon;
}

// A label that is sized to its text: a layout resizes it whenever the text changes, leaving its
// left edge where it is.
QLabel *autoSizeLabel(QWidget *parent, const QString &name, QPoint at, int room)
{
    auto *box = new QWidget(parent);
    box->setGeometry(QRect(at, QSize(room, 1)));
    auto *lay = new QHBoxLayout(box);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->setSizeConstraint(QLayout::SetFixedSize);
    auto *l = new QLabel(box);
    l->setObjectName(name);
    lay->addWidget(l);
    return l;
}

} // namespace

Form1::Form1(std::unique_ptr<Browser> browser, QWidget *parent)
    : QMainWindow(parent)
    , m_browser(browser ? std::move(browser) : std::make_unique<WebEngineBrowser>())
{
    setObjectName(u"Form1"_s);
    // Sizable with a minimize box and no maximize box.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowIcon(makeWindowIcon());
    buildMenus();
    buildControls();

    PatrolWidgets w;
    w.window = this;
    w.browser = WebBrowser1;
    w.ListURL = ListURL;
    w.ListKeyWord = ListKeyWord;
    w.List1 = List1;
    w.List3 = List3;
    w.LaStatus = LaStatus;
    w.LaCountDown = LaCountDown;
    w.Text1 = Text1;
    w.cmdRun = cmdRun;
    w.cmd動作制御 = cmd動作制御;
    w.Timer1 = Timer1;
    w.settingsFolder = [this] { return settingsFolder(); };
    m_keeper = new LearnedKeeper(w, this);
    w.standingTrouble = [this] {
        if (const QString trouble = m_keeper->trouble(); !trouble.isEmpty())
            return trouble;
        if (!m_notifyTrouble.isEmpty() && DesktopNotifier::enabled(settingsFolder()))
            return m_notifyTrouble;
        return QString();
    };
    m_notifier = new DesktopNotifier([this] { return settingsFolder(); }, this);
    m_notifier->setIcon(windowIcon().pixmap(QSize(32, 32)).toImage());
    connect(m_notifier, &DesktopNotifier::unavailable, this, [this](const QString &text) {
        m_notifyTrouble = text;
        LaStatus->setText(text);
        applog::write(applog::Priority::Warning, text);
    });
    connect(m_notifier, &DesktopNotifier::availableAgain, this, [this] { m_notifyTrouble.clear(); });
    connect(m_notifier, &DesktopNotifier::windowWanted, this, &Form1::comeForward);
    w.tellDesktop = [this](const DesktopEvent &event) { m_notifier->tell(event); };
    m_patrol = std::make_unique<Patrol>(w);
    m_keeper->attach(*m_patrol);
    m_scheduler = std::make_unique<Scheduler>(w, *m_patrol);
    connect(cmdRun, &QPushButton::clicked, m_scheduler.get(), &Scheduler::cmdRun_Click);
    for (int i = 0; i < 2; ++i)
        connect(
            cmd動作制御[size_t(i)], &QPushButton::clicked, m_scheduler.get(), [this, i] { m_scheduler->cmd_Click(i); });

    connect(QuitSignals::install(), &QuitSignals::quitRequested, this, &Form1::onQuitSignal);
    // The desktop session ending closes the window like the close box does.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager &) { endSession(); });

    connect(menuアンケート, &QAction::triggered, this, [this] {
        Survey::SendSurvey(ListKeyWord, ListURL, *WebBrowser1, this, Survey::surveyAddress(),
            {.goOn = [this] { return !m_unloaded; }});
    });
    connect(menuORBELLWEB, &QAction::triggered, this, [] { Survey::OpenWebSite(Survey::webSiteAddress()); });
    m_listCommands = new ListCommands(*this);
    m_loginCommands = new LoginCommands(*this, menuLogin);
    m_scheduleCommands = new ScheduleCommands(*this);
    m_tray = new TrayIcon(*this, *m_notifier);
    KeyboardAccess::setUp(*this);
}

Form1::~Form1() = default;

void Form1::setBrowserProfile(BrowserProfile *profile)
{
    m_profile = profile;
    m_loginCommands->setProfile(profile);
}

QString Form1::settingsFolder() const
{
    return m_settingsFolder.isEmpty() ? SettingsLocation::folder() : m_settingsFolder;
}

void Form1::buildMenus()
{
    menuSetting = menuBar()->addAction(u"動作設定"_s);
    menuSetting->setObjectName(u"menuSetting"_s);
    menuLogin = menuBar()->addMenu(u"ログイン"_s);
    menuLogin->setObjectName(u"menuLogin"_s);
    menuHelp = menuBar()->addMenu(u"ヘルプ"_s);
    menuHelp->setObjectName(u"menuHelp"_s);
    menuアンケート = menuHelp->addAction(u"アンケート送信"_s);
    menuアンケート->setObjectName(u"menuアンケート"_s);
    menuORBELLWEB = menuHelp->addAction(u"ORBELLのウェブサイトを開く"_s);
    menuORBELLWEB->setObjectName(u"menuORBELLWEB"_s);
}

void Form1::buildControls()
{
    setFont(Ui::windowFont(font()));
    auto *client = new QWidget(this);
    client->setObjectName(u"client"_s);
    setCentralWidget(client);
    client->installEventFilter(this);

    for (int i = 0; i < 2; ++i) {
        QPushButton *b = place<QPushButton>(client, i == 0 ? u"cmd動作制御_0"_s : u"cmd動作制御_1"_s,
            i == 0 ? twips(15, 30, 615, 495) : twips(660, 30, 615, 495));
        b->setProperty("index", i);
        const QSize picture = i == 0 ? QSize(31, 31) : QSize(32, 32);
        b->setIcon(QIcon(renderSvg(i == 0 ? u":/icons/start.svg"_s : u":/icons/stop.svg"_s, picture)));
        b->setIconSize(picture);
        b->setToolTip(i == 0 ? u"開始"_s : u"停止"_s);
        cmd動作制御[static_cast<size_t>(i)] = b;
    }
    cmd動作制御[0]->setEnabled(false);

    cmdRun = place<QPushButton>(client, u"cmdRun"_s, twips(1515, 150, 1215, 315));
    cmdRun->setText(u"強制実行"_s);

    Label5 = label(client, u"Label5"_s, u"対象URL(ダブルクリックで変更)"_s, twips(3630, 270, 2610, 255));

    Label7 = label(client, u"Label7"_s, u"次のチェックまであと"_s, twips(4230, 255, 3855, 375));
    Label7->setAlignment(Qt::AlignRight | Qt::AlignTop);
    Label7->setFont(jpFont(true, true));
    QPalette blue = Label7->palette();
    blue.setColor(QPalette::WindowText, QColor(0, 0, 255));
    Label7->setPalette(blue);
    Label7->setAutoFillBackground(false);

    LaCountDown = autoSizeLabel(client, u"LaCountDown"_s, twips(8145, 270, 255, 195).topLeft(), 200);
    LaCountDown->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    LaCountDown->setFont(jpFont(true, true));
    LaCountDown->setPalette(blue);
    LaCountDown->setAutoFillBackground(false);

    Label3 = label(client, u"Label3"_s, u"送信履歴"_s, twips(9675, 270, 2175, 375));

    cmdList3Clear = place<QPushButton>(client, u"cmdList3Clear"_s, twips(10515, 150, 1095, 375));
    cmdList3Clear->setText(u"履歴消去"_s);

    WebBrowser1 = m_browser.get();
    if (QWidget *view = WebBrowser1->widget()) {
        view->setParent(client);
        view->setObjectName(u"WebBrowser1"_s);
        view->setGeometry(twips(-15, 525, 3615, 4485));
    }

    // A first start has no targets and no conditions: the empty lists say how to begin.
    auto *targets = place<HintedListWidget>(client, u"ListURL"_s, twips(3615, 510, 6015, 1230));
    targets->setHint(u"ダブルクリックして巡回するページのアドレスを追加"_s);
    ListURL = targets;
    ListURL->setFont(jpFont(true));

    Label2 = label(client, u"Label2"_s, u"抜き出されたテキスト"_s, twips(3630, 1815, 5895, 375));

    List1 = place<ExtentListWidget>(client, u"List1"_s, twips(3615, 2040, 6015, 2985));
    List1->setFont(jpFont(false));
    // Every row is one line in one font; pages run to many thousands of rows.
    List1->setUniformItemSizes(true);

    Label1 = label(client, u"Label1"_s, u"送信本文"_s, twips(3660, 5190, 5895, 375));

    Text1 = place<QPlainTextEdit>(client, u"Text1"_s, twips(3645, 5385, 6000, 1830));
    Text1->setReadOnly(true);
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette yellow = Text1->palette();
    yellow.setColor(QPalette::Base, QColor(255, 255, 192));
    yellow.setColor(QPalette::Text, Qt::black);
    Text1->setPalette(yellow);

    Label4 = label(client, u"Label4"_s, u"検索単語(ダブルクリックで変更）"_s, twips(30, 5175, 2565, 300));

    auto *conditions = place<HintedListWidget>(client, u"ListKeyWord"_s, twips(0, 5385, 3615, 1815));
    conditions->setHint(u"ダブルクリックして検索単語を追加"_s);
    ListKeyWord = conditions;
    ListKeyWord->setFont(jpFont(false));

    List3 = place<QListWidget>(client, u"List3"_s, twips(9675, 510, 1935, 6690));
    List3->setFont(jpFont(false));
    // One line each in one font, and no sideways scrolling (the tooltip shows a line whole): the
    // list need not measure every entry, which for thousands of long lines took seconds at every
    // new hit.
    List3->setUniformItemSizes(true);
    List3->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    Picture1 = place<QWidget>(client, u"Picture1"_s, twips(0, 7215, 11640, 405));
    auto *strip = new QHBoxLayout(Picture1);
    strip->setContentsMargins(Ui::twipsToPixels(240), Ui::twipsToPixels(15), 0, 0);
    LaStatus = new QLabel(Picture1);
    LaStatus->setObjectName(u"LaStatus"_s);
    strip->addWidget(LaStatus, 0, Qt::AlignLeft | Qt::AlignTop);
    strip->addStretch(1);

    // Scratch list of the shut-down sequence: below the client area and never shown.
    List4 = place<SortedListBox>(client, u"List4"_s, twips(135, 7785, 495, 240));
    List4->hide();

    Timer1 = new QTimer(this);
    Timer1->setObjectName(u"Timer1"_s);
    Timer1->setInterval(1000);
    // Queued: a timer whose handler is still running gets no ticks from nested loops, and a step
    // started by a tick waits for its page in one; the countdown must go on meanwhile.
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer, Qt::QueuedConnection);
    Timer1->start();

    client->setMinimumSize(1, 1);
    resize(776, 508 + menuBar()->sizeHint().height());
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    // Only the status strip follows the window: its width and its bottom edge.
    if (watched == centralWidget() && event->type() == QEvent::Resize && Picture1) {
        const QSize s = centralWidget()->size();
        const int strip = Ui::twipsToPixels(405);
        Picture1->setGeometry(0, s.height() - strip, s.width(), strip);
    }
    return QMainWindow::eventFilter(watched, event);
}

void Form1::showEvent(QShowEvent *event)
{
    if (!m_loaded)
        Form_Load();
    QMainWindow::showEvent(event);
}

void Form1::SetHitListExtent()
{
    List1->setHorizontalExtent(3005);
}

void Form1::Form_Load()
{
    if (m_loaded)
        return;
    m_loaded = true;
    // From the name, not the current title: a second window must not add the version twice.
    const QString caption = AppTitle::name() + u"  "_s + AppTitle::version();
    setWindowTitle(caption);
    AppTitle::set(caption);

    clINI ini(settingsFolder());
    ListPersistence::load(ini, ListKeyWord, ListURL, List3);
    const bool journalKept = m_keeper->takeJournal();
    m_patrol->health().restore(HealthStore::read(ini));
    const ScheduleStore::Read schedules = ScheduleStore::read(ini);
    m_patrol->timetable().restore(schedules.schedules);
    SetHitListExtent();
    LaCountDown->setText(ini.GetSetting(Keys::TimerTime));
    WebBrowser1->setSilent(true);

    m_keeper->start(journalKept);

    m_tray->refresh();

    // Told once, as soon as the window is up, rather than after hours of work at the close.
    const QString path = ini.path();
    QTimer::singleShot(0, this, [this, path] {
        if (!m_unloaded && !filestore::canWrite(path))
            Ui::msgBox(cannotSaveText(path), Ui::Buttons::Ok, Ui::Icon::Critical, this);
    });
    // Said once, for the window and for the log.
    QStringList notices {m_settingsFolder.isEmpty() ? SettingsLocation::choose().notice : m_settingsNotice,
        WebEngineBrowser::unconfinedText(), m_profile ? m_profile->trouble() : QString(),
        schedules.unreadable.isEmpty() ? QString() : ScheduleStore::unreadableText(schedules.unreadable)};
    notices.removeAll(QString());
    for (const QString &notice : notices)
        applog::write(applog::Priority::Warning, notice);
    // Told once here, for the window only: running without mail may be what the user wants.
    if (ini.GetSetting(Keys::SmtpServer).trimmed().isEmpty())
        notices.append(Patrol::noMailServerText());
    if (!notices.isEmpty())
        LaStatus->setText(notices.join(u' '));
    if (journalKept) {
        const QString kept = LearnedKeeper::journalKeptText(ini.path());
        applog::write(applog::Priority::Error, kept);
        LaStatus->setText(kept);
    }
}

QString Form1::cannotSaveText(const QString &path)
{
    return u"設定ファイルに書き込めません。このままでは、終了するときに検索単語・対象URL・送信履歴を保存できません。\r\n"_s
        + path;
}

void Form1::listsEdited()
{
    m_keeper->saveSoon();
}

bool Form1::Form_Unload()
{
    if (m_unloaded)
        return true;
    m_unloaded = true;
    Timer1->stop();
    m_notifier->windowGone();
    m_tray->remove();
    // No mail on its way may hold the end up. A cancelled transfer ends within milliseconds and
    // says whether the server took its mail, which decides whether its lines stay in the history.
    Module1::cancelAll();
    Module1::waitForVerdicts(kCancelledMailWaitMs);
    // A page check waiting in a nested loop must not go on to list or mail after this.
    m_patrol->abandon();
    const QString text = m_keeper->saveLast();
    if (text.isEmpty())
        return true;
    // A signal or the session's end: the program is ended from outside, no box may hold it up.
    if (!m_closedBySignal)
        Ui::msgBox(text, Ui::Buttons::Ok, Ui::Icon::Critical, this);
    return false;
}

void Form1::closeEvent(QCloseEvent *event)
{
    // With the tray the program goes on patrolling; its menu ends it. A signal or the session's
    // end always ends it.
    if (m_loaded && !m_unloaded && !m_quitting && !m_closedBySignal && m_tray->shown()) {
        event->ignore();
        hide();
        return;
    }
    if (m_loaded)
        Form_Unload();
    event->accept();
    QMainWindow::closeEvent(event);
    // Waits in the middle of a patrol step run nested event loops; they all end here.
    QCoreApplication::quit();
}

void Form1::comeForward()
{
    showNormal();
    raise();
    activateWindow();
}

void Form1::quit()
{
    m_quitting = true;
    close();
}

void Form1::onQuitSignal(int)
{
    m_closedBySignal = true;
    close();
}

void Form1::endSession()
{
    // The session manager waits for us; a box nobody answers would hold up the log-out.
    m_closedBySignal = true;
    close();
}

void Form1::Timer1_Timer()
{
    if (m_loaded && !m_unloaded)
        m_scheduler->Timer1_Timer();
}
