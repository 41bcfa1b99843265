// The installer object: the TWAIN directory, its construction, and the search
// over the TWAIN directory that the sweep walks.
#include "Sandbox.h"
#include "TwainDSInstaller.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

// Link seam: a Windows directory of the test's choosing.
static const char *s_pszWindowsDir = nullptr;
extern "C" UINT __real_GetWindowsDirectoryA(LPSTR, UINT);
extern "C" UINT __wrap_GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize)
{
    if (!s_pszWindowsDir)
        return __real_GetWindowsDirectoryA(lpBuffer, uSize);
    UINT cch = static_cast<UINT>(strlen(s_pszWindowsDir));
    if (cch == 0)
        return 0;
    if (cch + 1 > uSize)
        return cch + 1;
    memcpy(lpBuffer, s_pszWindowsDir, cch + 1);
    return cch;
}

namespace {

class InstallerTest : public ::testing::Test
{
protected:
    void TearDown() override { s_pszWindowsDir = nullptr; }
    std::set<std::string> Sweep(TwainDSInstaller &installer)
    {
        std::set<std::string> found;
        char szInstance[5];
        while (installer.NextTwainDir(szInstance, sizeof szInstance))
            found.insert(szInstance);
        return found;
    }
    Sandbox m_box;
};

} // namespace

TEST_F(InstallerTest, TwainDirectoryIsBelowTheWindowsDirectory)
{
    s_pszWindowsDir = "C:\\WINDOWS";
    TwainDSInstaller a("zorb_", "DeviceData", "InstallCLSID");
    EXPECT_STREQ("C:\\WINDOWS\\twain_32", TwainDSInstaller::m_szTwainDir);
    TwainDSInstaller b("zorb_", "DeviceData", "InstallCLSID");
    EXPECT_STREQ("C:\\WINDOWS\\twain_32", TwainDSInstaller::m_szTwainDir) << "recomputed, not appended twice";

    s_pszWindowsDir = "C:\\";
    TwainDSInstaller c("zorb_", "DeviceData", "InstallCLSID");
    EXPECT_STREQ("C:\\twain_32", TwainDSInstaller::m_szTwainDir);

    s_pszWindowsDir = "";
    TwainDSInstaller d("zorb_", "DeviceData", "InstallCLSID");
    EXPECT_STREQ("", TwainDSInstaller::m_szTwainDir);
    EXPECT_FALSE(TwainDSInstaller::m_bTwainDirTooLong);

    // 251 bytes fit the buffer, but not with "\twain_32".
    std::string sLong = "C:\\" + std::string(248, 'w');
    s_pszWindowsDir = sLong.c_str();
    TwainDSInstaller e("zorb_", "DeviceData", "InstallCLSID");
    EXPECT_STREQ("", TwainDSInstaller::m_szTwainDir);
    EXPECT_TRUE(TwainDSInstaller::m_bTwainDirTooLong);

    std::string sTooLong = "C:\\" + std::string(300, 'w');
    s_pszWindowsDir = sTooLong.c_str();
    TwainDSInstaller f("zorb_", "DeviceData", "InstallCLSID");
    EXPECT_TRUE(TwainDSInstaller::m_bTwainDirTooLong);
}

TEST_F(InstallerTest, NewInstallerHoldsItsParametersAndNoSearch)
{
    char szId[] = "HW-ID";
    TwainDSInstaller five(szId, "p_", "key", "value", "params");
    EXPECT_STREQ("HW-ID", five.m_pszHardwareId);
    EXPECT_NE(szId, five.m_pszHardwareId) << "the identifier is copied";
    EXPECT_STREQ("params", five.m_pszParamsKey);
    EXPECT_EQ(-1, five.m_hFind);
    EXPECT_FALSE(five.m_bFindDone);
    EXPECT_EQ(sizeof(SP_DEVINFO_DATA), five.m_pDevInfoData->cbSize);
#if defined(__i386__)
    EXPECT_EQ(28u, five.m_pDevInfoData->cbSize);
#endif

    TwainDSInstaller noId(nullptr, "p_", "key", "value", "params");
    EXPECT_EQ(nullptr, noId.m_pszHardwareId);

    TwainDSInstaller three("p_", "key", "value");
    EXPECT_EQ(nullptr, three.m_pszHardwareId);
    EXPECT_EQ(nullptr, three.m_pszParamsKey);
}

TEST_F(InstallerTest, NextTwainDirHandsOutEachEntryOfThePrefixThenStartsAgain)
{
    Sandbox::MakeDir(m_box.TwainDir() + "/zorb_0000");
    Sandbox::MakeDir(m_box.TwainDir() + "/ZORB_0001");
    Sandbox::WriteFile(m_box.TwainDir() + "/zorb_0002", "a file counts too");
    Sandbox::WriteFile(m_box.TwainDir() + "/qrvgnds2.tmp", "template");
    Sandbox::MakeDir(m_box.TwainDir() + "/other_0003");
    TwainDSInstaller installer("zorb_", "DeviceData", "InstallCLSID");

    EXPECT_EQ((std::set<std::string>{"0000", "0001", "0002"}), Sweep(installer));
    EXPECT_EQ(-1, installer.m_hFind);
    EXPECT_FALSE(installer.m_bFindDone);

    // The next search sees the entries that exist then.
    Sandbox::MakeDir(m_box.TwainDir() + "/zorb_0004");
    EXPECT_EQ((std::set<std::string>{"0000", "0001", "0002", "0004"}), Sweep(installer));
}

TEST_F(InstallerTest, NextTwainDirPassesOverSuffixesThatDoNotFit)
{
    Sandbox::MakeDir(m_box.TwainDir() + "/zorb_00001");
    Sandbox::MakeDir(m_box.TwainDir() + "/zorb_0001");
    Sandbox::MakeDir(m_box.TwainDir() + "/zorb_");
    Sandbox::MakeDir(m_box.TwainDir() + "/zorb_12345678");
    TwainDSInstaller installer("zorb_", "DeviceData", "InstallCLSID");
    EXPECT_EQ((std::set<std::string>{"", "0001"}), Sweep(installer))
        << "a cut suffix would name another instance";

    // Only entries that do not fit: the search still ends cleanly.
    TwainDSInstaller none("zorb_1", "DeviceData", "InstallCLSID");
    char szInstance[5];
    EXPECT_FALSE(none.NextTwainDir(szInstance, sizeof szInstance));
    EXPECT_EQ(-1, none.m_hFind);
}

TEST_F(InstallerTest, NextTwainDirFindsNothingWithoutTheDirectory)
{
    TwainDSInstaller installer("zorb_", "DeviceData", "InstallCLSID");
    char szInstance[5];
    EXPECT_FALSE(installer.NextTwainDir(szInstance, sizeof szInstance));
    EXPECT_EQ(-1, installer.m_hFind);
}
