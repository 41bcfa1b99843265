// The installer object: the TWAIN directory, its construction, and the search
// over the TWAIN directory that the sweep walks.
#include "FileHelpers.h"
#include "InstallLog.h"
#include "Sandbox.h"
#include "Seams.h"
#include "TwainDSInstaller.h"
#include "standin.h"

#include <gtest/gtest.h>
#include <mbstring.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

// Link seam: a Windows directory of the test's choosing.
static const char *s_pszWindowsDir = nullptr;
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
    // One run of the marker command; the TWAIN directory it worked in.
    static std::string RunMarked(bool bAdd, bool bLog, RunContext *pRun = nullptr)
    {
        TwainDSInstaller installer("zorb_", "DeviceData", "InstallCLSID", pRun);
        installer.MAddTwainDS(bAdd, bLog);
        return installer.m_szTwainDir;
    }
    Sandbox m_box;
};

} // namespace

TEST_F(InstallerTest, TwainDirectoryIsBelowTheWindowsDirectory)
{
    char szTwainDir[260];
    bool bTooLong = true;
    s_pszWindowsDir = "C:\\WINDOWS";
    EXPECT_TRUE(WindowsPath(szTwainDir, &bTooLong, "twain_32"));
    EXPECT_STREQ("C:\\WINDOWS\\twain_32", szTwainDir);
    RunContext run64;
    run64.pszTwainName = "twain_64";
    TwainDSInstaller b("zorb_", "DeviceData", "InstallCLSID", &run64);
    EXPECT_STREQ("C:\\WINDOWS\\twain_64", b.m_szTwainDir) << "the run's directory";

    // A root, none, and two too long: 251 bytes fit the buffer, but not with "\twain_32".
    const struct {
        std::string sWindows;
        const char *pszTwain;
        bool bTooLong;
    } rgRow[] = {{"C:\\", "C:\\twain_32", false},
                 {"", "", false},
                 {"C:\\" + std::string(248, 'w'), "", true},
                 {"C:\\" + std::string(300, 'w'), "", true}};
    for (const auto &row : rgRow) {
        s_pszWindowsDir = row.sWindows.c_str();
        TwainDSInstaller installer("zorb_", "DeviceData", "InstallCLSID");
        EXPECT_STREQ(row.pszTwain, installer.m_szTwainDir) << row.sWindows;
        EXPECT_EQ(row.bTooLong, installer.m_bTwainDirTooLong) << row.sWindows;
    }
}

TEST_F(InstallerTest, NewInstallerHoldsItsParametersAndNoSearch)
{
    char szId[] = "HW-ID";
    TwainDSInstaller five(szId, "p_", "key", "value", "params");
    EXPECT_STREQ("HW-ID", five.m_pszHardwareId);
    EXPECT_NE(szId, five.m_pszHardwareId) << "the identifier is copied";
    EXPECT_STREQ("params", five.m_pszParamsKey);
    EXPECT_FALSE(five.m_listing.IsOpen());
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
    Sandbox::WriteFile(m_box.TwainDir() + "/zorb_0002", "a file is no instance");
    Sandbox::WriteFile(m_box.TwainDir() + "/qrvgnds2.tmp", "template");
    Sandbox::MakeDir(m_box.TwainDir() + "/other_0003");
    TwainDSInstaller installer("zorb_", "DeviceData", "InstallCLSID");

    EXPECT_EQ((std::set<std::string>{"0000", "0001"}), Sweep(installer));
    EXPECT_FALSE(installer.m_listing.IsOpen());

    // The next search sees the entries that exist then.
    Sandbox::MakeDir(m_box.TwainDir() + "/zorb_0004");
    EXPECT_EQ((std::set<std::string>{"0000", "0001", "0004"}), Sweep(installer));
}

