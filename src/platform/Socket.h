#pragma once

#include <QtGlobal>

namespace net {

// Ends both directions of a connected socket without closing it: whoever still waits on it
// wakes up at once, and the descriptor stays its owner's to close.
void shutdownBoth(qintptr socket);

} // namespace net
