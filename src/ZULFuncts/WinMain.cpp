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

typedef int(WINAPI *PFN_MESSAGEBOXA)(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);

bool IsHelpText(const char *pszCmdLine)
{
    for (const char *pszHelp : s_rgpszHelp) {
        if (_mbscmp(reinterpret_cast<const unsigned char *>(pszCmdLine),
                    reinterpret_cast<const unsigned char *>(pszHelp)) == 0)
            return true;
    }
    return false;
}

// USER32 is loaded only for the box: linked statically, it would cost every
// run, refused or not, most of a process's start-up time.
void ShowUsage()
{
    HMODULE hUser32 = LoadLibraryA("user32.dll");
    if (!hUser32)
        return;
    // Through void (*)(void), which converts to any function pointer type
    // without a cast-function-type warning.
    PFN_MESSAGEBOXA pfnMessageBoxA = reinterpret_cast<PFN_MESSAGEBOXA>(
        reinterpret_cast<void (*)(void)>(GetProcAddress(hUser32, "MessageBoxA")));
    if (pfnMessageBoxA)
        pfnMessageBoxA(nullptr, s_szUsage, "Usage", MB_OK);
    FreeLibrary(hUser32);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int)
{
    if (IsHelpText(lpCmdLine)) {
        ShowUsage();
        return 0;
    }
    CommandLine commandLine;
    if (!commandLine.ParseAndRun(lpCmdLine))
        exit(1);
    return 0;
}
