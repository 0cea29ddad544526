#include "platform/Socket.h"

#if defined(_WIN32)
#include <winsock2.h>
#else
#include <sys/socket.h>
#include <unistd.h>
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

qintptr openSocket(int family, int type, int protocol)
{
#if defined(_WIN32)
    const SOCKET s = ::socket(family, type, protocol);
    return s == INVALID_SOCKET ? -1 : qintptr(s);
#else
    return ::socket(family, type | SOCK_CLOEXEC, protocol);
#endif
}

void closeSocket(qintptr socket)
{
#if defined(_WIN32)
    ::closesocket(SOCKET(socket));
#else
    ::close(int(socket));
#endif
}

} // namespace net
