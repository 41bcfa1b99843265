// The stand-in's SetupAPI and registry functions over a registry.reg in a scratch sysroot.
// Expected results are those of the same calls under Wine 8.0 after `regedit /S` of the file.
#include "Sandbox.h"
#include "standin.h"

#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const GUID s_guidTest = {0x5A554C00, 0x1111, 0x2222, {0x33, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66}};
const std::string s_sGuid = "{5A554C00-1111-2222-3333-444455556666}";
const std::string s_sEnum = "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\";
const std::string s_sClass = "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\" + s_sGuid;
// Codes the stand-in headers do not name.
const DWORD s_dwKeyDoesNotExist = 0xE0000204;
const LSTATUS s_lBadPathname = 161;

// Devices, listed in the order Windows gives them (by name, case ignored, at each level):
//   ROOT\devA\0002  no Driver          ROOT\devA\0003  driver 0003 (missing key), Device Parameters
//   ROOT\DevB\0000  driver 0000        ROOT\DevB\0001  lower-case ClassGUID, driver 0001 (missing key)
//   USB\X\1         driver 0000        WIDE\X\a       ClassGUID with one character after it, driver 0007
// and devices that are not listed: another class, a malformed, too long or REG_EXPAND_SZ ClassGUID, none.
std::string DevicesReg()
{
    std::string sLower = s_sGuid;
    for (char &c : sLower) c = static_cast<char>(tolower(c));
    auto device = [](const std::string &sPath, const std::string &sClassGuid, const std::string &sDriver) {
        std::string s = s_sEnum + sPath + "]\r\n\"ClassGUID\"=\"" + sClassGuid + "\"\r\n";
        if (!sDriver.empty()) s += "\"Driver\"=\"" + s_sGuid + "\\\\" + sDriver + "\"\r\n";
        return s;
    };
    return "REGEDIT4\r\n\r\n" + device("USB\\X\\1", s_sGuid, "0000") + device("ROOT\\DevB\\0001", sLower, "0001") +
           device("ROOT\\DevB\\0000", s_sGuid, "0000") + device("ROOT\\devA\\0003", s_sGuid, "0003") +
           device("ROOT\\devA\\0002", s_sGuid, "") +
           device("ROOT\\Other\\0000", "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}", "0000") +
           device("ROOT\\Bad\\0000", s_sGuid.substr(0, 37), "0000") + device("ROOT\\NoGuid\\0000\\Sub", s_sGuid, "0000") +
           device("WIDE\\X\\a", s_sGuid + "x", "0007") + device("WIDE\\X\\b", s_sGuid + "xy", "0008") +
           s_sEnum + "ROOT\\Expand\\0000]\r\n\"ClassGUID\"=hex(2):" + [&] {
               std::string sHex;
               char sz[4];
               for (char c : s_sGuid) {
                   snprintf(sz, sizeof sz, "%02x,", static_cast<unsigned char>(c));
                   sHex += sz;
               }
               return sHex + "00";
           }() + "\r\n" +
           s_sEnum + "ROOT\\devA\\0003\\Device Parameters]\r\n\"Param\"=\"p\"\r\n" +
           s_sClass + "\\0000]\r\n\"InstallCLSID\"=\"{ABCDEF00-1111-2222-3333-444455556666}\"\r\n"
                      "\"Bin\"=hex:01,02,03\r\n@=\"dflt\"\r\n" +
           s_sClass + "\\0000\\DeviceData]\r\n\"MarelCLSID\"=\"x\"\r\n" + s_sClass + "\\0000\\DeviceData\\Sub]\r\n";
}

class SetupApiStandinTest : public ::testing::Test
{
protected:
    void SetUp() override { m_box.SetRegistry(DevicesReg()); }

    // SPDRP_DRIVER of every device of the set, in order, "-" where it cannot be read;
    // also checks that the walk ends with ERROR_NO_MORE_ITEMS.
    std::vector<std::string> Drivers(HDEVINFO hSet)
    {
        std::vector<std::string> drivers;
        SP_DEVINFO_DATA data = {sizeof(SP_DEVINFO_DATA), {}, 0, 0};
        DWORD i = 0;
        for (; SetupDiEnumDeviceInfo(hSet, i, &data); i++) {
            char sz[260];
            bool bOk = SetupDiGetDeviceRegistryPropertyA(hSet, &data, SPDRP_DRIVER, nullptr, reinterpret_cast<BYTE *>(sz),
                                                         sizeof sz, nullptr);
            drivers.push_back(bOk ? std::string(sz).substr(s_sGuid.size() + 1) : "-");
        }
        EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), GetLastError()) << "at index " << i;
        return drivers;
    }
    // The device at that index of a fresh set of the test class.
    HDEVINFO Device(DWORD dwIndex, SP_DEVINFO_DATA *pData)
    {
        HDEVINFO hSet = SetupDiGetClassDevsA(&s_guidTest, nullptr, nullptr, 0);
        pData->cbSize = sizeof(SP_DEVINFO_DATA);
        EXPECT_TRUE(SetupDiEnumDeviceInfo(hSet, dwIndex, pData));
        return hSet;
    }

    Sandbox m_box;
};

} // namespace

