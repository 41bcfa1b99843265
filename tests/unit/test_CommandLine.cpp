// The command front end: tokens, quotes, command words, parameters, defaults,
// the logging flag and the refusals, through a recording installer.
#include "CommandLine.h"
#include "RunContext.h"
#include "RecordingInstaller.h"

#include <gtest/gtest.h>
#include <mbstring.h>

#include <string>
#include <vector>

namespace {

struct Outcome {
    bool bAccepted;
    InstallerRecord record;
};

Outcome Parse(const std::string &sText)
{
    g_installerRecord = InstallerRecord();
    std::vector<char> text(sText.begin(), sText.end());
    text.push_back('\0');
    CommandLine commandLine;
    RunContext run;
    bool bAccepted = commandLine.ParseAndRun(text.data(), run);
    return {bAccepted, g_installerRecord};
}

void ExpectRefused(const std::string &sText)
{
    Outcome o = Parse(sText);
    EXPECT_FALSE(o.bAccepted) << sText;
    EXPECT_EQ(0, o.record.nBuilt) << "a refused command line builds no installer: " << sText;
}

} // namespace

TEST(CommandLine, CommandWordsAreTheirFirstTwoLettersInAnyCase)
{
    EXPECT_EQ(CommandLine::CMD_ADD_DS, CommandLine::LookupCommand("AddDS"));
    EXPECT_EQ(CommandLine::CMD_ADD_DS, CommandLine::LookupCommand("add"));
    EXPECT_EQ(CommandLine::CMD_ADD_DS, CommandLine::LookupCommand("ADX"));
    EXPECT_EQ(CommandLine::CMD_ADD_DS, CommandLine::LookupCommand("Ad"));
    EXPECT_EQ(CommandLine::CMD_REMOVE_DS, CommandLine::LookupCommand("rEmovals"));
    EXPECT_EQ(CommandLine::CMD_MADD_DS, CommandLine::LookupCommand("MA"));
    EXPECT_EQ(CommandLine::CMD_MREMOVE_DS, CommandLine::LookupCommand("mremoveds"));
    EXPECT_EQ(CommandLine::CMD_NONE, CommandLine::LookupCommand("A"));
    EXPECT_EQ(CommandLine::CMD_NONE, CommandLine::LookupCommand(""));
    EXPECT_EQ(CommandLine::CMD_NONE, CommandLine::LookupCommand("MX"));
    EXPECT_EQ(CommandLine::CMD_NONE, CommandLine::LookupCommand("/?"));
}

TEST(CommandLine, AddDSReadsFiveParametersAndAnOptionalLoggingFlag)
{
    ExpectRefused("AddDS id zorb_ DeviceData InstallCLSID");

    Outcome o = Parse("AddDS id zorb_ DeviceData InstallCLSID params");
    ASSERT_TRUE(o.bAccepted);
    EXPECT_EQ(5, o.record.nParams);
    EXPECT_EQ("id", o.record.sHardwareId);
    EXPECT_EQ("zorb_", o.record.sPrefix);
    EXPECT_EQ("DeviceData", o.record.sCheckKey);
    EXPECT_EQ("InstallCLSID", o.record.sCheckValue);
    EXPECT_EQ("params", o.record.sParamsKey);
    EXPECT_EQ("AddTwainDS", o.record.sProcedure);
    EXPECT_TRUE(o.record.bAdd);
    EXPECT_TRUE(o.record.bLog);
    EXPECT_EQ(1, o.record.nDestroyed) << "the installer lives only for the procedure";

    for (const char *pszOff : {"0", "00", "0x"})
        EXPECT_FALSE(Parse(std::string("AddDS a b c d e ") + pszOff).record.bLog) << pszOff;
    for (const char *pszOn : {"1", "yes", "10"})
        EXPECT_TRUE(Parse(std::string("AddDS a b c d e ") + pszOn).record.bLog) << pszOn;
    EXPECT_FALSE(Parse("AddDS a b c d e 0 1 2 garbage").record.bLog) << "tokens after the flag are ignored";
}

TEST(CommandLine, RemoveDSHasNoHardwareIdentifier)
{
    Outcome o = Parse("RemoveDS zorb_ DeviceData InstallCLSID params");
    ASSERT_TRUE(o.bAccepted);
    EXPECT_EQ(5, o.record.nParams);
    EXPECT_FALSE(o.record.bHardwareIdNull);
    EXPECT_EQ("", o.record.sHardwareId);
    EXPECT_EQ("zorb_", o.record.sPrefix);
    EXPECT_EQ("params", o.record.sParamsKey);
    EXPECT_FALSE(o.record.bAdd);
    EXPECT_TRUE(o.record.bLog);
    EXPECT_FALSE(Parse("RemoveDS zorb_ DeviceData InstallCLSID params 0").record.bLog);
    ExpectRefused("RemoveDS zorb_ DeviceData InstallCLSID");
}

