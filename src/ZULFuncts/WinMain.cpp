// Entry point: show the usage text or run one command. The exit status is all
// the installer learns: 0 for usage or a command that ran, 1 for a command
// line that was not accepted.
#include "CommandLine.h"

#include <windows.h>

#include <mbstring.h>
#include <stdlib.h>

namespace {

const char *const s_rgpszHelp[] = {"/?", "/h", "-?", "-h", ""};

const char s_szUsage[] =
    "Syntax: ZULFuncts.exe <Function to call> <GUID> <FilePrefix> <CheckKey> <CheckKeyValue> <DeviceSWRegKey> "
    "<0|1>\n\n\t\tFunctions available\n\t\t\t\tMAddDS\n\t\t\t\tAddDS\n\t\t\t\tRemoveDS\n\n\t\tLong file names "
    "should be enclosed in quotes\n\n\t\t<0|1> parameter indicates logging and is optional.  Default is logging "
    "on (1).";

bool IsHelpText(const char *pszCmdLine)
{
    for (const char *pszHelp : s_rgpszHelp) {
        if (_mbscmp(reinterpret_cast<const unsigned char *>(pszCmdLine),
                    reinterpret_cast<const unsigned char *>(pszHelp)) == 0)
            return true;
    }
    return false;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int)
{
    if (IsHelpText(lpCmdLine)) {
        MessageBoxA(nullptr, s_szUsage, "Usage", MB_OK);
        return 0;
    }
    CommandLine commandLine;
    if (!commandLine.ParseAndRun(lpCmdLine))
        exit(1);
    return 0;
}
