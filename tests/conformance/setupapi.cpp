// Device installation: the devices of a setup class, their Driver property and driver key.
// devices.reg holds the imaging devices the program looks for, and devices of a class of
// this test's own spread over several enumerators.
#include "conformance.h"

#include <setupapi.h>

static const GUID s_guidTest = {0x5A554C00, 0x1111, 0x2222, {0x33, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66}};
static const char s_szTestGuid[] = "{5A554C00-1111-2222-3333-444455556666}";

// The imaging devices, as the program walks them.
static void test_ImagingDevices()
{
    ok(sizeof(SP_DEVINFO_DATA) == (sizeof(void *) == 4 ? 28u : 32u), "sizeof(SP_DEVINFO_DATA) is %u\n",
       (unsigned)sizeof(SP_DEVINFO_DATA));

    HDEVINFO hDevs = SetupDiGetClassDevsA(&s_guidImagingClass, NULL, NULL, 0);
    unsigned long dwErr = LastError();
    ok(hDevs != INVALID_HANDLE_VALUE, "SetupDiGetClassDevsA of the imaging class succeeds, error %lu\n", dwErr);
    if (hDevs == INVALID_HANDLE_VALUE) {
        return;
    }

    SP_DEVINFO_DATA did;
    memset(&did, 0, sizeof(did));
    did.cbSize = sizeof(did) + 1;
    ok_win_fails(SetupDiEnumDeviceInfo(hDevs, 0, &did), ERROR_INVALID_USER_BUFFER,
                 "SetupDiEnumDeviceInfo with a wrong cbSize");

    // The devices come in the order of their Enum key names, not the order of the .reg file;
    // device 0003 is of another class. Expected driver instance per index, "" for none.
    static const char *const rgszDriver[] = {"0003", "", "0000"};
    const DWORD cDevices = sizeof(rgszDriver) / sizeof(rgszDriver[0]);
    for (DWORD idx = 0; idx <= cDevices; ++idx) {
        memset(&did, 0, sizeof(did));
        did.cbSize = sizeof(did);
        SetLastError(0xdeadbeef);
        BOOL bOk = SetupDiEnumDeviceInfo(hDevs, idx, &did);
        dwErr = LastError();
        if (idx == cDevices) {
            ok(!bOk && dwErr == ERROR_NO_MORE_ITEMS,
               "SetupDiEnumDeviceInfo past the last device fails with 259, got %d, %lu\n", bOk, dwErr);
            break;
        }
        ok(bOk, "SetupDiEnumDeviceInfo gives device %lu, error %lu\n", (unsigned long)idx, dwErr);
        if (!bOk) {
            continue;
        }
        char szDriver[MAX_PATH];
        memset(szDriver, 0, sizeof(szDriver));
        DWORD cbNeeded = 0;
        bOk = SetupDiGetDeviceRegistryPropertyA(hDevs, &did, SPDRP_DRIVER, NULL, (LPBYTE)szDriver, sizeof(szDriver),
                                                &cbNeeded);
        HKEY hKey = SetupDiOpenDevRegKey(hDevs, &did, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_QUERY_VALUE);
        dwErr = LastError();
        if (!rgszDriver[idx][0]) {
            ok(!bOk, "SPDRP_DRIVER of device %lu without a Driver value fails\n", (unsigned long)idx);
            ok(hKey == INVALID_HANDLE_VALUE,
               "SetupDiOpenDevRegKey of device %lu without a driver gives "
               "INVALID_HANDLE_VALUE, got %p\n",
               (unsigned long)idx, (void *)hKey);
            if (hKey != INVALID_HANDLE_VALUE) {
                RegCloseKey(hKey);
            }
            continue;
        }
        std::string sWant = std::string(s_szImagingClass) + "\\" + rgszDriver[idx];
        ok(bOk && sWant == szDriver, "SPDRP_DRIVER of device %lu is the Driver value %s, got %s\n", (unsigned long)idx,
           sWant.c_str(), szDriver);
        ok(hKey != INVALID_HANDLE_VALUE, "SetupDiOpenDevRegKey(DIREG_DRV) opens device %lu's driver key, error %lu\n",
           (unsigned long)idx, dwErr);
        if (hKey == INVALID_HANDLE_VALUE) {
            continue;
        }
        {
            // Each device's driver key is the one its Driver value names.
            HKEY hSub = NULL;
            char szBuf[MAX_PATH];
            DWORD cb = 0;
            LONG lRet = RegOpenKeyA(hKey, "DeviceData", &hSub);
            if (lRet == ERROR_SUCCESS) {
                lRet = QueryValue(hSub, "InstallCLSID", NULL, szBuf, &cb);
                RegCloseKey(hSub);
            }
            const char *pszWant = strcmp(rgszDriver[idx], "0000") == 0 ? "{ABCDEF00-1111-2222-3333-444455556666}"
                                                                       : "{11111111-2222-3333-4444-555555555555}";
            ok(lRet == ERROR_SUCCESS && strcmp(szBuf, pszWant) == 0,
               "device %lu's driver key is the one its Driver value names, got %ld, %s\n", (unsigned long)idx,
               (long)lRet, lRet == ERROR_SUCCESS ? szBuf : "");
        }
        LONG lClose = RegCloseKey(hKey);
        ok(lClose == ERROR_SUCCESS, "RegCloseKey of a driver key succeeds, got %ld\n", (long)lClose);
    }
    ok_win(SetupDiDestroyDeviceInfoList(hDevs), "SetupDiDestroyDeviceInfoList");
}

