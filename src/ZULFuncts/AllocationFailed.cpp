// The exe's answer to an allocation that failed: status 1 at once. The DLL
// form defines its own, which must not end the installer's process; the
// linker then leaves this one out.
#include "AllocationFailed.h"

#include <stdlib.h>

void AllocationFailed(RunContext &)
{
    exit(1);
}
