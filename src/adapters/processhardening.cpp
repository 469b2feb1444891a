#include "adapters/processhardening.h"

#include <sys/prctl.h>
#include <sys/resource.h>

void ForbidCoreDumps() {
    const rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
#if !defined(__SANITIZE_ADDRESS__)
    // Not dumpable also keeps debuggers of the same user from attaching. The
    // leak checker of a sanitised build attaches to its own threads, so
    // there it stays dumpable.
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
}
