#include "app/SingleInstance.h"

#include "platform/FileTrust.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocalServer>
#include <QLocalSocket>

using namespace Qt::StringLiterals;

namespace {

constexpr int kAnswerMs = 2000;

// A name that is the same for every start that meets one lock and only this user's: in the user's
// runtime folder where there is one, else in the temporary folder under the user's id.
QString serverName(const QString &identity)
{
    const QString hash
        = QString::fromLatin1(QCryptographicHash::hash(identity.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return runtime + u"/korvani-"_s + hash;
    return u"korvani-"_s + QString::fromLocal8Bit(qgetenv("USER")) + u'-' + hash;
}

QByteArray answerWord(SingleInstance::Answer a)
{
    switch (a) {
    case SingleInstance::Answer::BroughtForward:
        return "shown";
    case SingleInstance::Answer::Service:
        return "service";
    case SingleInstance::Answer::Elsewhere:
    case SingleInstance::Answer::NoAnswer:
        break;
    }
    return "elsewhere";
}

} // namespace

SingleInstance::SingleInstance(const QString &settingsPath, QObject *parent)
    : QObject(parent)
    , m_resolved(resolvedPath(settingsPath))
{ }

SingleInstance::~SingleInstance() = default;

QString SingleInstance::resolvedPath(const QString &settingsPath)
{
    const QString target = filetrust::writeTarget(settingsPath, filetrust::currentUser());
    if (!target.isEmpty()) {
        const QString real = QFileInfo(target).canonicalFilePath();
        if (!real.isEmpty())
            return real;
    }
    // Missing, or a link not to be followed: the folder's links are still resolved.
    const QFileInfo info(target.isEmpty() ? settingsPath : target);
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return (folder.isEmpty() ? info.absolutePath() : folder) + u'/' + info.fileName();
}

SingleInstance::Claim SingleInstance::acquire()
{
    // Through any symbolic link the path is the same, so one lock file meets every start.
    const FileLock::Outcome beside = m_lock.lockFile(m_resolved + u".lock"_s);
    if (beside != FileLock::Outcome::Acquired) {
        m_askName = serverName(m_resolved);
        m_failure = m_lock.error();
        return beside == FileLock::Outcome::Held ? Claim::Later : Claim::Failed;
    }
    // Hard links are names in other folders, each with a lock file of its own: the file itself is
    // what they share. A save renames a new file over this name, parting it from the others, but
    // the file locked here stays held, so a start through another name still meets it.
    const FileLock::Outcome file = m_fileLock.lockExisting(m_resolved);
    if (file != FileLock::Outcome::Acquired) {
        m_lock.release();
        m_askName = serverName(u"inode:"_s + m_fileLock.identity());
        m_failure = m_fileLock.error();
        return file == FileLock::Outcome::Held ? Claim::Later : Claim::Failed;
    }
    return Claim::First;
}

QString SingleInstance::currentDisplay()
{
    const QString platform = QGuiApplication::platformName();
    const QString display
        = platform == u"wayland" ? qEnvironmentVariable("WAYLAND_DISPLAY") : qEnvironmentVariable("DISPLAY");
    return platform + u':' + display;
}

bool SingleInstance::hasDisplay()
{
    const QString platform = QGuiApplication::platformName();
    return platform != u"offscreen" && platform != u"minimal";
}

void SingleInstance::listen(std::function<bool(const QString &display)> bringForward)
{
    serve(serverName(m_resolved), bringForward);
    if (m_fileLock.holds())
        serve(serverName(u"inode:"_s + m_fileLock.identity()), bringForward);
}

void SingleInstance::serve(const QString &name, const std::function<bool(const QString &display)> &bringForward)
{
    auto *server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    // The lock is ours, so a socket left there belongs to a program that is gone.
    QLocalServer::removeServer(name);
    if (!server->listen(name))
        return;
    connect(server, &QLocalServer::newConnection, this, [server, bringForward] {
        while (QLocalSocket *s = server->nextPendingConnection()) {
            connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
            connect(s, &QLocalSocket::readyRead, s, [s, bringForward] {
                if (!s->canReadLine())
                    return;
                const QString display = QString::fromUtf8(s->readLine().trimmed());
                Answer a = Answer::Elsewhere;
                if (qEnvironmentVariableIsSet("INVOCATION_ID") && !hasDisplay())
                    a = Answer::Service;
                else if (hasDisplay() && display == currentDisplay() && bringForward(display))
                    a = Answer::BroughtForward;
                s->write(answerWord(a) + '\n');
                s->flush();
                s->disconnectFromServer();
            });
        }
    });
}

SingleInstance::Answer SingleInstance::askFirst()
{
    QLocalSocket s;
    s.connectToServer(m_askName);
    if (!s.waitForConnected(kAnswerMs))
        return Answer::NoAnswer;
    s.write(currentDisplay().toUtf8() + '\n');
    if (!s.waitForBytesWritten(kAnswerMs))
        return Answer::NoAnswer;
    while (!s.canReadLine()) {
        if (!s.waitForReadyRead(kAnswerMs))
            return Answer::NoAnswer;
    }
    const QByteArray word = s.readLine().trimmed();
    if (word == "shown")
        return Answer::BroughtForward;
    if (word == "service")
        return Answer::Service;
    return Answer::Elsewhere;
}

QString SingleInstance::alreadyRunningText(const QString &settingsPath, Answer answer)
{
    QString text = u"Korvaniはこの設定ファイルですでに動いています。二重に巡回しないよう、こちらは起動しません。\r\n"_s
        + QDir::toNativeSeparators(settingsPath);
    if (answer == Answer::Service)
        text += u"\r\nユーザーサービスとして動いています。止めるには: systemctl --user stop korvani"_s;
    return text;
}

QString SingleInstance::lockFailedText(const QString &reason)
{
    return u"Korvaniを起動できません。一つの設定ファイルで一つだけ動くためのロックが取れません: "_s + reason;
}
