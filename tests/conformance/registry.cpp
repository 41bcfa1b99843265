// The registry, as the driver-key probes read it: opening keys by name, reading values, and
// the errors of handles and paths that do not serve. devices.reg holds the keys.
#include "conformance.h"

// Values as the driver-key probes read them.
static void test_Values(HKEY hKey)
{
    LONG lRet = RegQueryValueExA(hKey, "Over261", NULL, NULL, NULL, NULL);
    ok(lRet == ERROR_SUCCESS,
       "RegQueryValueExA without buffer and size succeeds for an existing value, whatever "
       "its size, got %ld\n",
       (long)lRet);
    lRet = RegQueryValueExA(hKey, "Empty", NULL, NULL, NULL, NULL);
    ok(lRet == ERROR_SUCCESS, "RegQueryValueExA without buffer and size succeeds for a value of no data, got %ld\n",
       (long)lRet);
    lRet = RegQueryValueExA(hKey, "MarelCLSID", NULL, NULL, NULL, NULL);
    ok(lRet == ERROR_FILE_NOT_FOUND,
       "RegQueryValueExA without buffer and size fails with 2 for a missing value, "
       "got %ld\n",
       (long)lRet);

    char szBuf[MAX_PATH];
    DWORD dwType = 0, cb = 0;
    lRet = QueryValue(hKey, "Exact260", NULL, szBuf, &cb);
    ok(lRet == ERROR_SUCCESS && cb == 260 && strlen(szBuf) == 259,
       "260 bytes of string data fit a 260-byte buffer, got %ld, cb %lu\n", (long)lRet, (unsigned long)cb);
    lRet = QueryValue(hKey, "Over261", NULL, szBuf, &cb);
    ok(lRet == ERROR_MORE_DATA, "261 bytes of data into a 260-byte buffer fail with 234, got %ld\n", (long)lRet);

    lRet = QueryValue(hKey, "Multi", &dwType, szBuf, &cb);
    ok(lRet == ERROR_SUCCESS && dwType == REG_MULTI_SZ && strcmp(szBuf, "first") == 0,
       "a REG_MULTI_SZ reads as its strings, the first ending at the first NUL, got %ld, %s\n", (long)lRet, szBuf);
    lRet = QueryValue(hKey, "Dword", &dwType, szBuf, &cb);
    DWORD dw = 0;
    memcpy(&dw, szBuf, sizeof(dw));
    ok(lRet == ERROR_SUCCESS && dwType == REG_DWORD && cb == 4 && dw == 0x102,
       "a dword reads as 4 bytes, got %ld, cb %lu, %#lx\n", (long)lRet, (unsigned long)cb, (unsigned long)dw);
    lRet = QueryValue(hKey, "", &dwType, szBuf, &cb);
    ok(lRet == ERROR_SUCCESS && dwType == REG_SZ && strcmp(szBuf, "default text") == 0,
       "the empty value name reads the key's default value, got %ld, %s\n", (long)lRet, szBuf);

    HKEY hSub = NULL;
    lRet = RegOpenKeyA(hKey, "DEVICEDATA", &hSub);
    ok(lRet == ERROR_SUCCESS, "RegOpenKeyA opens the DeviceData subkey, key names without regard to case, got %ld\n",
       (long)lRet);
    lRet = QueryValue(hSub, "installclsid", &dwType, szBuf, &cb);
    ok(lRet == ERROR_SUCCESS && strcmp(szBuf, "{ABCDEF00-1111-2222-3333-444455556666}") == 0,
       "a string value of the subkey reads, value names without regard to case, got %ld, %s\n", (long)lRet, szBuf);
    ok(cb == 39, "a string's size counts its NUL, got %lu\n", (unsigned long)cb);
    lRet = RegQueryValueExA(hSub, "MarelCLSID", NULL, NULL, NULL, NULL);
    ok(lRet == ERROR_SUCCESS, "the marker value exists in the subkey, got %ld\n", (long)lRet);
    lRet = RegCloseKey(hSub);
    ok(lRet == ERROR_SUCCESS, "RegCloseKey of a subkey succeeds, got %ld\n", (long)lRet);
}

// What comes back where a value does not fit or is not there.
static void test_ValueSizes(HKEY hKey)
{
    BYTE buf[8];
    DWORD dwType = 99, cb = sizeof(buf);
    LONG lRet = RegQueryValueExA(hKey, "Nope", NULL, &dwType, NULL, &cb);
    ok(lRet == ERROR_FILE_NOT_FOUND && cb == 0 && dwType == REG_NONE,
       "a missing value fails with 2 and gives size 0 and REG_NONE, got %ld, %lu, %lu\n", (long)lRet, (unsigned long)cb,
       (unsigned long)dwType);
    cb = 0;
    lRet = RegQueryValueExA(hKey, "Dword", NULL, &dwType, NULL, &cb);
    ok(lRet == ERROR_SUCCESS && cb == 4 && dwType == REG_DWORD,
       "without a buffer the size and type come back, got %ld, %lu, %lu\n", (long)lRet, (unsigned long)cb,
       (unsigned long)dwType);

    memset(buf, 0xCC, sizeof(buf));
    cb = 3;
    lRet = RegQueryValueExA(hKey, "Dword", NULL, &dwType, buf, &cb);
    ok(lRet == ERROR_MORE_DATA && cb == 4, "too small a buffer fails with 234 and the size needed, got %ld, %lu\n",
       (long)lRet, (unsigned long)cb);
    ok(buf[0] == 0xCC, "too small a buffer is left as it was, got %#x\n", buf[0]);

    cb = sizeof(buf);
    lRet = RegQueryValueExA(hKey, NULL, NULL, NULL, buf, &cb);
    ok(lRet == ERROR_MORE_DATA, "a null name reads the default value, too long for 8 bytes, got %ld\n", (long)lRet);
    lRet = RegQueryValueExA(hKey, "Dword", NULL, NULL, buf, NULL);
    ok(lRet == ERROR_INVALID_PARAMETER, "a buffer without its size fails with 87, got %ld\n", (long)lRet);
}

