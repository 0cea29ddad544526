#pragma once

#include <QString>

// Starting the program at login: the desktop session starts what the user's autostart folder
// holds. The entry is a copy of the installed one that names the program running now.
namespace Autostart {

// $XDG_CONFIG_HOME/autostart, where XDG_CONFIG_HOME names an absolute folder; ~/.config/autostart
// otherwise.
QString folder();
QString entryPath();

// The installed desktop entry, its command naming this executable and its icon this one.
// Empty when the path cannot be written in an entry (a line break in it).
QString entryText(const QString &executable, const QString &icon);
// The icon beside a portable executable, or the one the package installs into the icon theme.
QString iconFor(const QString &executable);

// There is an entry and it is not switched off.
bool isOn();
// Writes the entry for the executable, or removes it. The failure, in Japanese, or empty.
QString set(bool on, const QString &executable);

} // namespace Autostart
