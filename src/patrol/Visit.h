#pragma once

#include "patrol/Browser.h"
#include "platform/Log.h"

#include <QDateTime>
#include <QString>

// What one page check brought: how the page loaded, what was examined, how its mail went.
struct Visit
{
    enum class Mail { None, Sent, Failed };

    QString address;
    // A target of the list, not a page reached by link following.
    bool target = true;
    QDateTime when;
    LoadResult load;
    int lines = 0;
    int newHits = 0;
    Mail mail = Mail::None;
    // The first line of the sender's answer when the mail or its POP login failed.
    QString mailFailure;
    QString popFailure;
    // Cut short by the end of the program.
    bool interrupted = false;
    // The page showed a password field the user could type into.
    bool passwordField = false;
    // It did, where the target's last working visit showed none: the session has run out.
    bool loginRequired = false;
    // The page is a bot check in front of the site.
    bool challenge = false;
    // When the server asked to be visited again (Retry-After), in milliseconds of the wall
    // clock; 0 when it did not.
    qint64 retryAt = 0;
    // What the visit cost; -1 where it is not known.
    struct Cost
    {
        // From the start of the visit until its lines were examined; its mail is not counted.
        qint64 ms = -1;
        // What the page took on the network, as the browser counts it.
        qint64 bytes = -1;
        // Resident memory of the program and its browser engine's processes afterwards.
        qint64 residentBytes = -1;
    } cost;

    // A target works when its page arrived with a status below 400 and its session holds.
    bool works() const { return load.documentArrived() && load.httpStatus < 400 && !loginRequired; }
    // The host itself did not answer as it should, so it is given a rest.
    bool hostFailed() const;

    // The short Japanese text of how the page loaded: "正常", "接続できません", "ページが見つかりません（HTTP 404）", …
    static QString outcomeText(const LoadResult &load);
    // The same for the whole visit: "ログインが必要です" when the session has run out.
    QString outcome() const;
    static QString loginRequiredText();

    // One line for the log: local time in ISO form, the address without any password, the
    // outcome ("中断" when interrupted), the lines examined, the new hits, the mail's result and
    // what is known of the cost. No line break, no page text.
    QString logLine() const;
    // Its priority for the journal: a warning when the page or its mail failed.
    applog::Priority priority() const;
};