// The driver instances of a set's devices in order, "-" where SPDRP_DRIVER fails; the walk
// must end with ERROR_NO_MORE_ITEMS.
#define drivers_of(hSet) drivers_of_(__FILE__, __LINE__, hSet)
static std::string drivers_of_(const char *pszFile, int nLine, HDEVINFO hSet)
{
    std::string sDrivers;
    SP_DEVINFO_DATA did = {sizeof(SP_DEVINFO_DATA), {0, 0, 0, {0}}, 0, 0};
    DWORD idx = 0;
    for (; SetupDiEnumDeviceInfo(hSet, idx, &did) && idx < 100; ++idx) {
        char sz[MAX_PATH];
        bool bOk = SetupDiGetDeviceRegistryPropertyA(hSet, &did, SPDRP_DRIVER, NULL, (BYTE *)sz, sizeof(sz), NULL);
        const char *pszLast = strrchr(sz, '\\');
        sDrivers += std::string(sDrivers.empty() ? "" : " ") + (bOk && pszLast ? pszLast + 1 : "-");
    }
    unsigned long dwErr = LastError();
    ok_(pszFile, nLine)(dwErr == ERROR_NO_MORE_ITEMS, "the walk ends at %lu with 259, got %lu\n", (unsigned long)idx,
                        dwErr);
    return sDrivers;
}

// The device at that index of a fresh set of the test class.
static HDEVINFO TestDevice(DWORD idx, SP_DEVINFO_DATA *pdid)
{
    HDEVINFO hSet = SetupDiGetClassDevsA(&s_guidTest, NULL, NULL, 0);
    pdid->cbSize = sizeof(SP_DEVINFO_DATA);
    BOOL bOk = SetupDiEnumDeviceInfo(hSet, idx, pdid);
    ok(bOk, "SetupDiEnumDeviceInfo gives test device %lu, error %lu\n", (unsigned long)idx, LastError());
    return hSet;
}

