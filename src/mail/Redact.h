#pragma once

#include <QString>

namespace mail {

// The address or server setting with the password of its "user:password@" part replaced by
// "****", so that no message, box or log line ever shows it, whatever characters it holds.
// Where a password could end at more than one "@", all of it up to the last one goes.
QString withoutPassword(const QString &address);

} // namespace mail