TEST_F(InstallerTest, NextTwainDirPassesOverSuffixesThatDoNotFitOrNameAnotherEntry)
{
    Sandbox::MakeDir(m_box.TwainDir() + "/zorb_00001");
    Sandbox::MakeDir(m_box.TwainDir() + "/zorb_0001");
    Sandbox::MakeDir(m_box.TwainDir() + "/zorb_");
    Sandbox::MakeDir(m_box.TwainDir() + "/zorb_12345678");
    // Names Windows reads as others (trailing dots and blanks go, "." and ".."
    // collapse) or as no name at all.
    for (const char *pszSuffix :
         {"..", ".", "000.", "00 ", "0:1", "0*", "0?", "0\"", "0<", "0>", "0|", "0\\1", "0\x01", "0\t"})
        Sandbox::MakeDir(m_box.TwainDir() + "/zorb_" + pszSuffix);
    // Links: the work would be done where they lead.
    Sandbox::MakeDir(m_box.Root() + "/elsewhere");
    Sandbox::WriteFile(m_box.Root() + "/elsewhere.txt", "x");
    ASSERT_EQ(0, symlink((m_box.Root() + "/elsewhere").c_str(), (m_box.TwainDir() + "/zorb_0002").c_str()));
    ASSERT_EQ(0, symlink((m_box.Root() + "/elsewhere.txt").c_str(), (m_box.TwainDir() + "/zorb_0003").c_str()));
    TwainDSInstaller installer("zorb_", "DeviceData", "InstallCLSID");
    EXPECT_EQ((std::set<std::string>{"", "0001"}), Sweep(installer)) << "a cut suffix would name another instance";

    // Neither "." nor ".." is ever handed out, whatever the prefix; a device
    // name is none either.
    TwainDSInstaller noPrefix("", "DeviceData", "InstallCLSID");
    std::set<std::string> found = Sweep(noPrefix);
    EXPECT_EQ(0u, found.count(".")) << "\".\" handed out";
    EXPECT_EQ(0u, found.count("..")) << "\"..\" handed out";
    Sandbox::MakeDir(m_box.TwainDir() + "/COM1");
    Sandbox::MakeDir(m_box.TwainDir() + "/COM10");
    TwainDSInstaller com("COM", "DeviceData", "InstallCLSID");
    EXPECT_EQ((std::set<std::string>{"10"}), Sweep(com));
    // The empty instance of a prefix ending in a dot: Windows would drop it.
    Sandbox::MakeDir(m_box.TwainDir() + "/dot.");
    Sandbox::MakeDir(m_box.TwainDir() + "/dot.0000");
    TwainDSInstaller dot("dot.", "DeviceData", "InstallCLSID");
    EXPECT_EQ((std::set<std::string>{"0000"}), Sweep(dot));

    // A double-byte suffix is an instance like any other.
    _setmbcp(932);
    Sandbox::MakeDir(m_box.TwainDir() + "/dbcs_0\x95\x5C"
                                        "1");
    TwainDSInstaller dbcs("dbcs_", "DeviceData", "InstallCLSID");
    found = Sweep(dbcs);
    _setmbcp(0);
    EXPECT_EQ((std::set<std::string>{"0\x95\x5C"
                                     "1"}),
              found);

    // Only entries that do not fit: the search still ends cleanly.
    TwainDSInstaller none("zorb_1", "DeviceData", "InstallCLSID");
    char szInstance[5];
    EXPECT_FALSE(none.NextTwainDir(szInstance, sizeof szInstance));
    EXPECT_FALSE(none.m_listing.IsOpen());
}

TEST_F(InstallerTest, NextTwainDirFindsNothingWithoutTheDirectory)
{
    TwainDSInstaller installer("zorb_", "DeviceData", "InstallCLSID");
    char szInstance[5];
    EXPECT_FALSE(installer.NextTwainDir(szInstance, sizeof szInstance));
    EXPECT_FALSE(installer.m_listing.IsOpen());
}

namespace {

// Imaging devices 0000, 0001, ... whose driver key names end in the suffixes
// given ("-": a name without a backslash).
std::string DevicesWithDriverSuffixes(const std::vector<std::string> &suffixes)
{
    std::string sReg = "REGEDIT4\r\n\r\n";
    for (size_t i = 0; i < suffixes.size(); i++) {
        char szKey[8];
        snprintf(szKey, sizeof szKey, "%04u", static_cast<unsigned>(i));
        std::string sDriver = suffixes[i] == "-" ? "nobackslash" : s_szImagingClass + ("\\" + suffixes[i]);
        sReg += ImagingDeviceReg(szKey, nullptr, nullptr, sDriver.c_str());
    }
    return sReg;
}

} // namespace

