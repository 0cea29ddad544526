#include "platform/Process.h"

#if defined(__linux__)
#include <sys/resource.h>
#include <sys/syscall.h>
#endif
#if defined(__unix__)
#include <unistd.h>
#endif

namespace process {

bool runningAsRoot()
{
#if defined(__unix__)
    return geteuid() == 0;
#else
    return false;
#endif
}

void lowerThreadPriority()
{
#if defined(__linux__)
    // On Linux a nice value belongs to the thread named by its id.
    setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), 10);
#endif
}

} // namespace process
