#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QLocalServer;

// One program per settings file: two would mail every hit twice and overwrite each other's
// history. The first start holds a lock beside the file (a killed program's lock is taken over)
// and listens for later starts, which ask it to come forward and then end.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    explicit SingleInstance(const QString &settingsPath, QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when this start is the first on the file; it then holds the lock until it ends.
    bool acquire();

    // What the first start said to a later one.
    enum class Answer {
        BroughtForward, // its window is on this display and came forward
        Service, // it runs as the user service, without a window
        Elsewhere, // its window is on another display, or it has none
        NoAnswer,
    };

    // The first start: a later one on the same display names its display here; true when the
    // window came forward.
    void listen(std::function<bool(const QString &display)> bringForward);
    // A later start: asks the first, waiting a moment for its answer.
    Answer askFirst();

    // This start's display as a later start names it: the platform and its display variable.
    static QString currentDisplay();
    // Whether this start may show a message box at all.
    static bool hasDisplay();
    // What a later start tells its user, on standard error and in a box.
    static QString alreadyRunningText(const QString &settingsPath, Answer answer);

    // A later start ends with this status; the user service must not restart for it.
    static constexpr int kAlreadyRunningStatus = 3;

private:
    QString m_settingsPath;
    QString m_serverName;
    QLockFile m_lock;
    QLocalServer *m_server = nullptr;
};
