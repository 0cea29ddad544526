#pragma once

#include <QString>

namespace mail {

// The address or server setting with the password of its "user:password@" part replaced by
// "****", so that no message, box or log line ever shows it, whatever characters it holds.
// Where a password could end at more than one "@", all of it up to the last one goes.
QString withoutPassword(const QString &address);

// A text that may be an address (a page without a title is named by its address): masked as
// above when it begins with "scheme://", whatever else it holds; any other text as it stands.
QString withoutPasswordIfAddress(const QString &text);

// The address without its "user:password@" part, fit to hand to another program, whose command
// line anyone may read. Empty when the user part cannot be told apart for certain.
QString withoutUserPart(const QString &address);

} // namespace mail
