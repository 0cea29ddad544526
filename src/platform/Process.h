#pragma once

// Facts about the running process that only the operating system can tell.
namespace process {

// True when the effective user is the superuser (always false where there is no such user).
bool runningAsRoot();

} // namespace process
