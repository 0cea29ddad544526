#pragma once

#include "patrol/HostPace.h"
#include "patrol/PatrolWidgets.h"
#include "patrol/Timetable.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

struct LoadResult;
struct Visit;
class ConditionList;
class HistoryIndex;
class QListWidgetItem;
class TestPatrol;
class TargetHealth;

// One page examined as the user sees it: loaded in the browser, its lines listed and tested,
// the new hits recorded in the sent history and mailed. Runs on the user-interface thread and
// lets window messages run at its waits, so ticks and clicks are handled in the middle of it.
class Patrol : public QObject
{
    Q_OBJECT
public:
    explicit Patrol(const PatrolWidgets &widgets, QObject *parent = nullptr);
    ~Patrol() override;

    void CheckPage(const QString &address);
    bool MatchCondition(QStringView line, quint8 mode);
    // True when the line was not in the history and has been added to it and to the body.
    bool RecordNewHit(const QString &line, QString &body);
    void SendHitMail(const QString &body);
    // Examines, one level deep, the targets of the links whose text hits, on the page that the
    // check of a target has just loaded; after a failed load it follows nothing.
    void FollowLinks();

    // The window is closing: every wait ends, nothing more is loaded, listed or mailed. Lines of
    // the page at hand that went into the history for a mail the server has not taken come out
    // again, so the saved history does not claim them and they are mailed at the next start.
    void abandon();
    bool abandoned() const { return m_abandoned; }

    // A history entry whose mail is on its way without a verdict yet: it is not sent, so it must
    // not be saved as sent.
    bool awaitingVerdict(const QListWidgetItem *entry) const;

    // A page that is still loading after more than this many whole seconds is given up.
    static constexpr int kLoadLimitSeconds = 15;

    // Which targets work and which fail, shown on their rows.
    TargetHealth &health() const { return *m_health; }
    // The targets' own schedules, and how each host is spared.
    Timetable &timetable() { return m_timetable; }
    const Timetable &timetable() const { return m_timetable; }
    HostPace &pace() { return m_pace; }

    // What the status strip shows once a page check is over: "巡回完了", or the failure of the
    // last mail until a mail goes out again.
    static QString mailFailedText(const QString &reason);
    static QString popFailedText(const QString &reason);
    // Said at start-up and once more at the first new hit while no SMTP server is set.
    static QString noMailServerText();

private:
    // Its test sets the clock.
    friend class ::TestPatrol;
    void setClockForTesting(std::function<qint64()> seconds) { m_seconds = std::move(seconds); }

    // The steps of a page check; false when the window closed meanwhile.
    LoadResult waitForPage(qint64 start);
    // The pieces are views into the text.
    bool readPieces(QString &text, QList<QStringView> &pieces);
    bool examineLines(const QList<QStringView> &pieces, QString &body, Visit &visit);
    void finishCheck(Visit &visit);
    // A check cut short by the end of the program still leaves its line in the log.
    void logInterrupted(Visit &visit);

    // Waits, window messages running, until the gap after the last visit to the host has passed.
    bool waitForHost(const QString &host);
    bool pumpAndGoOn();
    // Lets window messages run between two lines, at most every few milliseconds: a pass of the
    // event loop costs far more than a line. Rows listed so far reach List1 first.
    bool pumpBetweenLines();
    void flushRows();

    PatrolWidgets m_w;
    ConditionList *m_conditions;
    HistoryIndex *m_history;
    TargetHealth *m_health;
    Timetable m_timetable;
    HostPace m_pace;
    std::function<qint64()> m_seconds;
    quint64 m_mailToken = 0;
    QStringList m_mailLines;
    bool m_mailPending = false;
    // Set by the mail's worker once the server has taken this check's mail.
    std::shared_ptr<std::atomic<bool>> m_mailAccepted;
    bool m_abandoned = false;
    // Set while linked pages are examined: their checks never lead further.
    bool m_following = false;
    // The navigation whose page a target's check examined; only its links may be followed.
    std::optional<quint64> m_linkSource;
    // How the mail of the page at hand went, and what the status strip says until the next one.
    struct MailOutcome
    {
        bool attempted = false;
        bool noServer = false;
        QString failure;
        QString popFailure;
    } m_mail;
    QString m_mailTrouble;
    // What the status strip says at the end of every page check of the current patrol step, in
    // front of anything else, so that the pages of its followed links do not wipe it out.
    QString m_stepNotice;
    bool m_noServerTold = false;
    // Rows of List1 not added yet: the list fills hidden, so they go in by the batch.
    QStringList m_pendingRows;
    // The conditions that hit those rows, by their index among them.
    QList<std::pair<qsizetype, QStringList>> m_pendingHitBy;
    QElapsedTimer m_sincePump;
    quint32 m_linesSincePump = 0;
};
