// The driver-key probes over the stand-in's registry, read from a .reg file
// as Windows and Wine would import it.
#include "InstallLog.h"
#include "Sandbox.h"
#include "TestFacts.h"
#include "TwainDSInstaller.h"

#include <gtest/gtest.h>
#include <mbstring.h>

#include <string>

namespace {

class ProbeTest : public ::testing::Test
{
protected:
    // One device, instance 0000, whose driver key holds sDriverValues and whose
    // DeviceData subkey holds sSubkeyValues (REGEDIT4 value lines).
    void OneDevice(const std::string &sDriverValues, const std::string &sSubkeyValues)
    {
        m_box.SetRegistry("REGEDIT4\r\n\r\n" + ImagingDeviceReg("0000", sSubkeyValues.c_str(), sDriverValues.c_str()));
    }
    bool Matches(const char *pszId, const char *pszCheckKey, const char *pszCheckValue)
    {
        TwainDSInstaller installer(pszId, "zorb_", pszCheckKey, pszCheckValue, "params");
        char szInstance[5];
        EXPECT_TRUE(installer.NextInstance(szInstance, sizeof szInstance, false, nullptr));
        return installer.MatchesHardwareId(installer.m_pDevInfoData);
    }
    bool HasValue(const char *pszCheckKey, const char *pszName, bool bLog = false, InstallLog *pLog = nullptr)
    {
        TwainDSInstaller installer("zorb_", pszCheckKey, "InstallCLSID");
        char szInstance[5];
        EXPECT_TRUE(installer.NextInstance(szInstance, sizeof szInstance, false, nullptr));
        return installer.HasDriverValue(installer.m_pDevInfoData, pszName, bLog, pLog);
    }
    static std::string Hex(const std::string &s)
    {
        std::string sHex;
        char sz[4];
        for (unsigned char c : s) {
            snprintf(sz, sizeof sz, "%02x,", c);
            sHex += sz;
        }
        sHex.pop_back();
        return sHex;
    }
    Sandbox m_box;
};

} // namespace

TEST_F(ProbeTest, IdentifierIsFoundAnywhereInTheValueWithoutRegardToCase)
{
    OneDevice("", "\"InstallCLSID\"=\"{ABCDEF00-1111-2222-3333-444455556666}\"");
    EXPECT_TRUE(Matches("abcdef00", "DeviceData", "InstallCLSID"));
    EXPECT_TRUE(Matches("{ABCDEF00-1111-2222-3333-444455556666}", "DeviceData", "InstallCLSID"));
    EXPECT_TRUE(Matches("2222-3333", "DeviceData", "InstallCLSID"));
    EXPECT_FALSE(Matches("abcdef01", "DeviceData", "InstallCLSID"));
    EXPECT_TRUE(Matches("", "DeviceData", "InstallCLSID")) << "the empty identifier is in every text";
    EXPECT_FALSE(Matches("abcdef00", "DeviceData", "NoSuchValue"));
    EXPECT_FALSE(Matches("abcdef00", "NoSuchKey", "InstallCLSID"));

    OneDevice("", "\"InstallCLSID\"=\"lower case text\"");
    EXPECT_TRUE(Matches("LOWER CASE", "DeviceData", "InstallCLSID"));
}

TEST_F(ProbeTest, EmptyIdentifierDoesNotMatchAnEmptyValue)
{
    OneDevice("", "\"InstallCLSID\"=\"\"");
    EXPECT_FALSE(Matches("", "DeviceData", "InstallCLSID"));
}

TEST_F(ProbeTest, NullOrEmptyCheckKeyReadsTheDriverKeyItself)
{
    OneDevice("\"InstallCLSID\"=\"in driver key\"\r\n@=\"default text\"", "\"InstallCLSID\"=\"in subkey\"");
    EXPECT_TRUE(Matches("driver", nullptr, "InstallCLSID"));
    EXPECT_TRUE(Matches("driver", "", "InstallCLSID"));
    EXPECT_FALSE(Matches("driver", "DeviceData", "InstallCLSID"));
    EXPECT_TRUE(Matches("default", "", "")) << "the empty name is the unnamed value";
    EXPECT_TRUE(HasValue("", ""));
    EXPECT_FALSE(HasValue("DeviceData", "")) << "the subkey has no unnamed value";
}

TEST_F(ProbeTest, ValueOf260BytesIsSearchedAndOneOf261IsNot)
{
    std::string s259(255, 'a');
    s259 += "TAIL"; // 259 characters and the NUL: 260 bytes
    std::string s260(256, 'b');
    s260 += "TAIL";
    OneDevice("", "\"Fits\"=\"" + s259 + "\"\r\n\"TooLong\"=\"" + s260 +
                      "\"\r\n\"NoNul\"=hex:" + Hex(std::string(256, 'c') + "TAIL"));
    EXPECT_TRUE(Matches("tail", "DeviceData", "Fits"));
    EXPECT_FALSE(Matches("tail", "DeviceData", "TooLong"));
    EXPECT_TRUE(HasValue("DeviceData", "TooLong")) << "existence does not depend on size";
    EXPECT_TRUE(Matches("tail", "DeviceData", "NoNul")) << "260 bytes without a zero end where the data ends";
}

