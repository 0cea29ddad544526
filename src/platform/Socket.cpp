#include "platform/Socket.h"

#if defined(_WIN32)
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

namespace net {

void shutdownBoth(qintptr socket)
{
#if defined(_WIN32)
    ::shutdown(SOCKET(socket), SD_BOTH);
#else
    ::shutdown(int(socket), SHUT_RDWR);
#endif
}

} // namespace net
