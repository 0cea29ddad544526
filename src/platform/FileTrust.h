#pragma once

#include <QString>

// Whether a folder or a file is the user's alone: the settings, and the password in them, are
// kept only where no other user can change them or steer a write somewhere else.
namespace filetrust {

enum class Verdict {
    Trusted,
    Missing,
    // It belongs to another user.
    OtherOwner,
    // Others, or a group that holds more than the user, may write it.
    OthersMayWrite,
    // Not a regular file (or, where a folder is asked for, no folder).
    NotAFile,
    // A symbolic link made by another user.
    LinkByOther,
    // A link to a file that another user could change, or that lies in a folder they could.
    LinkToUntrusted,
    // A link that leads nowhere.
    DanglingLink,
};

// The effective user of the program.
uint currentUser();

// A group of the user alone, as a umask of 002 with per-user groups has it: the user's primary
// group, named after the user, with no other member.
bool isPrivateGroup(uint group, uint user);

// The folder as the path names it: the user's, and only the user may write it. A link at its own
// name is followed only when the user made it (links further up the path are followed).
Verdict folder(const QString &path, uint user);

// A file: missing, or the user's regular file by the rules of folder(), or a link that the user
// made to such a file in such a folder.
Verdict file(const QString &path, uint user);

// The file that a write to the path may change: the path itself, or where a link leads when
// file() trusts it. Empty when the path is a link that must not be followed.
QString writeTarget(const QString &path, uint user);

} // namespace filetrust
