#pragma once

#include "platform/FileTrust.h"

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
    // Whose folder and file are trusted.
    uint user = filetrust::currentUser();
};

// The running program's environment.
Environment current();

struct Choice
{
    QString folder;
    // Why a KVN.ini beside the executable, its folder, or a user's folder was passed over, in
    // Japanese; empty where nothing asked to be used.
    QString notice;
};

// The executable's folder when a KVN.ini is already there or the folder can take one, and
// both are the user's alone (filetrust); never a system binary folder such as /usr/bin.
// Otherwise korvani/ in the user's configuration folder, created with mode 0700 where it is
// missing, when it is the user's alone by the same rules; where it is not, ~/.config/korvani,
// then ~/.config/korvani-<user id>, and the notice says why. Decided afresh at every call.
Choice choose(const Environment &env);
Choice choose();
QString folder(const Environment &env);
// The folder kept for this run when there is one, otherwise folder(current()).
QString folder();

// The program's run works on this folder from here on: it holds the lock on its file, and a
// change of the folders' owners or modes while it runs must not split its settings in two.
void keep(const QString &folder);

// The folder that folder() would choose, found without making or probing anything, for a run
// that only reads the settings: the executable's folder when it holds a KVN.ini or may take one,
// by the same rules of whose they are.
QString readingFolder(const Environment &env);

// The user's configuration folder: $XDG_CONFIG_HOME, or ~/.config when the variable is unset,
// relative or names something that is no folder.
QString configHome(const Environment &env);
QString configHome();

// configHome()/korvani.
QString userFolder(const Environment &env);

} // namespace SettingsLocation
