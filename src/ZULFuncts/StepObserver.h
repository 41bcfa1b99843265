// What the installer's form of the program learns of each data-source step,
// and how it answers. The exe sets no observer: every step runs once and no
// failure changes what follows.
#pragma once

#include <windows.h>

enum StepAnswer
{
    STEP_GO_ON, // the next device
    STEP_RETRY, // the same step again
    STEP_STOP   // end the command now
};

struct StepObserver {
    void *pvContext;
    // A data source was installed, activated or removed; pszInstanceDir is
    // the instance's directory name. False ends the command (a cancel).
    bool (*pfnDone)(void *pvContext, const char *pszInstanceDir);
    // A step left its device without what an adding command is for (bAdd),
    // or could not remove a data source: the path and the Windows error.
    StepAnswer (*pfnFailed)(void *pvContext, bool bAdd, const char *pszPath, DWORD dwError);
};
