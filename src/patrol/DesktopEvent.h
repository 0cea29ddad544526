#pragma once

#include <QString>
#include <QStringList>

// What the patrol tells the desktop about: a page with new hits, or a target's alert or recovery.
// The patrol only reports; whether and how it is shown is decided outside it.
struct DesktopEvent
{
    enum class Kind { NewHits, Alert, LoginLost, Recovery };

    Kind kind = Kind::NewHits;
    // The page or target, as it was loaded; it may hold a password.
    QString address;
    // NewHits: the page's title (its address when it has none).
    QString title;
    // NewHits: the new lines in page order. The others: what went wrong and for how long.
    QStringList lines;
    // NewHits: how many new lines the page had.
    int count = 0;
};
