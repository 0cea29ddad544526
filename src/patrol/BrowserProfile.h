#pragma once

#include <QObject>
#include <QString>

class QWebEngineProfile;

// The browser profile that the patrol and the login window share. Kept on disk in a folder
// beside the settings file, so that a login survives a restart; it holds the user's sessions,
// so only a folder that is the user's alone serves, and off the record is the fallback.
// The single-instance lock on the settings file keeps a second program away from it.
class BrowserProfile : public QObject
{
    Q_OBJECT
public:
    // Off the record: forgotten when the program ends.
    explicit BrowserProfile(QObject *parent = nullptr);
    // Kept in the folder, made with mode 0700 where it is missing.
    explicit BrowserProfile(const QString &folder, QObject *parent = nullptr);
    ~BrowserProfile() override;

    // The folder of the profile that belongs to a settings file.
    static QString folderFor(const QString &settingsPath);

    QWebEngineProfile *profile() const { return m_profile; }
    bool persistent() const { return !m_generation.isEmpty(); }
    // Why a folder that was asked for is not used, in Japanese; empty when it is.
    QString trouble() const { return m_trouble; }

    // Forgets every cookie, everything the sites stored and the cache. The pages of the profile
    // move to a fresh one while replaced() is emitted; the old one is gone afterwards.
    void clear();

    // Bytes the HTTP cache may take on disk.
    static constexpr int kCacheBytes = 50 * 1024 * 1024;

Q_SIGNALS:
    // Pages of the old profile must be deleted by the time the handlers return.
    void replaced(QWebEngineProfile *fresh);

private:
    QWebEngineProfile *open(const QString &generation);

    QString m_folder;
    // The subfolder that holds the profile in use. A clear starts a new one, so that nothing the
    // engine still writes into the old one can survive.
    QString m_generation;
    QWebEngineProfile *m_profile = nullptr;
    QString m_trouble;
};