// Which devices a class has, in which order: by name at each level below Enum, case ignored; a
// ClassGUID in lower case counts, one that is malformed or longer than 39 characters does not.
static void test_ClassDevices()
{
    HDEVINFO hSet = SetupDiGetClassDevsA(&s_guidTest, NULL, NULL, DIGCF_PRESENT);
    ok(hSet != INVALID_HANDLE_VALUE, "SetupDiGetClassDevsA(DIGCF_PRESENT) succeeds, error %lu\n", LastError());
    std::string sDrivers = drivers_of(hSet);
    ok(sDrivers == "- 0003 0000 0001 0000 0007", "the test class's devices in order, got %s\n", sDrivers.c_str());

    SP_DEVINFO_DATA did = {sizeof(SP_DEVINFO_DATA), {0, 0, 0, {0}}, 0, 0};
    BOOL bOk = SetupDiEnumDeviceInfo(hSet, 3, &did);
    ok(bOk && memcmp(&did.ClassGuid, &s_guidTest, sizeof(GUID)) == 0,
       "a device whose ClassGUID is in lower case has the class, got %d, %08lx\n", bOk,
       (unsigned long)did.ClassGuid.Data1);
    ok_win_fails(SetupDiEnumDeviceInfo(hSet, 0xFFFFFFFF, &did), ERROR_NO_MORE_ITEMS,
                 "SetupDiEnumDeviceInfo(0xFFFFFFFF)");
    ok_win(SetupDiDestroyDeviceInfoList(hSet), "SetupDiDestroyDeviceInfoList");

    ok_win_fails(SetupDiGetClassDevsA(NULL, NULL, NULL, 0) != INVALID_HANDLE_VALUE, ERROR_INVALID_PARAMETER,
                 "SetupDiGetClassDevsA without a class");
}

// SPDRP_DRIVER: the size it needs, and what fails.
static void test_DriverProperty()
{
    SP_DEVINFO_DATA did;
    HDEVINFO hSet = TestDevice(2, &did);
    BYTE buf[100];
    DWORD dwType = 0, cbNeeded = 0;
    BOOL bOk = SetupDiGetDeviceRegistryPropertyA(hSet, &did, SPDRP_DRIVER, &dwType, buf, 44, &cbNeeded);
    std::string sWant = std::string(s_szTestGuid) + "\\0000";
    ok(bOk && sWant == (char *)buf && dwType == REG_SZ && cbNeeded == 44,
       "SPDRP_DRIVER gives the text, REG_SZ and 44 bytes with the NUL, got %d, %s, %lu, %lu\n", bOk,
       bOk ? (char *)buf : "", (unsigned long)dwType, (unsigned long)cbNeeded);

    memset(buf, 0xCC, sizeof(buf));
    cbNeeded = 0;
    ok_win_fails(SetupDiGetDeviceRegistryPropertyA(hSet, &did, SPDRP_DRIVER, NULL, buf, 43, &cbNeeded),
                 ERROR_INSUFFICIENT_BUFFER, "SPDRP_DRIVER into 43 bytes");
    ok(cbNeeded == 44 && buf[0] == 0xCC, "too small a buffer gets the size needed and is left alone, got %lu, %#x\n",
       (unsigned long)cbNeeded, buf[0]);
    ok_win_fails(SetupDiGetDeviceRegistryPropertyA(hSet, &did, SPDRP_DRIVER, NULL, NULL, 0, &cbNeeded),
                 ERROR_INSUFFICIENT_BUFFER, "SPDRP_DRIVER without a buffer");
    ok_win_fails(SetupDiGetDeviceRegistryPropertyA(hSet, &did, SPDRP_DRIVER, NULL, NULL, 10, &cbNeeded),
                 ERROR_INVALID_DATA, "SPDRP_DRIVER with a size but no buffer");
    SetupDiDestroyDeviceInfoList(hSet);

    hSet = TestDevice(0, &did);
    ok_win_fails(SetupDiGetDeviceRegistryPropertyA(hSet, &did, SPDRP_DRIVER, NULL, buf, sizeof(buf), NULL),
                 ERROR_INVALID_DATA, "SPDRP_DRIVER of a device without a Driver value");
    SetupDiDestroyDeviceInfoList(hSet);
}

