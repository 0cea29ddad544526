#pragma once

#include <QString>

namespace mail {

// The address or server setting with the password of its "user:password@" part replaced by
// "****", so that no message, box or log line ever shows it. Anything else stays as it is.
QString withoutPassword(const QString &address);

} // namespace mail
