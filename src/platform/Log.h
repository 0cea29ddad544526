#pragma once

#include <QString>

// The program's log: one line per event on standard error, which the journal keeps when the
// program runs as a systemd service.
namespace applog {

// Syslog priorities, as the journal reads them in front of a line.
enum class Priority { Error = 3, Warning = 4, Notice = 5, Info = 6, Debug = 7 };

// Whether standard error is the journal's stream: systemd names that stream's device and inode
// in JOURNAL_STREAM.
bool toJournal();

// "korvani: " and the text on standard error; for the journal, each line begins with "<N>", its
// priority. Safe on any thread.
void write(Priority priority, const QString &text);

// Qt's own messages take the same way, each with its priority; the few that mean nothing to
// the user of a program without a screen stay out.
void installMessageHandler();

} // namespace applog
