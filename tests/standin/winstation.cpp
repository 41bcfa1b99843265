// Window stations: the process has one, named by ZULFUNCTS_WINDOW_STATION
// (default WinSta0). As on Windows, only WinSta0 is visible; any other name
// stands for a service's station that nobody sees.
#include <windows.h>

#include "standin.h"

#include <stdlib.h>
#include <string.h>

namespace {

// Any address unique to the station serves as its handle.
char s_station;

bool IsStationVisible()
{
    const char *pszName = getenv("ZULFUNCTS_WINDOW_STATION");
    return !pszName || !*pszName || ZulStandinEqualNoCase(pszName, "WinSta0");
}

} // namespace

extern "C" HWINSTA WINAPI GetProcessWindowStation(void)
{
    return static_cast<HWINSTA>(&s_station);
}

// Only UOI_FLAGS is known. Like Wine, a buffer too small fails with
// ERROR_BUFFER_OVERFLOW and still reports the size needed.
extern "C" BOOL WINAPI GetUserObjectInformationA(HANDLE hObj, int nIndex, PVOID pvInfo, DWORD nLength,
                                                 LPDWORD lpnLengthNeeded)
{
    if (hObj != static_cast<HANDLE>(&s_station)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (nIndex != UOI_FLAGS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (lpnLengthNeeded)
        *lpnLengthNeeded = sizeof(USEROBJECTFLAGS);
    if (!pvInfo || nLength < sizeof(USEROBJECTFLAGS)) {
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return FALSE;
    }
    USEROBJECTFLAGS flags;
    flags.fInherit = FALSE;
    flags.fReserved = FALSE;
    flags.dwFlags = IsStationVisible() ? WSF_VISIBLE : 0;
    memcpy(pvInfo, &flags, sizeof(flags));
    return TRUE;
}
