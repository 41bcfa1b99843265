// The walk over the imaging devices, with the platform's device list replaced
// through link seams so that any index can fail with any error.
#include "ImagingDeviceEnumerator.h"
#include "InstallLog.h"
#include "Sandbox.h"
#include "Seams.h"
#include "TestFacts.h"

#include <gtest/gtest.h>
#include <mbstring.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct FakeDevices {
    bool bSetTaken = true;
    int cDevices = 0;                     // indices 0..cDevices-1 hold devices
    std::map<int, DWORD> failures;        // index -> error of a failing index
    DWORD dwFailAllWith = 0;              // nonzero: every index fails with it
    std::map<DWORD, std::string> drivers; // DevInst -> driver key name; missing: the read fails
    int cEnumCalls = 0;
    int cDestroyed = 0;
};

FakeDevices g_fake;
HDEVINFO const s_hSet = reinterpret_cast<HDEVINFO>(0x5E7);

} // namespace

extern "C" HDEVINFO __wrap_SetupDiGetClassDevsA(const GUID *, LPCSTR, HWND, DWORD)
{
    return g_fake.bSetTaken ? s_hSet : INVALID_HANDLE_VALUE;
}

extern "C" BOOL __wrap_SetupDiEnumDeviceInfo(HDEVINFO hSet, DWORD idx, PSP_DEVINFO_DATA pData)
{
    g_fake.cEnumCalls++;
    EXPECT_EQ(s_hSet, hSet);
    EXPECT_EQ(sizeof(SP_DEVINFO_DATA), pData->cbSize);
    int i = static_cast<int>(idx);
    if (g_fake.dwFailAllWith) {
        SetLastError(g_fake.dwFailAllWith);
        return FALSE;
    }
    auto it = g_fake.failures.find(i);
    if (it != g_fake.failures.end()) {
        SetLastError(it->second);
        return FALSE;
    }
    if (i >= g_fake.cDevices) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    pData->DevInst = idx;
    return TRUE;
}

