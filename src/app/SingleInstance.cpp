#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocalServer>
#include <QLocalSocket>

using namespace Qt::StringLiterals;

namespace {

constexpr int kAnswerMs = 2000;

// A name that is the same for every start on one file and only this user's: in the user's
// runtime folder where there is one, else in the temporary folder under the user's id.
QString serverName(const QString &settingsPath)
{
    const QString canonical = QFileInfo(settingsPath).absoluteFilePath();
    const QString hash
        = QString::fromLatin1(QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));
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
    , m_settingsPath(settingsPath)
    , m_serverName(serverName(settingsPath))
    , m_lock(settingsPath + u".lock"_s)
{
    // Only a dead owner makes a lock stale: a program that runs for weeks keeps an old file.
    m_lock.setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::acquire()
{
    return m_lock.tryLock(0);
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
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // The lock is ours, so a socket left there belongs to a program that is gone.
    QLocalServer::removeServer(m_serverName);
    if (!m_server->listen(m_serverName))
        return;
    connect(m_server, &QLocalServer::newConnection, this, [this, bringForward] {
        while (QLocalSocket *s = m_server->nextPendingConnection()) {
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
    s.connectToServer(m_serverName);
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