TEST_F(SetupApiStandinTest, ClassDevicesComeInKeyOrderAndTheWalkEndsWith259)
{
    HDEVINFO hSet = SetupDiGetClassDevsA(&s_guidTest, nullptr, nullptr, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, hSet);
    EXPECT_EQ((std::vector<std::string>{"-", "0003", "0000", "0001", "0000", "0007"}), Drivers(hSet));
    SP_DEVINFO_DATA data = {sizeof(SP_DEVINFO_DATA), {}, 0, 0};
    ASSERT_TRUE(SetupDiEnumDeviceInfo(hSet, 3, &data));
    EXPECT_EQ(0, memcmp(&s_guidTest, &data.ClassGuid, sizeof(GUID)));
    EXPECT_FALSE(SetupDiEnumDeviceInfo(hSet, 0xFFFFFFFF, &data));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), GetLastError());
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(hSet));

    HDEVINFO hUsb = SetupDiGetClassDevsA(&s_guidTest, "usb", nullptr, DIGCF_PRESENT);
    EXPECT_EQ((std::vector<std::string>{"0000"}), Drivers(hUsb));
    HDEVINFO hDevB = SetupDiGetClassDevsA(&s_guidTest, "ROOT\\DevB", nullptr, 0);
    EXPECT_EQ((std::vector<std::string>{"0000", "0001"}), Drivers(hDevB));
    HDEVINFO hAll = SetupDiGetClassDevsA(nullptr, "ROOT", nullptr, DIGCF_ALLCLASSES);
    EXPECT_EQ((std::vector<std::string>{"-", "0003", "0000", "0001", "0000"}), Drivers(hAll)) << "with ROOT\\Other";
    HDEVINFO hNone = SetupDiGetClassDevsA(&s_guidTest, "NOSUCH", nullptr, 0);
    EXPECT_TRUE(Drivers(hNone).empty());
    for (HDEVINFO h : {hUsb, hDevB, hAll, hNone}) EXPECT_TRUE(SetupDiDestroyDeviceInfoList(h));

    SetLastError(0);
    EXPECT_EQ(INVALID_HANDLE_VALUE, SetupDiGetClassDevsA(nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

TEST_F(SetupApiStandinTest, PropertiesReportSizesAndMissingValues)
{
    SP_DEVINFO_DATA data;
    HDEVINFO hSet = Device(2, &data);
    BYTE buf[100];
    DWORD dwType = 0, cbNeeded = 0;
    ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyA(hSet, &data, SPDRP_DRIVER, &dwType, buf, 44, &cbNeeded));
    EXPECT_EQ(s_sGuid + "\\0000", reinterpret_cast<char *>(buf));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), dwType);
    EXPECT_EQ(44u, cbNeeded) << "the text and its terminator";

    memset(buf, 0xCC, sizeof buf);
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(hSet, &data, SPDRP_DRIVER, nullptr, buf, 43, &cbNeeded));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_EQ(44u, cbNeeded);
    EXPECT_EQ(0xCC, buf[0]);
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(hSet, &data, SPDRP_DRIVER, nullptr, nullptr, 0, &cbNeeded));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(hSet, &data, SPDRP_DRIVER, nullptr, nullptr, 10, &cbNeeded));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), GetLastError());

    // The class GUID comes back in upper case even when the registry holds it in lower case.
    SP_DEVINFO_DATA lower;
    HDEVINFO hLower = Device(3, &lower);
    ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyA(hLower, &lower, SPDRP_CLASSGUID, nullptr, buf, sizeof buf, &cbNeeded));
    EXPECT_EQ(s_sGuid, reinterpret_cast<char *>(buf));

    SP_DEVINFO_DATA noDriver;
    HDEVINFO hNoDriver = Device(0, &noDriver);
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(hNoDriver, &noDriver, SPDRP_DRIVER, nullptr, buf, sizeof buf, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), GetLastError());
    for (HDEVINFO h : {hSet, hLower, hNoDriver}) SetupDiDestroyDeviceInfoList(h);
}

