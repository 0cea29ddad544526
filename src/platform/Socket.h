#pragma once

#include <QtGlobal>

namespace net {

// Ends both directions of a connected socket without closing it: whoever still waits on it
// wakes up at once, and the descriptor stays its owner's to close.
void shutdownBoth(qintptr socket);

// A new socket that a started program does not inherit; -1 when none could be made.
qintptr openSocket(int family, int type, int protocol);
void closeSocket(qintptr socket);

} // namespace net