TEST(CommandLine, MAddDSAndMRemoveDSSupplyDefaultsOnlyWithoutParameters)
{
    for (const char *pszWord : {"MAddDS", "MRemoveDS"}) {
        Outcome o = Parse(pszWord);
        ASSERT_TRUE(o.bAccepted) << pszWord;
        EXPECT_EQ(3, o.record.nParams);
        EXPECT_EQ("zorb_", o.record.sPrefix);
        EXPECT_EQ("DeviceData", o.record.sCheckKey);
        EXPECT_EQ("InstallCLSID", o.record.sCheckValue);
        EXPECT_TRUE(o.record.bParamsKeyNull);
        EXPECT_TRUE(o.record.bHardwareIdNull);
        EXPECT_EQ("MAddTwainDS", o.record.sProcedure);
        EXPECT_EQ(std::string(pszWord) == "MAddDS", o.record.bAdd);
        EXPECT_TRUE(o.record.bLog);
    }
    ExpectRefused("MAddDS pre_");
    ExpectRefused("MAddDS pre_ Key");
    ExpectRefused("MAddDS \"\" Key Value");
    ExpectRefused("MRemoveDS pre_ \"\" Value");

    Outcome o = Parse("MAddDS pre_ Key Value");
    ASSERT_TRUE(o.bAccepted);
    EXPECT_EQ("pre_", o.record.sPrefix);
    EXPECT_EQ("Key", o.record.sCheckKey);
    EXPECT_EQ("Value", o.record.sCheckValue);
    EXPECT_TRUE(o.record.bLog);
    EXPECT_FALSE(Parse("MAddDS pre_ Key Value 0").record.bLog);
}

TEST(CommandLine, QuotesGroupWordsJoinedByOneBlank)
{
    Outcome o = Parse("AddDS   \"my   id  here\"  zorb_ \"\" \"Install CLSID\" params");
    ASSERT_TRUE(o.bAccepted);
    EXPECT_EQ("my id here", o.record.sHardwareId);
    EXPECT_EQ("", o.record.sCheckKey) << "AddDS passes an empty parameter on";
    EXPECT_EQ("Install CLSID", o.record.sCheckValue);

    o = Parse("AddDS \" zorb_ key value params");
    ASSERT_TRUE(o.bAccepted);
    EXPECT_EQ("", o.record.sHardwareId) << "a lone quote is an empty parameter";
    EXPECT_EQ("zorb_", o.record.sPrefix);

    o = Parse("AddDS a\"b zorb_ key\" va\"l\"ue params");
    ASSERT_TRUE(o.bAccepted);
    EXPECT_EQ("a\"b", o.record.sHardwareId) << "only a leading quote opens a parameter";
    EXPECT_EQ("key\"", o.record.sCheckKey);
    EXPECT_EQ("va\"l\"ue", o.record.sCheckValue);

    o = Parse("AddDS id\tmore zorb_ key value params");
    ASSERT_TRUE(o.bAccepted);
    EXPECT_EQ("id\tmore", o.record.sHardwareId) << "a tab does not separate tokens";
}

TEST(CommandLine, UnclosedQuoteTakesTheRestOfTheLine)
{
    ExpectRefused("AddDS \"id zorb_ key value params");

    Outcome o = Parse("AddDS id zorb_ key value \"params  0  x");
    ASSERT_TRUE(o.bAccepted);
    EXPECT_EQ("params 0 x", o.record.sParamsKey);
    EXPECT_TRUE(o.record.bLog) << "no token is left for the logging flag";
}

TEST(CommandLine, NothingButBlanksOrAnUnknownWordIsRefused)
{
    ExpectRefused("");
    ExpectRefused("    ");
    ExpectRefused("/?");
    ExpectRefused("x zorb_ a b c");
}

