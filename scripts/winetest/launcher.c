/*
 * Starts a program with an exact command-line text, which `wine prog args...`
 * cannot do (Wine quotes every argument again).
 *
 * Usage: launcher.exe LAUNCHFILE
 *   LAUNCHFILE line 1: application path (empty: NULL lpApplicationName, the
 *                    program is then taken from the command line);
 *   the rest, after the first LF: the whole command line, byte for byte,
 *                    program name first, no newline added or removed.
 * A CR just before the first LF is dropped so the file may be written on Windows.
 *
 * Exit status: the child's exit code; LAUNCHER_FAILED (255) with a message on
 * stderr when the launch file cannot be read or the child cannot be started.
 */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define LAUNCHER_FAILED 255
#define LAUNCHER_MAX_FILE (1024 * 1024)

static int Fail(const char *pszWhat, const char *pszDetail, DWORD dwError)
{
    fprintf(stderr, "launcher: %s: %s (error %lu)\n", pszWhat, pszDetail, (unsigned long)dwError);
    fflush(stderr);
    return LAUNCHER_FAILED;
}

int main(int argc, char **argv)
{
    FILE *pFile;
    char *pBuffer;
    size_t cbRead;
    char *pNewline;
    char *pszApp;
    char *pszCmdLine;
    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    DWORD dwExitCode = 0;

    if (argc != 2) {
        fprintf(stderr, "usage: launcher LAUNCHFILE\n");
        return LAUNCHER_FAILED;
    }
    pFile = fopen(argv[1], "rb");
    if (pFile == NULL)
        return Fail("cannot open", argv[1], GetLastError());
    /* One byte more than the limit to notice a launch file that is too long, one for the NUL. */
    pBuffer = (char *)malloc(LAUNCHER_MAX_FILE + 2);
    if (pBuffer == NULL) {
        fclose(pFile);
        return Fail("out of memory", argv[1], 0);
    }
    cbRead = fread(pBuffer, 1, LAUNCHER_MAX_FILE + 1, pFile);
    fclose(pFile);
    if (cbRead > LAUNCHER_MAX_FILE)
        return Fail("launch file too long", argv[1], 0);
    pBuffer[cbRead] = '\0';
    if (strlen(pBuffer) != cbRead)
        return Fail("launch file holds a NUL byte", argv[1], 0);

    pNewline = strchr(pBuffer, '\n');
    if (pNewline == NULL)
        return Fail("launch file has no command line", argv[1], 0);
    *pNewline = '\0';
    if (pNewline > pBuffer && pNewline[-1] == '\r')
        pNewline[-1] = '\0';
    pszApp = pBuffer[0] != '\0' ? pBuffer : NULL;
    pszCmdLine = pNewline + 1; /* writable, as CreateProcessA requires */

    memset(&si, 0, sizeof(si));
    si.cb = sizeof(si);
    memset(&pi, 0, sizeof(pi));
    fflush(stdout);
    fflush(stderr);
    if (!CreateProcessA(pszApp, pszCmdLine, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
        return Fail("CreateProcessA failed", pszApp != NULL ? pszApp : pszCmdLine, GetLastError());
    CloseHandle(pi.hThread);
    if (WaitForSingleObject(pi.hProcess, INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(pi.hProcess, &dwExitCode)) {
        DWORD dwError = GetLastError();
        CloseHandle(pi.hProcess);
        return Fail("cannot wait for the child", pszCmdLine, dwError);
    }
    CloseHandle(pi.hProcess);
    free(pBuffer);
    return (int)dwExitCode;
}