extern "C" BOOL __wrap_SetupDiGetDeviceRegistryPropertyA(HDEVINFO, PSP_DEVINFO_DATA pData, DWORD dwProperty, LPDWORD,
                                                         LPBYTE pBuffer, DWORD cbBuffer, LPDWORD)
{
    EXPECT_EQ(static_cast<DWORD>(SPDRP_DRIVER), dwProperty);
    EXPECT_EQ(260u, cbBuffer);
    memset(pBuffer, '#', cbBuffer); // garbage, as after a failed read
    auto it = g_fake.drivers.find(pData->DevInst);
    if (it == g_fake.drivers.end() || it->second.size() + 1 > cbBuffer) {
        SetLastError(it == g_fake.drivers.end() ? ERROR_INVALID_DATA : ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(pBuffer, it->second.c_str(), it->second.size() + 1);
    return TRUE;
}

extern "C" BOOL __wrap_SetupDiDestroyDeviceInfoList(HDEVINFO)
{
    g_fake.cDestroyed++;
    return TRUE;
}

namespace {

class EnumeratorTest : public ::testing::Test
{
protected:
    void SetUp() override { g_fake = FakeDevices(); }

    // The log's lines between "Start Log" and the closing stamp.
    std::vector<std::string> LogLines()
    {
        delete m_pLog;
        m_pLog = nullptr;
        std::istringstream in(Sandbox::ReadFile(m_box.TempDir() + "/_add_ds.log"));
        std::vector<std::string> lines;
        std::string s;
        while (std::getline(in, s))
            lines.push_back(s.substr(0, s.size() - 1));
        return std::vector<std::string>(lines.begin() + 2, lines.end() - 3);
    }
    InstallLog *Log()
    {
        if (!m_pLog)
            m_pLog = new InstallLog("_add_ds.log");
        return m_pLog;
    }
    void TearDown() override { delete m_pLog; }

    Sandbox m_box;
    InstallLog *m_pLog = nullptr;
    SP_DEVINFO_DATA m_data = {sizeof(SP_DEVINFO_DATA), {}, 0, 0};
};

} // namespace

TEST_F(EnumeratorTest, NoDevicesEndsTheWalkAtOnce)
{
    ImagingDeviceEnumerator e;
    EXPECT_FALSE(e.EnumImagingDevices(&m_data, true, Log()));
    EXPECT_EQ(0, e.m_idx);
    EXPECT_EQ((std::vector<std::string>{EnumLine(0, 0), EnumEndLine(0)}), LogLines());
}

TEST_F(EnumeratorTest, TwoDevicesThenTheEndThenANewWalk)
{
    g_fake.cDevices = 2;
    {
        ImagingDeviceEnumerator e;
        EXPECT_TRUE(e.EnumImagingDevices(&m_data, true, Log()));
        EXPECT_EQ(0u, m_data.DevInst);
        EXPECT_TRUE(e.EnumImagingDevices(&m_data, true, Log()));
        EXPECT_EQ(1u, m_data.DevInst);
        EXPECT_FALSE(e.EnumImagingDevices(&m_data, true, Log()));
        EXPECT_EQ(0, e.m_idx);
        EXPECT_TRUE(e.EnumImagingDevices(&m_data, false, nullptr));
        EXPECT_EQ(0u, m_data.DevInst) << "the walk starts again at the first device";
    }
    EXPECT_EQ(1, g_fake.cDestroyed);
    EXPECT_EQ((std::vector<std::string>{EnumLine(1, 0), EnumLine(1, 1), EnumLine(0, 2), EnumEndLine(2)}), LogLines());
}

TEST_F(EnumeratorTest, FailingIndexBetweenDevicesIsSkippedWithinOneCall)
{
    g_fake.cDevices = 3;
    g_fake.failures[1] = ERROR_INVALID_DATA;
    ImagingDeviceEnumerator e;
    EXPECT_TRUE(e.EnumImagingDevices(&m_data, true, Log()));
    EXPECT_TRUE(e.EnumImagingDevices(&m_data, true, Log()));
    EXPECT_EQ(2u, m_data.DevInst);
    EXPECT_EQ((std::vector<std::string>{EnumLine(1, 0), EnumLine(0, 1), EnumErrorLine(13), EnumLine(1, 2)}),
              LogLines());
}

TEST_F(EnumeratorTest, FailuresEndTheWalkPastIndex1000)
{
    g_fake.dwFailAllWith = ERROR_INVALID_DATA;
    ImagingDeviceEnumerator e;
    EXPECT_FALSE(e.EnumImagingDevices(&m_data, true, Log()));
    EXPECT_EQ(1002, g_fake.cEnumCalls) << "indices 0 to 1001";
    EXPECT_EQ(0, e.m_idx);
    std::vector<std::string> lines = LogLines();
    ASSERT_EQ(2u * 1001 + 2, lines.size());
    EXPECT_EQ(EnumLine(0, 1000), lines[2000]);
    EXPECT_EQ(EnumErrorLine(13), lines[2001]);
    EXPECT_EQ(EnumLine(0, 1001), lines[2002]);
    EXPECT_EQ(EnumEndLine(1001), lines[2003]);

    // A device beyond the limit is still delivered when its index succeeds.
    g_fake = FakeDevices();
    g_fake.cDevices = 1500;
    for (int i = 0; i < 1400; i++)
        g_fake.failures[i] = ERROR_INVALID_DATA;
    ImagingDeviceEnumerator e2;
    e2.m_idx = 1400;
    EXPECT_TRUE(e2.EnumImagingDevices(&m_data, false, nullptr));
    EXPECT_EQ(1400u, m_data.DevInst);
}

TEST_F(EnumeratorTest, SetNotTakenGivesAnEmptyWalkWithoutLogLines)
{
    g_fake.bSetTaken = false;
    {
        ImagingDeviceEnumerator e;
        EXPECT_FALSE(e.EnumImagingDevices(&m_data, true, Log()));
        EXPECT_EQ(0, g_fake.cEnumCalls);
    }
    EXPECT_EQ(0, g_fake.cDestroyed) << "an invalid set is not released";
    EXPECT_TRUE(LogLines().empty());
}

TEST_F(EnumeratorTest, DriverInstanceIsTheTextAfterTheLastBackslash)
{
    g_fake.drivers[0] = std::string(s_szImagingClass) + "\\0003";
    g_fake.drivers[1] = "no backslash";
    g_fake.drivers[2] = "{GUID}\\00001";
    g_fake.drivers[4] = "a\\b\\";
    ImagingDeviceEnumerator e;
    char szInstance[5];

    m_data.DevInst = 0;
    EXPECT_TRUE(e.GetDriverInstance(&m_data, szInstance, sizeof szInstance, true, Log()));
    EXPECT_STREQ("0003", szInstance);

    m_data.DevInst = 1;
    EXPECT_FALSE(e.GetDriverInstance(&m_data, szInstance, sizeof szInstance, true, Log()));
    EXPECT_STREQ("", szInstance);

    m_data.DevInst = 2;
    EXPECT_FALSE(e.GetDriverInstance(&m_data, szInstance, sizeof szInstance, true, Log()))
        << "a suffix that does not fit is never cut";
    EXPECT_STREQ("", szInstance);
    char szWide[260];
    EXPECT_TRUE(e.GetDriverInstance(&m_data, szWide, sizeof szWide, false, nullptr));
    EXPECT_STREQ("00001", szWide);

    m_data.DevInst = 3; // the read fails
    EXPECT_FALSE(e.GetDriverInstance(&m_data, szInstance, sizeof szInstance, true, Log()));

    m_data.DevInst = 4;
    EXPECT_TRUE(e.GetDriverInstance(&m_data, szInstance, sizeof szInstance, false, nullptr));
    EXPECT_STREQ("", szInstance);
    EXPECT_FALSE(e.m_bIncomplete);

    // A name ending in a lead byte without its trail byte: the backslash search
    // would walk past it (at 259 bytes, past the buffer), and what it names
    // cannot be told, so the device counts as unreadable.
    g_fake.drivers[5] = "{GUID}\\000\x81";
    g_fake.drivers[6] = "{GUID}\\" + std::string(251, '0') + "\x81";
    _setmbcp(932);
    for (DWORD dwDevice : {5u, 6u}) {
        m_data.DevInst = dwDevice;
        e.m_bIncomplete = false;
        bool bFound = e.GetDriverInstance(&m_data, szWide, sizeof szWide, false, nullptr);
        EXPECT_FALSE(bFound) << dwDevice;
        EXPECT_TRUE(e.m_bIncomplete) << dwDevice;
    }
    _setmbcp(0);

    EXPECT_EQ((std::vector<std::string>{"SetupDiGetDeviceRegistryProperty returned 1, producing " +
                                            std::string(s_szImagingClass) + "\\0003",
                                        "SetupDiGetDeviceRegistryProperty returned 1, producing no backslash",
                                        "SetupDiGetDeviceRegistryProperty returned 1, producing {GUID}\\00001",
                                        "SetupDiGetDeviceRegistryProperty returned 0, producing "}),
              LogLines());
}
