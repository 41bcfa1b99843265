// Thread's last-error code, as kernel32 keeps it.
#include <windows.h>

static thread_local DWORD s_dwLastError = 0;

extern "C" DWORD WINAPI GetLastError(void)
{
    return s_dwLastError;
}

extern "C" void WINAPI SetLastError(DWORD dwErrCode)
{
    s_dwLastError = dwErrCode;
}
