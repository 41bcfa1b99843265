// Entry point: show the usage text or run one command. The exit status is all
// the installer learns: 0 for usage or a command that ran, 1 for a command
// line that was not accepted.
#include "CommandLine.h"
#include "RunContext.h"
#include "RuntimeFunctions.h"

#include <windows.h>

#include <stdlib.h>

namespace {

const char s_szUsage[] =
    "Syntax: ZULFuncts.exe <Function to call> <GUID> <FilePrefix> <CheckKey> <CheckKeyValue> <DeviceSWRegKey> "
    "<0|1>\n\n\t\tFunctions available\n\t\t\t\tMAddDS\n\t\t\t\tAddDS\n\t\t\t\tRemoveDS\n\n\t\tLong file names "
    "should be enclosed in quotes\n\n\t\t<0|1> parameter indicates logging and is optional.  Default is logging "
    "on (1).";

// A service's window station is not visible: a box there waits for a click
// that never comes, and the installer that started us waits with it. Only a
// station known to be visible gets the box.
bool IsWindowStationVisible(HMODULE hUser32)
{
    PFN_GETPROCESSWINDOWSTATION pfnGetProcessWindowStation = s_fnGetProcessWindowStation.FindIn(hUser32);
    PFN_GETUSEROBJECTINFORMATIONA pfnGetUserObjectInformationA = s_fnGetUserObjectInformationA.FindIn(hUser32);
    if (!pfnGetProcessWindowStation || !pfnGetUserObjectInformationA)
        return false;
    HWINSTA hStation = pfnGetProcessWindowStation();
    // Zeroed: Wine fills in dwFlags only.
    USEROBJECTFLAGS flags = {};
    DWORD cbNeeded = 0;
    if (!hStation || !pfnGetUserObjectInformationA(hStation, UOI_FLAGS, &flags, sizeof(flags), &cbNeeded))
        return false;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

// USER32 is loaded only for the box: linked statically, it would cost every
// run, refused or not, most of a process's start-up time.
void ShowUsage()
{
    HMODULE hUser32 = LoadLibraryA(s_szUser32);
    if (!hUser32)
        return;
    PFN_MESSAGEBOXA pfnMessageBoxA = s_fnMessageBoxA.FindIn(hUser32);
    if (pfnMessageBoxA && IsWindowStationVisible(hUser32))
        pfnMessageBoxA(nullptr, s_szUsage, "Usage", MB_OK);
    FreeLibrary(hUser32);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int)
{
    if (CommandLine::IsHelpText(lpCmdLine)) {
        ShowUsage();
        return 0;
    }
    CommandLine commandLine;
    RunContext run;
    if (!commandLine.ParseAndRun(lpCmdLine, run))
        exit(1);
    return 0;
}