// Subkey paths as a check key on the command line may spell them.
static void test_Paths(HKEY hKey)
{
    HKEY hSame = NULL;
    LONG lRet = RegOpenKeyA(hKey, "", &hSame);
    ok(lRet == ERROR_SUCCESS && hSame == hKey, "RegOpenKeyA with an empty subkey gives the same handle, got %ld, %p\n",
       (long)lRet, (void *)hSame);
    hSame = NULL;
    lRet = RegOpenKeyA(hKey, NULL, &hSame);
    ok(lRet == ERROR_SUCCESS && hSame == hKey, "RegOpenKeyA with a null subkey gives the same handle, got %ld, %p\n",
       (long)lRet, (void *)hSame);

    HKEY hSub = (HKEY)(ULONG_PTR)0x1234;
    lRet = RegOpenKeyA(hKey, "Missing", &hSub);
    ok(lRet == ERROR_FILE_NOT_FOUND && hSub == NULL,
       "RegOpenKeyA of a missing subkey fails with 2 and gives NULL, "
       "got %ld, %p\n",
       (long)lRet, (void *)hSub);
    lRet = RegOpenKeyA(hKey, "DeviceData\\", &hSub);
    ok(lRet == ERROR_SUCCESS, "a trailing backslash is passed over, got %ld\n", (long)lRet);
    RegCloseKey(hSub);
    lRet = RegOpenKeyA(HKEY_LOCAL_MACHINE, "System\\\\CurrentControlSet", &hSub);
    ok(lRet == ERROR_SUCCESS, "a run of backslashes separates as one, got %ld\n", (long)lRet);
    RegCloseKey(hSub);
    lRet = RegOpenKeyA(hKey, "\\DeviceData", &hSub);
    ok(lRet == ERROR_BAD_PATHNAME, "a leading backslash fails with 161, got %ld\n", (long)lRet);
    lRet = RegOpenKeyA(hKey, "..", &hSub);
    ok(lRet == ERROR_FILE_NOT_FOUND, "\"..\" names no parent, got %ld\n", (long)lRet);
    std::string sLong(261, 'x');
    lRet = RegOpenKeyA(hKey, sLong.c_str(), &hSub);
    ok(lRet == ERROR_MORE_DATA, "a subkey path over 260 characters fails with 234, got %ld\n", (long)lRet);
    lRet = RegOpenKeyA(hKey, "DeviceData", NULL);
    ok(lRet == ERROR_INVALID_PARAMETER, "RegOpenKeyA without a result pointer fails with 87, got %ld\n", (long)lRet);
}

static void test_Handles()
{
    HKEY hBogus = (HKEY)(ULONG_PTR)0x1234, hOut = NULL;
    LONG lRet = RegOpenKeyA(hBogus, "x", &hOut);
    ok(lRet == ERROR_INVALID_HANDLE, "RegOpenKeyA of a handle never opened fails with 6, got %ld\n", (long)lRet);
    lRet = RegQueryValueExA(hBogus, "x", NULL, NULL, NULL, NULL);
    ok(lRet == ERROR_INVALID_HANDLE, "RegQueryValueExA of a handle never opened fails with 6, got %ld\n", (long)lRet);
    lRet = RegCloseKey(hBogus);
    ok(lRet == ERROR_INVALID_HANDLE, "RegCloseKey of a handle never opened fails with 6, got %ld\n", (long)lRet);
    lRet = RegCloseKey(NULL);
    ok(lRet == ERROR_INVALID_HANDLE, "RegCloseKey(NULL) fails with 6, got %ld\n", (long)lRet);
    lRet = RegCloseKey(HKEY_LOCAL_MACHINE);
    ok(lRet == ERROR_SUCCESS, "RegCloseKey(HKEY_LOCAL_MACHINE) succeeds, got %ld\n", (long)lRet);

    lRet = RegOpenKeyA(HKEY_LOCAL_MACHINE, "SYSTEM", &hOut);
    ok(lRet == ERROR_SUCCESS, "RegOpenKeyA(HKEY_LOCAL_MACHINE, \"SYSTEM\") succeeds, got %ld\n", (long)lRet);
    lRet = RegCloseKey(hOut);
    ok(lRet == ERROR_SUCCESS, "RegCloseKey of an open key succeeds, got %ld\n", (long)lRet);
    lRet = RegCloseKey(hOut);
    ok(lRet == ERROR_INVALID_HANDLE, "RegCloseKey of a closed key fails with 6, got %ld\n", (long)lRet);
}

void func_registry()
{
    HKEY hKey = NULL;
    LONG lRet = RegOpenKeyA(HKEY_LOCAL_MACHINE,
                            "SYSTEM\\currentcontrolset\\CONTROL\\class\\"
                            "{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0000",
                            &hKey);
    ok(lRet == ERROR_SUCCESS, "RegOpenKeyA of a path in another case opens the driver key, got %ld\n", (long)lRet);
    if (lRet != ERROR_SUCCESS) {
        return;
    }
    test_Values(hKey);
    test_ValueSizes(hKey);
    test_Paths(hKey);
    lRet = RegCloseKey(hKey);
    ok(lRet == ERROR_SUCCESS, "RegCloseKey of the driver key succeeds, got %ld\n", (long)lRet);
    test_Handles();
}
