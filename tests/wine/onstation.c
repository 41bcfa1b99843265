/*
 * Runs a program on a given window station, as a service's programs run on
 * one nobody sees.
 *
 * Usage: onstation.exe STATION SECONDS PROGRAM [ARGUMENTS]
 *   STATION "WinSta0" runs the program on the interactive station; any other
 *   name makes a new station with a "Default" desktop. The program starts
 *   with lpDesktop "STATION\Default" and the command line "PROGRAM" ARGUMENTS
 *   (just "PROGRAM" without them); after SECONDS it is ended (exit status 124).
 * onstation.exe --flags
 *   prints the UOI_FLAGS of the station it runs on ("flags 0x1").
 * Exit status: the program's, 124 on timeout, 125 when it cannot be started.
 */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define ONSTATION_TIMEOUT 124
#define ONSTATION_FAILED 125

static int Fail(const char *pszWhat)
{
    fprintf(stderr, "onstation: %s (error %lu)\n", pszWhat, (unsigned long)GetLastError());
    return ONSTATION_FAILED;
}

static int PrintFlags(void)
{
    USEROBJECTFLAGS flags;
    DWORD cbNeeded = 0;
    if (!GetUserObjectInformationA(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags, &cbNeeded))
        return Fail("GetUserObjectInformationA failed");
    printf("flags 0x%lx\n", (unsigned long)flags.dwFlags);
    return 0;
}

int main(int argc, char **argv)
{
    char szDesktop[MAX_PATH];
    char szCmdLine[2 * MAX_PATH];
    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    DWORD dwExitCode = 0;

    if (argc == 2 && strcmp(argv[1], "--flags") == 0)
        return PrintFlags();
    if (argc != 4 && argc != 5) {
        fprintf(stderr, "usage: onstation.exe STATION SECONDS PROGRAM [ARGUMENTS] | --flags\n");
        return ONSTATION_FAILED;
    }
    if (_stricmp(argv[1], "WinSta0") != 0) {
        /* The desktop is made on the station while it is this process's own. */
        HWINSTA hStation = CreateWindowStationA(argv[1], 0, WINSTA_ALL_ACCESS, NULL);
        if (!hStation || !SetProcessWindowStation(hStation))
            return Fail("cannot make the window station");
        if (!CreateDesktopA("Default", NULL, NULL, 0, GENERIC_ALL, NULL))
            return Fail("cannot make the desktop");
    }
    snprintf(szDesktop, sizeof szDesktop, "%s\\Default", argv[1]);
    if (argc == 5)
        snprintf(szCmdLine, sizeof szCmdLine, "\"%s\" %s", argv[3], argv[4]);
    else
        snprintf(szCmdLine, sizeof szCmdLine, "\"%s\"", argv[3]);

    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    si.lpDesktop = szDesktop;
    memset(&pi, 0, sizeof pi);
    fflush(stdout);
    if (!CreateProcessA(NULL, szCmdLine, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
        return Fail("CreateProcessA failed");
    CloseHandle(pi.hThread);
    if (WaitForSingleObject(pi.hProcess, (DWORD)atoi(argv[2]) * 1000) != WAIT_OBJECT_0) {
        TerminateProcess(pi.hProcess, ONSTATION_TIMEOUT);
        WaitForSingleObject(pi.hProcess, 5000);
        fprintf(stderr, "onstation: the program did not end within %s s\n", argv[2]);
        return ONSTATION_TIMEOUT;
    }
    GetExitCodeProcess(pi.hProcess, &dwExitCode);
    CloseHandle(pi.hProcess);
    return (int)dwExitCode;
}