TEST(CommandLine, ParameterOfMoreThan259BytesIsRefused)
{
    std::string s259(259, 'p');
    Outcome o = Parse("AddDS " + s259 + " zorb_ key value params");
    ASSERT_TRUE(o.bAccepted);
    EXPECT_EQ(s259, o.record.sHardwareId);

    ExpectRefused("AddDS " + std::string(260, 'p') + " zorb_ key value params");
    ExpectRefused("AddDS id zorb_ key value " + std::string(300, 'k'));
    ExpectRefused("AddDS id zorb_ key value params " + std::string(260, '0'));
    ExpectRefused("RemoveDS zorb_ key value " + std::string(260, 'k'));
    ExpectRefused(std::string(260, 'a'));
    // The joined parameter counts, blanks included.
    ExpectRefused("AddDS \"" + std::string(200, 'a') + " " + std::string(59, 'b') + "\" zorb_ k v p");
    o = Parse("AddDS \"" + std::string(200, 'a') + "    " + std::string(58, 'b') + "\" zorb_ k v p");
    ASSERT_TRUE(o.bAccepted);
    EXPECT_EQ(259u, o.record.sHardwareId.size());
    // An overlong prefix must not fall back to the defaults.
    ExpectRefused("MAddDS " + std::string(260, 'z'));
    ExpectRefused("MRemoveDS zorb_ DeviceData " + std::string(400, 'v'));
}

TEST(CommandLine, PrefixThatWouldLeaveTheTwainDirectoryOrNameADeviceIsRefused)
{
    for (const char *pszPrefix :
         {"..\\", "a/b", "C:", "\\\\server\\share\\",
          "x\\",                                                         // separators and drives
          ".", "..", "...",                                              // the TWAIN or the Windows directory
          "*", "zorb?", "a\"b", "<", "zo>rb", "|", "\x01zorb", "zo\trb", // no directory at all
          "NUL.", "nul", "CON", "prn.x", "AUX", "COM1.x", "lpt9 .x", "LPT9", "com5", "Nul  .txt",
          // superscript one to three, as the stand-in's code page has them
          "COM\xb9", "lpt\xb2.x", "Com\xb3 "}) {
        std::string s = pszPrefix;
        ExpectRefused("AddDS id " + s + " key value params");
        ExpectRefused("RemoveDS " + s + " key value params");
        ExpectRefused("MAddDS " + s + " key value");
        ExpectRefused("MRemoveDS " + s + " key value");
    }
    for (const char *pszPrefix :
         {"zorb.", "..zorb_", "NUL_", "COM", "COM10", "LPT0", "CONx", "a.NUL", "zorb_", "COM\xbc", "LPT\xb9\xb9"}) {
        EXPECT_TRUE(Parse(std::string("MRemoveDS ") + pszPrefix + " key value").bAccepted) << pszPrefix;
        EXPECT_TRUE(Parse(std::string("AddDS id ") + pszPrefix + " key value params").bAccepted) << pszPrefix;
    }
    EXPECT_TRUE(Parse("MAddDS \"NUL x\" key value").bAccepted) << "a blank inside the stem is part of it";
    Outcome o = Parse("AddDS id \"\" key value params");
    ASSERT_TRUE(o.bAccepted) << "AddDS keeps its empty prefix";
    EXPECT_EQ("", o.record.sPrefix);
}

TEST(CommandLine, DoubleByteCharactersInThePrefixAndAtTheEndOfTheText)
{
    _setmbcp(932);
    // 0x95 0x5C and 0x95 0x7C are characters of code page 932: their trail
    // bytes are neither a backslash nor a bar.
    Outcome o = Parse("MAddDS \x95\x5C_ key value");
    Outcome oBar = Parse("MAddDS \x95\x7C_ key value");
    // 0x81 with '?' after it is no character: Windows would read the '?'.
    Outcome oInvalid = Parse("MAddDS \x81?_ key value");
    // A prefix ending in a lead byte would join the instance's first byte.
    Outcome oLone = Parse("MAddDS \"zorb\x81\" key value");
    // A fourth character the code page cannot read (the stand-in's reads no
    // double-byte one) may be a digit: COM and it may name a device.
    Outcome oUnread = Parse("MAddDS COM\x95\x5C key value");
    // A lead byte at the very end of the text is dropped before the tokenizer sees it.
    Outcome oEnd = Parse("AddDS id zorb_ key value params\x81");
    Outcome oEndFlag = Parse("MAddDS zorb_ key value 0\x81");
    _setmbcp(0);
    EXPECT_TRUE(o.bAccepted);
    EXPECT_EQ("\x95\x5C_", o.record.sPrefix);
    EXPECT_TRUE(oBar.bAccepted);
    EXPECT_FALSE(oInvalid.bAccepted);
    EXPECT_FALSE(oLone.bAccepted);
    EXPECT_FALSE(oUnread.bAccepted);
    ASSERT_TRUE(oEnd.bAccepted);
    EXPECT_EQ("params", oEnd.record.sParamsKey);
    ASSERT_TRUE(oEndFlag.bAccepted);
    EXPECT_FALSE(oEndFlag.record.bLog);
}