// In a double-byte code page the fold and the search take a lead byte's
// terminator for its trail byte: a lead byte left last must not send them past
// the 261-byte buffer or the identifier's own copy (the sanitizers watch both).
TEST_F(ProbeTest, LeadByteLeftLastInTheValueOrTheIdentifierIsDropped)
{
    OneDevice("", "\"Full\"=hex:" + Hex(std::string(259, 'A') + "\x81") + "\r\n\"Short\"=hex:" +
                      Hex(std::string("ID-\x81\0", 5)) + "\r\n\"Whole\"=hex:" + Hex(std::string("\x82\x60-ID\0", 6)));
    _setmbcp(932);
    bool bFull = Matches("aaa", "DeviceData", "Full");
    bool bTailOfFull = Matches("a\x81", "DeviceData", "Full");
    bool bShort = Matches("id-", "DeviceData", "Short");
    bool bIdWithLead = Matches("ID\x81", "DeviceData", "Short");
    bool bWhole = Matches("\x82\x60-id", "DeviceData", "Whole");
    _setmbcp(0);
    EXPECT_TRUE(bFull);
    EXPECT_TRUE(bTailOfFull) << "the identifier's lone lead byte goes too";
    EXPECT_TRUE(bShort);
    EXPECT_TRUE(bIdWithLead);
    EXPECT_TRUE(bWhole) << "whole double-byte characters stay";
}

TEST_F(ProbeTest, OnlyTheFirstStringOfAMultiStringIsSearched)
{
    OneDevice("", "\"Multi\"=hex(7):" + Hex(std::string("first\0second\0\0", 14)));
    EXPECT_TRUE(Matches("first", "DeviceData", "Multi"));
    EXPECT_FALSE(Matches("second", "DeviceData", "Multi"));
}

TEST_F(ProbeTest, HasDriverValueFindsAnyTypeAndLogsOnlyWhatExists)
{
    OneDevice("", "\"MarelCLSID\"=dword:00000000\r\n\"Empty\"=hex:");
    InstallLog *pLog = new InstallLog("_add_ds.log");
    EXPECT_TRUE(HasValue("DeviceData", "MarelCLSID", true, pLog));
    EXPECT_TRUE(HasValue("DeviceData", "Empty", true, pLog));
    EXPECT_FALSE(HasValue("DeviceData", "Missing", true, pLog));
    EXPECT_FALSE(HasValue("NoSuchKey", "MarelCLSID", true, pLog));
    EXPECT_TRUE(HasValue("DeviceData", "MarelCLSID", false, pLog));
    delete pLog;
    std::string sLog = Sandbox::ReadFile(m_box.TempDir() + "/_add_ds.log");
    const std::string sStart = std::string(s_szStartLog) + "\r\n";
    size_t first = sLog.find(sStart) + sStart.size();
    size_t end = sLog.find(s_szEndLog) - s_cchStampLine;
    EXPECT_EQ("MarelCLSID value name exists\r\nEmpty value name exists\r\n", sLog.substr(first, end - first));
}

TEST_F(ProbeTest, FoldingTheIdentifierLeavesTheCallersTextAlone)
{
    OneDevice("", "\"InstallCLSID\"=\"ABC\"");
    char szCommandLineCopy[] = "AbC";
    TwainDSInstaller installer(szCommandLineCopy, "zorb_", "DeviceData", "InstallCLSID", "params");
    char szInstance[5];
    ASSERT_TRUE(installer.NextInstance(szInstance, sizeof szInstance, false, nullptr));
    EXPECT_TRUE(installer.MatchesHardwareId(installer.m_pDevInfoData));
    EXPECT_STREQ("abc", installer.m_pszHardwareId);
    EXPECT_STREQ("AbC", szCommandLineCopy);
}

TEST_F(ProbeTest, DeviceWithoutDriverKeyMatchesNothing)
{
    m_box.SetRegistry(ImagingDevicesReg("0000:-|0001:\"InstallCLSID\"=\"x\""));
    TwainDSInstaller installer("", "zorb_", "DeviceData", "InstallCLSID", "params");
    char szInstance[5];
    ASSERT_TRUE(installer.m_enum.EnumImagingDevices(installer.m_pDevInfoData, false, nullptr));
    EXPECT_FALSE(installer.MatchesHardwareId(installer.m_pDevInfoData));
    EXPECT_FALSE(installer.HasDriverValue(installer.m_pDevInfoData, "InstallCLSID", false, nullptr));
    installer.m_enum.m_idx = 0;
    ASSERT_TRUE(installer.NextInstance(szInstance, sizeof szInstance, false, nullptr));
    EXPECT_STREQ("0001", szInstance) << "NextInstance passes the device without a driver over";
}
