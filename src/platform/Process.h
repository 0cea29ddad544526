#pragma once

#include <QtGlobal>

// Facts about the running process that only the operating system can tell.
namespace process {

// True when the effective user is the superuser (always false where there is no such user).
bool runningAsRoot();

// Lets the calling thread yield the processor to the rest of the program: background work such as
// writing a large file must not slow the window down on a busy machine.
void lowerThreadPriority();

// What this process and every process it started (the browser engine's, grandchildren included)
// use at this moment.
struct TreeUsage
{
    // User and system time; that of descendants that ended and were waited for is included.
    double cpuSeconds = 0;
    // Resident memory summed over the processes: a page they share counts once per process.
    qint64 residentBytes = 0;
    int processes = 0;
};
// Zero where the system cannot tell.
TreeUsage treeUsage();

} // namespace process
