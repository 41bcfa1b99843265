// What the DLL's scheduling action hands the deferred action and the
// rollback and commit actions around it, in their CustomActionData:
//   <0|1>;<ProductCode>;<run>;<twain_32|twain_64>;<command line>
// 1 when rollback is enabled and the steps are recorded. Each side derives
// the run's backup folder from it, <WindowsDir>\ZULFuncts\<ProductCode>\<run>,
// and never takes a folder from the text.
#pragma once

#include <stddef.h>

struct ActionData {
    bool bRecord;
    char szProductCode[39];     // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}; empty for a plain command line
    char szRun[26];             // <installation part>-<set part>
    const char *pszTwainName;   // the TWAIN directory below <WindowsDir>
    const char *pszCommandLine; // within the text parsed
};

// A run's name: sixteen hex digits that the action sets of one installation
// share, '-', and eight of the set's own.
const size_t s_cchRunInstallation = 16;
const size_t s_cchRunName = s_cchRunInstallation + 1 + 8;

bool IsProductCode(const char *psz);
bool IsRunName(const char *psz);

// Splits pszData (changing it) into *pData. A text that does not begin with
// "0;" or "1;" is a plain command line: twain_32, nothing recorded. False
// when it begins so but is not exactly the form above.
bool ParseActionData(char *pszData, ActionData *pData);
