// What one run of a command needs beyond its command line. The exe's run has
// no record, no observer and no line sink; the installer's form fills them in.
#pragma once

class StepRecord;
struct StepObserver;

struct RunContext {
    // The directory below <WindowsDir> the data sources lie in: "twain_32" or "twain_64".
    const char *pszTwainName = "twain_32";
    // Lines besides the log file (the installer's log); null: the file alone.
    void (*pfnLine)(void *pvLine, const char *pszLine) = nullptr;
    void *pvLine = nullptr;
    // The installer's step observer; null in the exe.
    const StepObserver *pObserver = nullptr;
    // Where each step is recorded before it is made; null: no record.
    StepRecord *pRecord = nullptr;
    // Set instead of ending the process where the exe would exit with 1.
    bool bAllocationFailed = false;
};
