#pragma once

#include "app/SettingsSaver.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class Patrol;
class QLabel;
class QListWidget;
struct PatrolWidgets;

// Keeps what the program learns on disk, each line exactly once: a mail's lines go to the sent
// journal the moment the server takes the mail, the settings file is saved soon after every
// change, and each save forgets the journal's records that it holds. The last save, at the end,
// has the last word. Trouble writing either file is shown on the status strip and logged.
class LearnedKeeper : public QObject
{
    Q_OBJECT
public:
    // Takes the lists, the status strip and the settings folder from w and answers its persist
    // and journal. The patrol made from w comes with attach(), before anything is saved.
    explicit LearnedKeeper(PatrolWidgets &w, QObject *parent = nullptr);

    void attach(const Patrol &patrol) { m_patrol = &patrol; }

    // The journal's lines that the file does not hold yet go into the history, to be saved.
    bool takeJournal();
    // Saving starts once the lists are loaded; kept says takeJournal added lines to save.
    void start(bool kept);
    // A list was edited: it reaches the file within a second.
    void saveSoon();
    // What the settings file would get now: the lists, without history entries whose mail has
    // no verdict yet, and the targets' health.
    SettingsSaver::Snapshot snapshot() const;
    // The last save, once the patrol has stopped. Empty when the file took it, otherwise what to
    // tell, logged already.
    QString saveLast();
    // What the status strip says while the file or the journal cannot be written; else empty.
    QString trouble() const;

    // Message shown when the lists could not be saved.
    static QString saveFailedText(const QString &path);
    // Status shown while the settings file cannot be written during the run.
    static QString savingFailsText(const QString &path);
    // Status shown while the journal of taken mails has no room left.
    static QString journalFailsText(const QString &path);
    // Status shown at start-up when the journal's lines could not be merged into the file.
    static QString journalKeptText(const QString &path);

private:
    // The schedules to write, when the user changed one in this run.
    std::optional<QList<TargetSchedule>> schedules() const;
    QString file() const;
    // Says once that the journal could not take a mail's lines, and when it can again.
    void noteJournal();

    std::function<QString()> m_folder;
    QListWidget *m_keyWords;
    QListWidget *m_urls;
    QListWidget *m_history;
    QLabel *m_status;
    const Patrol *m_patrol = nullptr;
    SettingsSaver *m_saver = nullptr;
    QString m_saveTrouble;
    // Set by the mail's worker: whether the journal took the last mail's lines.
    std::shared_ptr<std::atomic<bool>> m_journalFails = std::make_shared<std::atomic<bool>>(false);
    QString m_journalTrouble;
};
