#include "app/LoginWindow.h"

#include <QAction>
#include <QLineEdit>
#include <QToolBar>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

using namespace Qt::StringLiterals;

LoginWindow::LoginWindow(QWebEngineProfile *profile, QWidget *parent)
    : QMainWindow(parent, Qt::Window)
    , m_page(new QWebEnginePage(profile, this))
    , m_view(new QWebEngineView(this))
    , m_address(new QLineEdit(this))
{
    setObjectName(u"LoginWindow"_s);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(u"ログイン"_s);
    m_view->setPage(m_page);
    m_view->setAccessibleName(u"ログインするページ"_s);
    setCentralWidget(m_view);

    auto *bar = new QToolBar(u"ナビゲーション"_s, this);
    bar->setMovable(false);
    bar->setFloatable(false);
    addToolBar(bar);
    m_back = m_page->action(QWebEnginePage::Back);
    m_back->setText(u"戻る"_s);
    m_back->setShortcut(QKeySequence::Back);
    m_back->setToolTip(u"戻る (%1)"_s.arg(QKeySequence(QKeySequence::Back).toString(QKeySequence::NativeText)));
    m_reload = m_page->action(QWebEnginePage::Reload);
    m_reload->setText(u"再読み込み"_s);
    m_reload->setShortcut(QKeySequence::Refresh);
    m_reload->setToolTip(
        u"再読み込み (%1)"_s.arg(QKeySequence(QKeySequence::Refresh).toString(QKeySequence::NativeText)));
    bar->addAction(m_back);
    bar->addAction(m_reload);
    // Buttons of a tool bar take no focus by default: Tab must reach them too.
    for (QAction *a : {m_back, m_reload}) {
        if (QWidget *button = bar->widgetForAction(a)) {
            button->setFocusPolicy(Qt::TabFocus);
            button->setAccessibleName(a->text());
        }
    }
    m_address->setObjectName(u"address"_s);
    m_address->setAccessibleName(u"アドレス"_s);
    m_address->setClearButtonEnabled(true);
    bar->addWidget(m_address);

    auto *focusAddress = new QAction(this);
    focusAddress->setShortcut(u"Ctrl+L"_s);
    connect(focusAddress, &QAction::triggered, this, [this] {
        m_address->setFocus(Qt::ShortcutFocusReason);
        m_address->selectAll();
    });
    addAction(focusAddress);
    auto *close = new QAction(this);
    close->setShortcut(QKeySequence::Close);
    connect(close, &QAction::triggered, this, &QWidget::close);
    addAction(close);

    connect(m_address, &QLineEdit::returnPressed, this, [this] { open(m_address->text()); });
    connect(m_page, &QWebEnginePage::urlChanged, this, [this](const QUrl &url) {
        if (!m_address->hasFocus() || !m_address->isModified())
            m_address->setText(url.toDisplayString());
    });
    connect(m_page, &QWebEnginePage::titleChanged, this,
        [this](const QString &title) { setWindowTitle(title.isEmpty() ? u"ログイン"_s : u"ログイン - "_s + title); });
}

LoginWindow::~LoginWindow()
{
    // The engine insists that a page goes before its profile, and the view before the page.
    delete m_view;
    delete m_page;
}

QUrl LoginWindow::webAddress(const QString &typed)
{
    const QUrl url = QUrl::fromUserInput(typed.trimmed());
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == u"http" || scheme == u"https") ? url : QUrl();
}

void LoginWindow::open(const QString &address)
{
    const QUrl url = webAddress(address);
    if (!url.isValid()) {
        m_address->setText(address);
        m_address->setFocus(Qt::OtherFocusReason);
        return;
    }
    m_address->setText(url.toDisplayString());
    m_address->setModified(false);
    m_page->load(url);
    m_view->setFocus(Qt::OtherFocusReason);
}
