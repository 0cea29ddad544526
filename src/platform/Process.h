#pragma once

// Facts about the running process that only the operating system can tell.
namespace process {

// True when the effective user is the superuser (always false where there is no such user).
bool runningAsRoot();

// Lets the calling thread yield the processor to the rest of the program: background work such as
// writing a large file must not slow the window down on a busy machine.
void lowerThreadPriority();

} // namespace process