TEST_F(InstallerTest, DeviceWhoseInstanceNamesAnotherEntryCountsAsUnreadable)
{
    struct Case {
        std::vector<std::string> suffixes;
        bool bKeepsEveryEntry;
    };
    const Case rgCases[] = {
        {{"0001"}, false},       {{"0001", "-"}, false}, // a name without a backslash protects nothing
        {{"0001", ".."}, true},  {{"000.", "0001"}, true},  {{"0001", "00 "}, true},
        {{"0001", "0:1"}, true}, {{"0001", "a\\.."}, true},
    };
    for (const Case &c : rgCases) {
        m_box.SetRegistry(DevicesWithDriverSuffixes(c.suffixes));
        TwainDSInstaller installer("zorb_", "DeviceData", "InstallCLSID");
        std::vector<std::string> handedOut;
        char szInstance[260];
        while (installer.NextInstance(szInstance, sizeof szInstance, false, nullptr))
            handedOut.push_back(szInstance);
        EXPECT_EQ(std::vector<std::string>{"0001"}, handedOut) << c.suffixes.back();
        EXPECT_EQ(c.bKeepsEveryEntry, installer.m_enum.m_bIncomplete) << c.suffixes.back();
        EXPECT_TRUE(installer.InstanceExists("0001", false, nullptr));
        EXPECT_EQ(c.bKeepsEveryEntry, installer.InstanceExists("0000", false, nullptr)) << c.suffixes.back();
    }

    // With the empty prefix of AddDS and RemoveDS, the empty suffix would name
    // the TWAIN directory itself, and NUL a device.
    m_box.SetRegistry(DevicesWithDriverSuffixes({"", "NUL", "0001"}));
    TwainDSInstaller installer(nullptr, "", "DeviceData", "InstallCLSID", "params");
    char szInstance[5];
    ASSERT_TRUE(installer.NextInstance(szInstance, sizeof szInstance, false, nullptr));
    EXPECT_STREQ("0001", szInstance);
    EXPECT_FALSE(installer.NextInstance(szInstance, sizeof szInstance, false, nullptr));
}

TEST_F(InstallerTest, LinksInTheTwainDirectoryArePassedOver)
{
    m_box.SetRegistry(ImagingDevicesReg("0000:\"MarelCLSID\"=\"x\";\"InstallCLSID\"=\"{ABCDEF00}\""));
    Sandbox::WriteFile(m_box.Root() + "/elsewhere/zorb_0000/zorb_0000", "victim");
    Sandbox::WriteFile(m_box.Root() + "/elsewhere/zorb_0000/zorb_0000.ds", "victim ds");
    Sandbox::WriteFile(m_box.Root() + "/elsewhere/qrvgnds2.tmp", "template");

    // The instance's directory is a link: no command works through it.
    Sandbox::WriteFile(m_box.TwainDir() + "/qrvgnds2.tmp", "template");
    ASSERT_EQ(0, symlink((m_box.Root() + "/elsewhere/zorb_0000").c_str(), (m_box.TwainDir() + "/zorb_0000").c_str()));
    {
        char szId[] = "abcdef00";
        TwainDSInstaller add(szId, "zorb_", "DeviceData", "InstallCLSID", "params");
        add.AddTwainDS(true, true);
        TwainDSInstaller remove("", "zorb_", "DeviceData", "InstallCLSID", "params");
        remove.AddTwainDS(false, false);
        TwainDSInstaller madd("zorb_", "DeviceData", "InstallCLSID");
        madd.MAddTwainDS(true, false);
        m_box.SetRegistry("REGEDIT4\r\n"); // no device: MRemoveDS would remove the instance
        TwainDSInstaller mremove("zorb_", "DeviceData", "InstallCLSID");
        mremove.MAddTwainDS(false, false);
    }
    EXPECT_EQ("victim", Sandbox::ReadFile(m_box.Root() + "/elsewhere/zorb_0000/zorb_0000"));
    EXPECT_EQ("victim ds", Sandbox::ReadFile(m_box.Root() + "/elsewhere/zorb_0000/zorb_0000.ds"));
    std::string sLog = Sandbox::ReadFile(m_box.TempDir() + "/_add_ds.log");
    EXPECT_NE(std::string::npos, sLog.find("\r\nReparse point, instance 0000 skipped\r\n")) << sLog;
    EXPECT_EQ(std::string::npos, sLog.find("Existing File:")) << sLog;

    // The TWAIN directory itself is a link: nothing is done below it.
    unlink((m_box.TwainDir() + "/zorb_0000").c_str());
    unlink((m_box.TwainDir() + "/qrvgnds2.tmp").c_str());
    rmdir(m_box.TwainDir().c_str());
    ASSERT_EQ(0, symlink((m_box.Root() + "/elsewhere").c_str(), m_box.TwainDir().c_str()));
    m_box.SetRegistry(ImagingDevicesReg("0000:\"MarelCLSID\"=\"x\";\"InstallCLSID\"=\"{ABCDEF00}\""));
    {
        TwainDSInstaller madd("zorb_", "DeviceData", "InstallCLSID");
        madd.MAddTwainDS(true, true);
        TwainDSInstaller remove("", "zorb_", "DeviceData", "InstallCLSID", "params");
        remove.AddTwainDS(false, false);
    }
    EXPECT_EQ("victim", Sandbox::ReadFile(m_box.Root() + "/elsewhere/zorb_0000/zorb_0000"));
    EXPECT_EQ("victim ds", Sandbox::ReadFile(m_box.Root() + "/elsewhere/zorb_0000/zorb_0000.ds"));
    sLog = Sandbox::ReadFile(m_box.TempDir() + "/_add_ds.log");
    std::string sLine = "\r\nReparse point at " + std::string(TwainDSInstaller("zorb_", "", "").m_szTwainDir) +
                        ", no data source changed\r\n";
    EXPECT_NE(std::string::npos, sLog.find(sLine)) << sLog;
    EXPECT_EQ(std::string::npos, sLog.find("SetupDiEnumDeviceInfo", sLog.find(sLine))) << sLog;
}

