// The Windows and temporary directories and the local time.
// The Windows directory lives below the sysroot named by ZULFUNCTS_SYSROOT, as
// drive_c/windows lives below a Wine prefix.
#include "standin.h"

#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>

const char *ZulStandinSysroot()
{
    const char *psz = getenv("ZULFUNCTS_SYSROOT");
    return (psz && *psz) ? psz : nullptr;
}

// Copies s into a buffer of uSize bytes the way kernel32 does: the length without
// the NUL when it fits, else the size needed with the NUL and nothing written.
static UINT CopyOut(const std::string &s, LPSTR lpBuffer, UINT uSize)
{
    if (s.size() + 1 > uSize)
        return static_cast<UINT>(s.size() + 1);
    memcpy(lpBuffer, s.c_str(), s.size() + 1);
    return static_cast<UINT>(s.size());
}

extern "C" UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize)
{
    const char *pszSysroot = ZulStandinSysroot();
    if (!pszSysroot) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return 0;
    }
    std::string s = pszSysroot;
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    s += "/windows";
    struct stat st;
    if (stat(s.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return 0;
    }
    return CopyOut(s, lpBuffer, uSize);
}

extern "C" DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer)
{
    const char *psz = getenv("TMPDIR");
    std::string s = (psz && *psz) ? psz : "/tmp";
    if (s.back() != '/')
        s += '/';
    return CopyOut(s, lpBuffer, nBufferLength);
}

// LocalSystem (root) gets its own directory: the service's SystemTemp variable,
// else <WindowsDir>/SystemTemp/; every other account what GetTempPathA gives.
extern "C" DWORD WINAPI GetTempPath2A(DWORD BufferLength, LPSTR Buffer)
{
    if (geteuid() != 0)
        return GetTempPathA(BufferLength, Buffer);
    const char *psz = getenv("SystemTemp");
    std::string s;
    if (psz && *psz) {
        s = psz;
    } else {
        char szWindows[MAX_PATH];
        UINT cch = GetWindowsDirectoryA(szWindows, sizeof szWindows);
        if (cch == 0 || cch >= sizeof szWindows)
            return 0;
        s = std::string(szWindows) + "/SystemTemp";
    }
    if (s.back() != '/')
        s += '/';
    return CopyOut(s, Buffer, BufferLength);
}

extern "C" void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime)
{
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm tmLocal;
    localtime_r(&ts.tv_sec, &tmLocal);
    lpSystemTime->wYear = static_cast<WORD>(tmLocal.tm_year + 1900);
    lpSystemTime->wMonth = static_cast<WORD>(tmLocal.tm_mon + 1);
    lpSystemTime->wDayOfWeek = static_cast<WORD>(tmLocal.tm_wday);
    lpSystemTime->wDay = static_cast<WORD>(tmLocal.tm_mday);
    lpSystemTime->wHour = static_cast<WORD>(tmLocal.tm_hour);
    lpSystemTime->wMinute = static_cast<WORD>(tmLocal.tm_min);
    lpSystemTime->wSecond = static_cast<WORD>(tmLocal.tm_sec);
    lpSystemTime->wMilliseconds = static_cast<WORD>(ts.tv_nsec / 1000000);
}
