#include "patrol/BrowserProfile.h"

#include "platform/FileTrust.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

constexpr auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

QString refusal(filetrust::Verdict v, const QString &folder)
{
    using V = filetrust::Verdict;
    const QString name = QDir::toNativeSeparators(folder);
    switch (v) {
    case V::OtherOwner:
        return u"ログイン情報のフォルダー %1 は他のユーザーのものです"_s.arg(name);
    case V::OthersMayWrite:
        return u"ログイン情報のフォルダー %1 は他のユーザーも書き込めます"_s.arg(name);
    case V::NotAFile:
        return u"%1 はフォルダーではありません"_s.arg(name);
    case V::LinkByOther:
    case V::LinkToUntrusted:
    case V::DanglingLink:
        return u"ログイン情報のフォルダー %1 は信頼できないリンクです"_s.arg(name);
    case V::Missing:
        return u"ログイン情報のフォルダー %1 を作れません"_s.arg(name);
    case V::Trusted:
        break;
    }
    return QString();
}

// The numbered subfolders of the profile folder, lowest first.
QList<int> generations(const QString &folder)
{
    QList<int> out;
    for (const QString &name : QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks)) {
        bool ok = false;
        const int n = name.toInt(&ok);
        if (ok && n > 0 && name == QString::number(n))
            out.append(n);
    }
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

BrowserProfile::BrowserProfile(QObject *parent)
    : QObject(parent)
    , m_profile(new QWebEngineProfile(this))
{ }

BrowserProfile::BrowserProfile(const QString &folder, QObject *parent)
    : QObject(parent)
    , m_folder(folder)
{
    const uint user = filetrust::currentUser();
    filetrust::Verdict v = filetrust::folder(folder, user);
    if (v == filetrust::Verdict::Missing && QDir().mkdir(folder, ownerOnly))
        v = filetrust::folder(folder, user);
    if (v == filetrust::Verdict::Trusted) {
        // Readable by others would hand them the user's sessions.
        const QString real = QFileInfo(folder).canonicalFilePath();
        if (QFile::permissions(real)
            & ~(ownerOnly | QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser))
            QFile::setPermissions(real, ownerOnly);
        QList<int> kept = generations(folder);
        const int current = kept.isEmpty() ? 1 : kept.takeLast();
        // Left by a clear whose old profile could not be removed at once.
        for (int old : std::as_const(kept))
            QDir(folder + u'/' + QString::number(old)).removeRecursively();
        m_profile = open(QString::number(current));
    } else {
        m_trouble = refusal(v, folder) + u"。ログインは終了するまでしか保たれません。"_s;
        m_profile = new QWebEngineProfile(this);
    }
}

BrowserProfile::~BrowserProfile() = default;

QString BrowserProfile::folderFor(const QString &settingsPath)
{
    return settingsPath + u".browser"_s;
}

QWebEngineProfile *BrowserProfile::open(const QString &generation)
{
    const QString path = m_folder + u'/' + generation;
    QDir().mkdir(path, ownerOnly);
    m_generation = generation;
    // Two profiles of one process may not share a name, and a clear has both for a moment.
    auto *p = new QWebEngineProfile(u"korvani-"_s + generation, this);
    p->setPersistentStoragePath(path);
    // Otherwise the cache would go to the user's cache folder, out of reach of a clear.
    p->setCachePath(path + u"/cache"_s);
    p->setHttpCacheType(QWebEngineProfile::DiskHttpCache);
    p->setHttpCacheMaximumSize(kCacheBytes);
    // A site's "stay logged in" is often a session cookie.
    p->setPersistentCookiesPolicy(QWebEngineProfile::ForcePersistentCookies);
    return p;
}

void BrowserProfile::clear()
{
    QWebEngineProfile *old = m_profile;
    const QString oldPath = persistent() ? m_folder + u'/' + m_generation : QString();
    // What the engine still holds in memory goes as well.
    old->cookieStore()->deleteAllCookies();
    old->clearHttpCache();
    old->clearAllVisitedLinks();
    m_profile = persistent() ? open(QString::number(m_generation.toInt() + 1)) : new QWebEngineProfile(this);
    Q_EMIT replaced(m_profile);
    delete old;
    if (oldPath.isEmpty())
        return;
    // The engine lets go of the old files a moment after the profile is gone; whatever still
    // stands at the last try goes at the next start.
    for (int ms : {0, 1000, 5000}) {
        QTimer::singleShot(ms, this, [oldPath] {
            if (QFileInfo::exists(oldPath))
                QDir(oldPath).removeRecursively();
        });
    }
}
