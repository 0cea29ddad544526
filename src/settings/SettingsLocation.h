#pragma once

#include <QString>

// Where the settings file lives. A portable folder keeps it beside the executable, as on Windows;
// a program installed where its user cannot write keeps it in the user's configuration folder.
namespace SettingsLocation {

// The settings file in a folder.
QString filePath(const QString &folder);

struct Environment
{
    QString executableFolder;
    QString xdgConfigHome; // as the variable reads, possibly empty or unusable
    QString home;
};

// The running program's environment.
Environment current();

// The executable's folder when a KVN.ini is already there or the folder can take one (never a
// system binary folder such as /usr/bin); otherwise korvani/ in the user's configuration folder,
// created with mode 0700 where it is missing. Decided afresh at every call.
QString folder(const Environment &env);
QString folder();

// The folder that folder() would choose, found without making or probing anything, for a run
// that only reads the settings: the executable's folder when it holds a KVN.ini or may take one.
QString readingFolder(const Environment &env);

// $XDG_CONFIG_HOME/korvani, or ~/.config/korvani when the variable is unset, relative or names
// something that is no folder.
QString userFolder(const Environment &env);

} // namespace SettingsLocation