// SetupDiOpenDevRegKey(DIREG_DRV): success clears the error code; no Driver value, or one that
// names no key, is ERROR_KEY_DOES_NOT_EXIST.
static void test_DriverKey()
{
    SP_DEVINFO_DATA did;
    HDEVINFO hSet = TestDevice(2, &did);
    SetLastError(1234);
    HKEY hKey = SetupDiOpenDevRegKey(hSet, &did, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_QUERY_VALUE);
    unsigned long dwErr = LastError();
    ok(hKey != (HKEY)INVALID_HANDLE_VALUE && dwErr == 0, "the driver key opens and the error code is 0, got %p, %lu\n",
       (void *)hKey, dwErr);
    char szBuf[MAX_PATH];
    DWORD cb = 0;
    LONG lRet = QueryValue(hKey, "InstallCLSID", NULL, szBuf, &cb);
    ok(lRet == ERROR_SUCCESS && strcmp(szBuf, "{ABCDEF00-1111-2222-3333-444455556666}") == 0,
       "the driver key is the one Driver names, got %ld, %s\n", (long)lRet, szBuf);
    RegCloseKey(hKey);
    SetupDiDestroyDeviceInfoList(hSet);

    for (DWORD idx : {0u, 3u}) {
        hSet = TestDevice(idx, &did);
        SetLastError(0xdeadbeef);
        hKey = SetupDiOpenDevRegKey(hSet, &did, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_QUERY_VALUE);
        dwErr = LastError();
        ok(hKey == (HKEY)INVALID_HANDLE_VALUE && dwErr == ERROR_KEY_DOES_NOT_EXIST,
           "device %lu has no driver key: INVALID_HANDLE_VALUE and %#lx, got %p, %#lx\n", (unsigned long)idx,
           (unsigned long)ERROR_KEY_DOES_NOT_EXIST, (void *)hKey, dwErr);
        SetupDiDestroyDeviceInfoList(hSet);
    }
}

// Handles and records that name no set or no device of the set.
static void test_BadHandles()
{
    SP_DEVINFO_DATA did;
    HDEVINFO hSet = TestDevice(2, &did);
    BYTE buf[100];
    HDEVINFO rghBad[] = {INVALID_HANDLE_VALUE, NULL};
    for (HDEVINFO hBad : rghBad) {
        SP_DEVINFO_DATA probe = {sizeof(SP_DEVINFO_DATA), {0, 0, 0, {0}}, 0, 0};
        ok_win_fails(SetupDiEnumDeviceInfo(hBad, 0, &probe), ERROR_INVALID_HANDLE,
                     "SetupDiEnumDeviceInfo of a bad set");
        ok_win_fails(SetupDiGetDeviceRegistryPropertyA(hBad, &did, SPDRP_DRIVER, NULL, buf, sizeof(buf), NULL),
                     ERROR_INVALID_HANDLE, "SetupDiGetDeviceRegistryPropertyA of a bad set");
        ok_win_fails(SetupDiOpenDevRegKey(hBad, &did, DICS_FLAG_GLOBAL, 0, DIREG_DRV, 0) != INVALID_HANDLE_VALUE,
                     ERROR_INVALID_HANDLE, "SetupDiOpenDevRegKey of a bad set");
        ok_win_fails(SetupDiDestroyDeviceInfoList(hBad), ERROR_INVALID_HANDLE,
                     "SetupDiDestroyDeviceInfoList of a bad set");
    }

    HDEVINFO hOther = SetupDiGetClassDevsA(&s_guidTest, NULL, NULL, 0);
    ok_win_fails(SetupDiGetDeviceRegistryPropertyA(hOther, &did, SPDRP_DRIVER, NULL, buf, sizeof(buf), NULL),
                 ERROR_INVALID_PARAMETER, "SPDRP_DRIVER of a record from another set");
    SP_DEVINFO_DATA blank = {sizeof(SP_DEVINFO_DATA), {0, 0, 0, {0}}, 0, 0};
    ok_win_fails(SetupDiOpenDevRegKey(hSet, &blank, DICS_FLAG_GLOBAL, 0, DIREG_DRV, 0) != INVALID_HANDLE_VALUE,
                 ERROR_INVALID_PARAMETER, "SetupDiOpenDevRegKey of a record never filled in");
    SetupDiDestroyDeviceInfoList(hOther);
    SetupDiDestroyDeviceInfoList(hSet);
}

void func_setupapi()
{
    test_ImagingDevices();
    test_ClassDevices();
    test_DriverProperty();
    test_DriverKey();
    test_BadHandles();
}
