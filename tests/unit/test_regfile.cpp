// The stand-in's reader of the registry files the tests write: what it reads, and that anything
// else stops it with the line named, so that the registry functions fail instead of answering
// from a registry the test did not mean. (What the registry then answers is the conformance
// test's part, where Wine judges it.)
#include "Sandbox.h"
#include "regfile.h"

#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <string>

namespace {

const char s_szKey[] = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\T]\r\n";

// "type:hex bytes" of a value of HKLM\SYSTEM\T, "missing", or "line N: why" when the text is refused.
std::string Read(const std::string &sText, const char *pszName = "v")
{
    ZulRegKey machine;
    int nLine = 0;
    std::string sError;
    if (!ZulStandinReadRegText(sText, &machine, &nLine, &sError))
        return "line " + std::to_string(nLine) + ": " + sError;
    const ZulRegKey *pKey = nullptr;
    const ZulRegValue *pValue =
        ZulStandinWalkKey(&machine, "system\\t", &pKey) == ERROR_SUCCESS ? pKey->FindValue(pszName) : nullptr;
    if (!pValue)
        return "missing";
    std::string s = std::to_string(pValue->dwType) + ":";
    char sz[4];
    for (BYTE b : pValue->data) {
        snprintf(sz, sizeof sz, "%02x", b);
        s += sz;
    }
    return s;
}

std::string Value(const std::string &sLine, const char *pszName = "v")
{
    return Read(s_szKey + sLine + "\r\n", pszName);
}

} // namespace

TEST(RegFile, ReadsEachFormTheTestsWrite)
{
    EXPECT_EQ("1:61225c6200", Value("\"v\"=\"a\\\"\\\\b\""));
    EXPECT_EQ("1:00", Value("\"v\"=\"\""));
    EXPECT_EQ("1:6400", Value("@=\"d\"", ""));
    EXPECT_EQ("1:7800", Value("\"n \\\"q\\\"\"=\"x\"", "N \"Q\"")) << "names match without regard to case";
    EXPECT_EQ("4:02010000", Value("\"v\"=dword:00000102"));
    EXPECT_EQ("3:0102ff", Value("\"v\"=hex:01,02,ff"));
    EXPECT_EQ("3:", Value("\"v\"=hex:"));
    EXPECT_EQ("7:610000", Value("\"v\"=hex(7):61,00,00")) << "bytes as written, no terminator added";
    EXPECT_EQ("256:01", Value("\"v\"=hex(100):01")) << "the type in hex";
    // Unix line ends, comments, blank lines; a later line of the same key adds to it.
    EXPECT_EQ("1:3200", Read("REGEDIT4\n; c\n[HKEY_LOCAL_MACHINE\\SYSTEM\\T]\n\"v\"=\"1\"\n\n"
                             "[HKEY_LOCAL_MACHINE\\system\\t]\n\"V\"=\"2\"\n"));
    EXPECT_EQ("missing", Read("REGEDIT4\n"));
}

TEST(RegFile, RefusesAnythingElseNamingTheLine)
{
    const std::pair<const char *, const char *> rgBad[] = {
        {"\"v\"=\"a\\nb\"", "line 4: value data"}, // an escape regedit knows, the tests never write
        {"\"v\"=\"open", "line 4: value data"},
        {"\"v\"=\"x\" ; note", "line 4: value data"},
        {"\"v\" = \"x\"", "line 4: a value name without"},
        {"\"v\"=dword:102", "line 4: value data"},
        {"\"v\"=dword:0000010g", "line 4: value data"},
        {"\"v\"=hex:1,2", "line 4: value data"},
        {"\"v\"=hex:01,", "line 4: value data"},
        {"\"v\"=hex:01,\\", "line 4: value data"},
        {"\"v\"=hex(x):01", "line 4: value data"},
        {"\"v\"=-", "line 4: value data"},
        {"[-HKEY_LOCAL_MACHINE\\SYSTEM\\T]", "line 4: neither"},
        {"[HKEY_CURRENT_USER\\Software]", "line 4: neither"},
        {"[HKEY_LOCAL_MACHINE\\SYSTEM\\T\\]", "line 4: an empty"},
        {"[HKEY_LOCAL_MACHINE\\SYSTEM\\\\T]", "line 4: an empty"},
        {"[HKEY_LOCAL_MACHINE\\]", "line 4: a key is"},
        {"[HKEY_LOCAL_MACHINE\\SYSTEM\\T] ", "line 4: a key is"},
        {" \"v\"=\"x\"", "line 4: neither"},
    };
    for (const auto &bad : rgBad) {
        std::string sGot = Value(bad.first);
        EXPECT_EQ(0u, sGot.find(bad.second)) << bad.first << " gave " << sGot;
    }
    EXPECT_EQ(0u, Read("REGEDIT4\r\n\"v\"=\"x\"\r\n").find("line 2: a value before the first key"));
    EXPECT_EQ(0u, Read(std::string(s_szKey) + "[HKEY_LOCAL_MACHINE\\" + std::string(257, 'k') + "]\r\n")
                      .find("line 4: an empty or over-long key name"));
    EXPECT_EQ(0u, Read(std::string("REGEDIT4\n\"v\"=\"a\0b\"\n", 18)).find("line 2: a zero byte"));
    for (const char *pszHeader :
         {"", "Windows Registry Editor Version 5.00\n", "\xEF\xBB\xBFREGEDIT4\n", " REGEDIT4\n", "\xFF\xFER\0E\0"}) {
        EXPECT_EQ("line 1: the first line is REGEDIT4", Read(pszHeader)) << pszHeader;
    }
}

// A refused file is said on stderr with its line, and the registry then fails every open.
TEST(RegFile, ARefusedFileFailsTheRegistryVisibly)
{
    Sandbox box;
    box.SetRegistry(std::string(s_szKey) + "\"v\"=\"x\"\r\n\"w\"=\"y\" junk\r\n");
    testing::internal::CaptureStderr();
    HKEY hKey = nullptr;
    EXPECT_EQ(ERROR_BADDB, RegOpenKeyA(HKEY_LOCAL_MACHINE, "SYSTEM", &hKey));
    std::string sErr = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, sErr.find("/sysroot/registry.reg:5: registry file refused: value data")) << sErr;

    SetLastError(0);
    EXPECT_EQ(INVALID_HANDLE_VALUE, SetupDiGetClassDevsA(&s_guidImagingClass, nullptr, nullptr, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BADDB), GetLastError());

    box.SetRegistry(s_szKey);
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\T", &hKey));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(hKey));
}
