#include "platform/Process.h"

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

} // namespace process
