#include "ChildLimits.h"

#include <sys/resource.h>

namespace ChildLimits {

void bound(qint64 addressSpaceBytes, int cpuSeconds)
{
    if (addressSpaceBoundable && addressSpaceBytes > 0) {
        const rlimit address{rlim_t(addressSpaceBytes), rlim_t(addressSpaceBytes)};
        setrlimit(RLIMIT_AS, &address);
    }
    // A second guard beside the parent's wall clock, should the parent itself stall.
    const rlimit processor{rlim_t(cpuSeconds), rlim_t(cpuSeconds)};
    setrlimit(RLIMIT_CPU, &processor);
    setpriority(PRIO_PROCESS, 0, 10);
}

} // namespace ChildLimits
