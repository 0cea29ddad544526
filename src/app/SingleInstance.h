#pragma once

#include "platform/FileLock.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QLocalServer;

// One program per settings file: two would mail every hit twice and overwrite each other's
// history. The first start holds a kernel lock on a lock file beside the file that the settings
// path leads to, links resolved, and one on that file itself, which all its hard links share, for
// the whole run; it listens for later starts, which ask it to come forward and then end.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    explicit SingleInstance(const QString &settingsPath, QObject *parent = nullptr);
    ~SingleInstance() override;

    enum class Claim {
        First, // it holds the lock until it ends
        Later, // a living program holds it
        Failed, // the lock cannot be taken: failure() says why
    };
    Claim acquire();
    QString failure() const { return m_failure; }

    // The file that the settings path leads to, every link resolved: one identity for all the
    // names of one file. A link that a save would not follow is not followed here either.
    static QString resolvedPath(const QString &settingsPath);

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
    // What a start that cannot take the lock tells its user.
    static QString lockFailedText(const QString &reason);

    // A later start ends with this status; the user service must not restart for it.
    static constexpr int kAlreadyRunningStatus = 3;

private:
    void serve(const QString &name, const std::function<bool(const QString &display)> &bringForward);

    QString m_resolved;
    FileLock m_lock; // beside the resolved file
    FileLock m_fileLock; // on the file itself, as it was at the start
    QString m_failure;
    // Where a later start asks the first: named after the lock it met.
    QString m_askName;
};
