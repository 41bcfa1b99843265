/*
 * Start-up floor for the benchmark: a GUI exe that accepts nothing and does
 * nothing. Built three ways, to show what each import costs a process:
 *   (none)              KERNEL32 and the C runtime only;
 *   -DFLOOR_USER32      USER32 as well;
 *   -DFLOOR_ALL         USER32, SETUPAPI and ADVAPI32, as the program once did.
 * The extra calls sit behind a test the command line never passes, so they
 * are imported but never made.
 */
#include <windows.h>
#if defined(FLOOR_ALL)
#include <setupapi.h>
#endif

#include <stdlib.h>

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd)
{
    (void)hInstance;
    (void)hPrevInstance;
    (void)nShowCmd;
    if (lpCmdLine[0] != '!')
        exit(1);
#if defined(FLOOR_USER32) || defined(FLOOR_ALL)
    MessageBoxA(NULL, lpCmdLine, "floor", MB_OK);
#endif
#if defined(FLOOR_ALL)
    {
        HKEY hKey;
        SetupDiDestroyDeviceInfoList(SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_ALLCLASSES));
        if (RegOpenKeyA(HKEY_LOCAL_MACHINE, lpCmdLine, &hKey) == ERROR_SUCCESS)
            RegCloseKey(hKey);
    }
#endif
    return 0;
}