TEST_F(SetupApiStandinTest, DriverKeyOpensForReadingAndFailsWithoutDriver)
{
    SP_DEVINFO_DATA data;
    HDEVINFO hSet = Device(2, &data);
    SetLastError(1234);
    HKEY hDriver = SetupDiOpenDevRegKey(hSet, &data, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_QUERY_VALUE);
    ASSERT_NE(reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE), hDriver);
    EXPECT_EQ(0u, GetLastError());
    char sz[100];
    DWORD cb = sizeof sz;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(hDriver, "InstallCLSID", nullptr, nullptr, reinterpret_cast<BYTE *>(sz), &cb));
    EXPECT_STREQ("{ABCDEF00-1111-2222-3333-444455556666}", sz);

    // An empty subkey name hands back the same handle, which is then closed once.
    HKEY hSame = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyA(hDriver, "", &hSame));
    EXPECT_EQ(hDriver, hSame);
    HKEY hData = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyA(hDriver, "DeviceData", &hData));
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(hData, "MarelCLSID", nullptr, nullptr, nullptr, nullptr));
    char szName[10];
    EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyA(hData, 0, szName, sizeof szName));
    EXPECT_STREQ("Sub", szName);
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyA(hData, 1, szName, sizeof szName));
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyA(hData, 0, szName, 3)) << "room for the terminator too";
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyA(hDriver, "NoSuchKey", &hSame));
    EXPECT_EQ(nullptr, hSame);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(hData));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(hDriver));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(hDriver));

    // No Driver value, or a Driver naming a key that does not exist.
    SP_DEVINFO_DATA noDriver, noKey;
    HDEVINFO hNoDriver = Device(0, &noDriver), hNoKey = Device(1, &noKey);
    EXPECT_EQ(reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE),
              SetupDiOpenDevRegKey(hNoDriver, &noDriver, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_QUERY_VALUE));
    EXPECT_EQ(s_dwKeyDoesNotExist, GetLastError());
    EXPECT_EQ(reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE),
              SetupDiOpenDevRegKey(hNoKey, &noKey, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_QUERY_VALUE));
    EXPECT_EQ(s_dwKeyDoesNotExist, GetLastError());
    // DIREG_DEV: the instance's Device Parameters key.
    HKEY hDev = SetupDiOpenDevRegKey(hNoKey, &noKey, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    ASSERT_NE(reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE), hDev);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(hDev, "Param", nullptr, nullptr, nullptr, nullptr));
    RegCloseKey(hDev);
    for (HDEVINFO h : {hSet, hNoDriver, hNoKey}) SetupDiDestroyDeviceInfoList(h);
}

TEST_F(SetupApiStandinTest, ValueQueriesReportSizeAndLeaveShortBuffersAlone)
{
    HKEY hKey = nullptr;
    std::string sPath = "system\\CURRENTCONTROLSET\\control\\class\\" + s_sGuid + "\\0000";
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, sPath.c_str(), 0, KEY_READ, &hKey));
    BYTE buf[8];
    DWORD dwType = 99, cb = sizeof buf;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(hKey, "Bin", nullptr, nullptr, nullptr, nullptr)) << "exists: enough";
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(hKey, "Nope", nullptr, &dwType, nullptr, &cb));
    EXPECT_EQ(0u, cb);
    EXPECT_EQ(static_cast<DWORD>(REG_NONE), dwType);
    cb = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(hKey, "Bin", nullptr, &dwType, nullptr, &cb));
    EXPECT_EQ(3u, cb);
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), dwType);

    memset(buf, 0xCC, sizeof buf);
    cb = 2;
    EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExA(hKey, "Bin", nullptr, &dwType, buf, &cb));
    EXPECT_EQ(3u, cb);
    EXPECT_EQ(0xCC, buf[0]) << "a short buffer is left as it was, as Wine does";
    cb = 3;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(hKey, "bin", nullptr, nullptr, buf, &cb));
    EXPECT_EQ(0x03, buf[2]);
    EXPECT_EQ(0xCC, buf[3]);

    // The default value, by a null or an empty name.
    cb = sizeof buf;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(hKey, nullptr, nullptr, nullptr, buf, &cb));
    EXPECT_STREQ("dflt", reinterpret_cast<char *>(buf));
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(hKey, "", nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegQueryValueExA(hKey, "Bin", nullptr, nullptr, buf, nullptr));
    RegCloseKey(hKey);
}

