#include "app/LearnedKeeper.h"

#include "app/ListPersistence.h"
#include "app/SentJournal.h"
#include "patrol/HealthStore.h"
#include "patrol/Patrol.h"
#include "patrol/PatrolWidgets.h"
#include "patrol/TargetHealth.h"
#include "platform/Log.h"
#include "settings/SettingsLocation.h"
#include "settings/clINI.h"

#include <QLabel>
#include <QListWidget>
#include <QSet>

using namespace Qt::StringLiterals;

LearnedKeeper::LearnedKeeper(PatrolWidgets &w, QObject *parent)
    : QObject(parent)
    , m_folder(w.settingsFolder)
    , m_keyWords(w.ListKeyWord)
    , m_urls(w.ListURL)
    , m_history(w.List3)
    , m_status(w.LaStatus)
{
    w.persist = [this](bool wait) {
        noteJournal();
        if (!m_saver)
            return;
        // Each save forgets the journal's records that its snapshot holds.
        if (!wait)
            m_saver->saveSoon();
        else
            m_saver->saveNow();
    };
    w.journal = [this](const QStringList &lines) -> std::function<bool()> {
        return [file = file(), lines, fails = m_journalFails] {
            const bool ok = sentjournal::append(file, lines);
            fails->store(!ok);
            return ok;
        };
    };
}

QString LearnedKeeper::file() const
{
    return SettingsLocation::filePath(m_folder());
}

bool LearnedKeeper::takeJournal()
{
    const QStringList taken = sentjournal::read(file());
    if (taken.isEmpty())
        return false;
    QSet<QString> history;
    for (int i = 0; i < m_history->count(); ++i)
        history.insert(m_history->item(i)->text());
    int added = 0;
    for (const QString &line : taken) {
        if (!history.contains(line)) {
            history.insert(line);
            m_history->insertItem(0, line);
            ++added;
        }
    }
    return added > 0;
}

void LearnedKeeper::start(bool kept)
{
    m_saver = new SettingsSaver(
        m_folder, [this] { return snapshot(); }, this);
    connect(m_saver, &SettingsSaver::failed, this, [this](const QString &path) {
        m_saveTrouble = savingFailsText(path);
        m_status->setText(m_saveTrouble);
        applog::write(applog::Priority::Error, m_saveTrouble);
    });
    connect(m_saver, &SettingsSaver::recovered, this, [this] {
        m_saveTrouble.clear();
        applog::write(applog::Priority::Notice, u"設定ファイルに保存できるようになりました。"_s);
    });
    if (kept)
        m_saver->saveSoon();
    if (!sentjournal::reserve(file()))
        m_journalFails->store(true);
    noteJournal();
}

void LearnedKeeper::noteJournal()
{
    const QString path = sentjournal::path(file());
    if (m_journalFails->load() && m_journalTrouble.isEmpty()) {
        m_journalTrouble = journalFailsText(path);
        m_status->setText(m_journalTrouble);
        applog::write(applog::Priority::Error, m_journalTrouble);
    } else if (!m_journalFails->load() && !m_journalTrouble.isEmpty()) {
        m_journalTrouble.clear();
        applog::write(applog::Priority::Notice, u"送信記録を書き込めるようになりました。"_s);
    }
}

void LearnedKeeper::saveSoon()
{
    if (m_saver)
        m_saver->saveSoon();
}

QString LearnedKeeper::trouble() const
{
    return m_saveTrouble.isEmpty() ? m_journalTrouble : m_saveTrouble;
}

SettingsSaver::Snapshot LearnedKeeper::snapshot() const
{
    SettingsSaver::Snapshot s;
    // Before the history: every record before the mark has its lines in the list by now.
    const QString journalled = file();
    s.saved = [journalled, mark = sentjournal::mark(journalled)] { sentjournal::settle(journalled, mark); };
    s.lists = ListPersistence::rows(m_keyWords, m_urls, m_history);
    s.lists.history.clear();
    for (int i = 0; i < m_history->count(); ++i) {
        const QListWidgetItem *entry = m_history->item(i);
        if (!m_patrol->awaitingVerdict(entry))
            s.lists.history.append(entry->text());
    }
    s.health = m_patrol->health().saved();
    s.schedules = schedules();
    return s;
}

std::optional<QList<TargetSchedule>> LearnedKeeper::schedules() const
{
    if (!m_patrol->timetable().changed())
        return std::nullopt;
    QStringList addresses;
    for (int row = 0; row < m_urls->count(); ++row)
        addresses.append(m_urls->item(row)->text());
    return m_patrol->timetable().listed(addresses);
}

QString LearnedKeeper::saveLast()
{
    // A save on its way ends first; this one has the last word.
    if (m_saver)
        m_saver->stop();
    clINI ini(m_folder());
    // A transfer still undecided may yet record its mail, which the history below no longer holds.
    const qint64 journalled = sentjournal::mark(ini.path());
    ListPersistence::save(ini, ListPersistence::rows(m_keyWords, m_urls, m_history));
    HealthStore::write(ini, m_patrol->health().saved());
    if (const auto kept = schedules())
        ScheduleStore::write(ini, *kept);
    if (ini.commit()) {
        sentjournal::settle(ini.path(), journalled, true);
        return QString();
    }
    const QString text = saveFailedText(ini.path());
    applog::write(applog::Priority::Error, text);
    return text;
}

QString LearnedKeeper::journalFailsText(const QString &path)
{
    return u"送信記録を書き込めません（ディスクの空き不足など）。強制終了すると同じ行を再送することがあります: "_s
        + path;
}

QString LearnedKeeper::journalKeptText(const QString &path)
{
    return u"前回送信した行を設定ファイルに書き込めませんでした。送信履歴に入れてあり、保存できしだい書き込みます: "_s
        + path;
}

QString LearnedKeeper::savingFailsText(const QString &path)
{
    return u"設定ファイルに保存できません。保存できるまで繰り返し試みます: "_s + path;
}

QString LearnedKeeper::saveFailedText(const QString &path)
{
    return u"設定ファイルに書き込めませんでした。検索単語・対象URL・送信履歴は保存されていません。\r\n"_s + path;
}