TEST_F(InstallerTest, EveryMarkedDeviceGetsTheWholeTemplate)
{
    // Longer than one copy block, with every byte value: each copy starts
    // from the template's first byte, whatever the one before read.
    std::string sTemplate;
    for (size_t i = 0; i < 150000; i++)
        sTemplate += static_cast<char>((i * 7 + i / 256) & 0xFF);
    Sandbox::WriteFile(m_box.TwainDir() + "/qrvgnds2.tmp", sTemplate);
    Sandbox::WriteFile(m_box.TwainDir() + "/zorb_0001/zorb_0001.ds", "an older, longer data source " + sTemplate);
    const std::string sMarked = ":\"MarelCLSID\"=\"x\";\"InstallCLSID\"=\"{ABCDEF00}\"";
    m_box.SetRegistry(ImagingDevicesReg("0000" + sMarked + "|0001" + sMarked + "|0002" + sMarked));
    RunMarked(true, false);
    for (const char *pszInstance : {"0000", "0001", "0002"}) {
        std::string sDs = m_box.TwainDir() + "/zorb_" + pszInstance + "/zorb_" + pszInstance + ".ds";
        EXPECT_TRUE(Sandbox::ReadFile(sDs) == sTemplate) << sDs << " differs from the template";
    }
}

namespace {

// The installer's form's observer: the failed steps it heard of, each answered "go on".
std::vector<std::string> g_failed;
StepAnswer OnFailed(void *, bool bAdd, const char *pszPath, DWORD dwError)
{
    g_failed.push_back(std::string(bAdd ? "add " : "remove ") + pszPath + " " + std::to_string(dwError));
    return STEP_GO_ON;
}
bool OnDone(void *, const char *)
{
    return true;
}

} // namespace

TEST_F(InstallerTest, ATwainDirectoryThatCannotBeWorkedInFailsTheInstallersAdding)
{
    const StepObserver observer = {nullptr, OnDone, OnFailed};
    RunContext run;
    run.pObserver = &observer;
    m_box.SetRegistry(ImagingDevicesReg("0000:\"MarelCLSID\"=\"x\";\"InstallCLSID\"=\"{ABCDEF00}\""));
    Sandbox::MakeDir(m_box.Root() + "/elsewhere");
    rmdir(m_box.TwainDir().c_str());
    ASSERT_EQ(0, symlink((m_box.Root() + "/elsewhere").c_str(), m_box.TwainDir().c_str()));
    g_failed.clear();
    std::string sTwainDir = RunMarked(true, false, &run);
    RunMarked(false, false, &run);
    EXPECT_EQ(std::vector<std::string>{"add " + sTwainDir + " 5"}, g_failed) << "removing fails nothing";
}

TEST_F(InstallerTest, ASweepOfATwainDirectoryAnotherProcessHoldsSaysSo)
{
    Sandbox::MakeDir(m_box.TwainDir() + "/zorb_0000");
    m_box.SetRegistry("REGEDIT4\r\n");
    const NTSTATUS statusSharingViolation = static_cast<NTSTATUS>(0xC0000043u);
    ZulStandinHoldOplock(m_box.TwainDir().c_str(), statusSharingViolation);
    std::string sTwainDir = RunMarked(false, true);
    ZulStandinHoldOplock(nullptr, 0);
    EXPECT_TRUE(Sandbox::Exists(m_box.TwainDir() + "/zorb_0000"));
    std::string sLog = Sandbox::ReadFile(m_box.TempDir() + "/_remove_ds.log");
    EXPECT_NE(std::string::npos,
              sLog.find("\r\nHeld by another process: " + sTwainDir + ", no data source changed\r\n"))
        << sLog;
}

TEST_F(InstallerTest, TheSweepReachesEveryEntryOfAListingLongerThanOneRead)
{
    // More entries than one read of the listing holds, removed while it runs.
    for (int i = 1000; i < 1150; i++) {
        std::string sName = "zorb_" + std::to_string(i);
        Sandbox::WriteFile(m_box.TwainDir() + "/" + sName + "/" + sName + ".ds", "ds");
    }
    m_box.SetRegistry("REGEDIT4\r\n");
    RunMarked(false, false);
    EXPECT_FALSE(Sandbox::Exists(m_box.TwainDir() + "/zorb_1000"));
    EXPECT_FALSE(Sandbox::Exists(m_box.TwainDir() + "/zorb_1149"));
}