TEST_F(SetupApiStandinTest, BadHandlesFailWithoutHarm)
{
    SP_DEVINFO_DATA data;
    HDEVINFO hSet = Device(2, &data);
    HDEVINFO hOther = SetupDiGetClassDevsA(&s_guidTest, nullptr, nullptr, 0);
    HDEVINFO hDestroyed = SetupDiGetClassDevsA(&s_guidTest, nullptr, nullptr, 0);
    ASSERT_TRUE(SetupDiDestroyDeviceInfoList(hDestroyed));
    BYTE buf[100];

    for (HDEVINFO hBad : {INVALID_HANDLE_VALUE, static_cast<HDEVINFO>(nullptr), hDestroyed, static_cast<HDEVINFO>(&data)}) {
        SP_DEVINFO_DATA probe = {sizeof(SP_DEVINFO_DATA), {}, 0, 0};
        SetLastError(0);
        EXPECT_FALSE(SetupDiEnumDeviceInfo(hBad, 0, &probe));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
        EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(hBad, &data, SPDRP_DRIVER, nullptr, buf, sizeof buf, nullptr));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
        EXPECT_EQ(reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE), SetupDiOpenDevRegKey(hBad, &data, DICS_FLAG_GLOBAL, 0, DIREG_DRV, 0));
        EXPECT_FALSE(SetupDiDestroyDeviceInfoList(hBad));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    }

    SP_DEVINFO_DATA wrongSize = {sizeof(SP_DEVINFO_DATA) + 4, {}, 0, 0};
    EXPECT_FALSE(SetupDiEnumDeviceInfo(hSet, 0, &wrongSize));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_USER_BUFFER), GetLastError());
    // A record from another set, or one never filled in, names no device of this set.
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(hOther, &data, SPDRP_DRIVER, nullptr, buf, sizeof buf, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    SP_DEVINFO_DATA blank = {sizeof(SP_DEVINFO_DATA), {}, 0, 0};
    EXPECT_EQ(reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE), SetupDiOpenDevRegKey(hSet, &blank, DICS_FLAG_GLOBAL, 0, DIREG_DRV, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());

    HKEY hBogus = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1234));
    HKEY hOut = nullptr;
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegOpenKeyExA(hBogus, "x", 0, KEY_READ, &hOut));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegQueryValueExA(hBogus, "x", nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegEnumKeyA(hBogus, 0, reinterpret_cast<char *>(buf), sizeof buf));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(hBogus));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_LOCAL_MACHINE));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegOpenKeyA(HKEY_LOCAL_MACHINE, "SYSTEM", nullptr));
    EXPECT_EQ(ERROR_MORE_DATA, RegOpenKeyExA(HKEY_LOCAL_MACHINE, std::string(261, 'x').c_str(), 0, KEY_READ, &hOut))
        << "the ANSI functions take at most 260 characters of path";
    EXPECT_EQ(s_lBadPathname, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "\\SYSTEM", 0, KEY_READ, &hOut));
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyA(HKEY_LOCAL_MACHINE, nullptr, &hOut));
    EXPECT_EQ(HKEY_LOCAL_MACHINE, hOut);
    for (HDEVINFO h : {hSet, hOther}) SetupDiDestroyDeviceInfoList(h);
}

TEST_F(SetupApiStandinTest, TakenSetsAndOpenKeysKeepTheRegistryTheyWereTakenFrom)
{
    SP_DEVINFO_DATA data;
    HDEVINFO hSet = Device(2, &data);
    HKEY hDriver = SetupDiOpenDevRegKey(hSet, &data, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_QUERY_VALUE);
    ASSERT_NE(reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE), hDriver);

    m_box.SetRegistry("REGEDIT4\r\n");
    EXPECT_EQ((std::vector<std::string>{"-", "0003", "0000", "0001", "0000", "0007"}), Drivers(hSet));
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(hDriver, "InstallCLSID", nullptr, nullptr, nullptr, nullptr));
    HDEVINFO hNew = SetupDiGetClassDevsA(&s_guidTest, nullptr, nullptr, 0);
    EXPECT_TRUE(Drivers(hNew).empty());
    HKEY hKey;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyA(HKEY_LOCAL_MACHINE, "SYSTEM", &hKey));

    // No file at all is an empty registry too.
    unlink((m_box.Root() + "/sysroot/registry.reg").c_str());
    ZulStandinRegistryReset();
    char szName[10];
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyA(HKEY_LOCAL_MACHINE, 0, szName, sizeof szName));
    RegCloseKey(hDriver);
    for (HDEVINFO h : {hSet, hNew}) SetupDiDestroyDeviceInfoList(h);
}
