// The stand-in's REGEDIT4 reader and registry tree. Expected results are what Wine 8.0's
// `regedit /S` leaves in the registry for the same text.
#include "regfile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ZulStandin;

namespace {

const char s_szKey[] = "[HKEY_LOCAL_MACHINE\\SYSTEM\\T]\n";

class RegFileTest : public ::testing::Test
{
protected:
    bool Import(const std::string &sText) { return ImportRegText(sText, m_tree); }
    // Imports value lines into HKLM\SYSTEM\T.
    bool ImportValues(const std::string &sLines) { return Import(std::string("REGEDIT4\n") + s_szKey + sLines); }

    const RegKey *Key(const std::string &sPath) const
    {
        const RegKey *pKey = nullptr;
        WalkPath(&m_tree.m_roots[ROOT_LOCAL_MACHINE], sPath, &pKey);
        return pKey;
    }
    // "type:hex bytes" of a value of HKLM\SYSTEM\T (or of sKey), or "missing".
    std::string Value(const std::string &sName, const std::string &sKey = "SYSTEM\\T") const
    {
        const RegKey *pKey = Key(sKey);
        const RegValue *pValue = pKey ? pKey->FindValue(sName) : nullptr;
        if (!pValue) return "missing";
        std::string s = std::to_string(pValue->dwType) + ":";
        char sz[4];
        for (unsigned char c : pValue->data) {
            snprintf(sz, sizeof sz, "%02x", c);
            s += sz;
        }
        return s;
    }
    std::vector<std::string> Subkeys(const std::string &sPath) const
    {
        std::vector<std::string> names;
        for (const auto &entry : Key(sPath)->m_subkeys) names.push_back(entry.first);
        return names;
    }

    RegTree m_tree;
};

} // namespace

TEST_F(RegFileTest, OnlyAnExactHeaderLineLetsTheTextIn)
{
    EXPECT_TRUE(Import("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\A]\r\n"));
    EXPECT_TRUE(Import("Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\SYSTEM\\B]\n"));
    EXPECT_TRUE(Import(" \tREGEDIT4\n[HKEY_LOCAL_MACHINE\\SYSTEM\\C]\n"));
    for (const char *pszBad : {"REGEDIT4 \n", "regedit4\n", "\nREGEDIT4\n", "\xEF\xBB\xBFREGEDIT4\n", "REGEDIT\n", ""}) {
        RegTree tree;
        EXPECT_FALSE(ImportRegText(std::string(pszBad) + "[HKEY_LOCAL_MACHINE\\SYSTEM\\X]\n", tree)) << pszBad;
        EXPECT_TRUE(tree.m_roots[ROOT_LOCAL_MACHINE].m_subkeys.empty()) << pszBad;
    }
    EXPECT_NE(nullptr, Key("SYSTEM\\A"));
    EXPECT_NE(nullptr, Key("SYSTEM\\B"));
    EXPECT_NE(nullptr, Key("SYSTEM\\C"));
}

TEST_F(RegFileTest, EachDataFormGivesItsTypeAndBytes)
{
    ImportValues("\"sz\"=\"abc\"\n"
                 "@=\"default\"\n"
                 "\"dw\"=dword:0000002a\n"
                 "\"bin\"=hex:01,02,ff\n"
                 "\"empty\"=hex:\n"
                 "\"expand\"=hex(2):41,42\n"
                 "\"multi\"=hex(7):61,00,62,00,00\n"
                 "\"any\"=hex(100):01\n"
                 "\"none\"=hex():01\n"
                 "\"sztext\"=hex(1):41\n"
                 "\"emptyexpand\"=hex(2):\n");
    EXPECT_EQ("1:61626300", Value("sz"));
    EXPECT_EQ("1:64656661756c7400", Value(""));
    EXPECT_EQ("4:2a000000", Value("dw"));
    EXPECT_EQ("3:0102ff", Value("bin"));
    EXPECT_EQ("3:", Value("empty"));
    EXPECT_EQ("2:414200", Value("expand")) << "text given in hex gets its terminator";
    EXPECT_EQ("7:6100620000", Value("multi"));
    EXPECT_EQ("256:01", Value("any"));
    EXPECT_EQ("0:01", Value("none"));
    EXPECT_EQ("1:4100", Value("sztext"));
    EXPECT_EQ("2:", Value("emptyexpand"));
}

TEST_F(RegFileTest, QuotedTextKnowsItsEscapesAndRefusesTrailingJunk)
{
    ImportValues("\"s1\"=\"a\\\\b\\\"c\"\n"
                 "\"s2\"=\"x\\ny\\rz\"\n"
                 "\"s3\"=\"bad\\q\"\n"
                 "\"s4\"=\"a\\0b\"\n"
                 "\"s5\"=\"unterminated\n"
                 "\"s6\"=\"ok\" junk\n"
                 "\"s7\"=\"ok\" ; comment\n"
                 "\"s8\"=\"trail\\\"\n"
                 "  \"s9\"  =  \"spaced\"  \n"
                 "\"na\\\"me\"=\"1\"\n"
                 "\"s10\"=\"semi;colon\"\n");
    EXPECT_EQ("1:615c62226300", Value("s1"));
    EXPECT_EQ("1:780a790d7a00", Value("s2"));
    EXPECT_EQ("1:6261647100", Value("s3")) << "an unknown escape stands for its character";
    EXPECT_EQ("missing", Value("s4"));
    EXPECT_EQ("missing", Value("s5"));
    EXPECT_EQ("missing", Value("s6"));
    EXPECT_EQ("1:6f6b00", Value("s7"));
    EXPECT_EQ("missing", Value("s8"));
    EXPECT_EQ("1:73706163656400", Value("s9"));
    EXPECT_EQ("1:3100", Value("na\"me"));
    EXPECT_EQ("1:73656d693b636f6c6f6e00", Value("s10"));
}

TEST_F(RegFileTest, DwordTakesUpToEightHexDigits)
{
    ImportValues("\"d1\"=dword:2a\n"
                 "\"d2\"=dword:  FFFFFFFF  \n"
                 "\"d3\"=dword:00000001;c\n"
                 "\"d4\"=dword:;c\n"
                 "\"d5\"=dword:123456789\n"
                 "\"d6\"=dword:0x12\n"
                 "\"d7\"=DWORD:1\n"
                 "\"d8\"=dword:\n"
                 "\"d9\"=dword:12 x\n");
    EXPECT_EQ("4:2a000000", Value("d1"));
    EXPECT_EQ("4:ffffffff", Value("d2"));
    EXPECT_EQ("4:01000000", Value("d3"));
    EXPECT_EQ("4:00000000", Value("d4"));
    for (const char *pszName : {"d5", "d6", "d7", "d8", "d9"}) EXPECT_EQ("missing", Value(pszName)) << pszName;
}

TEST_F(RegFileTest, HexBytesAreReadAsTheRuntimeReadsNumbers)
{
    ImportValues("\"h1\"=hex: 01, 2,+41,-0,0x7f,\n"
                 "\"h2\"=hex:100\n"
                 "\"h3\"=hex:01 ,02\n"
                 "\"h4\"=hex:01,,02\n"
                 "\"h5\"=hex:01,02 ; comment\n"
                 "\"h6\"=hex(0x2):41\n"
                 "\"h7\"=hex(FFFFFFFF):01\n"
                 "\"h8\"=hex(100000000):01\n");
    EXPECT_EQ("3:010241007f", Value("h1"));
    EXPECT_EQ("missing", Value("h2"));
    EXPECT_EQ("missing", Value("h3"));
    EXPECT_EQ("missing", Value("h4"));
    EXPECT_EQ("3:0102", Value("h5"));
    EXPECT_EQ("missing", Value("h6"));
    EXPECT_EQ("4294967295:01", Value("h7"));
    EXPECT_EQ("missing", Value("h8"));
}

TEST_F(RegFileTest, HexListsContinueOverLines)
{
    ImportValues("\"c1\"=hex:01,\\\n"
                 "    02,03\n"
                 "\"c2\"=hex:01,\\ ; comment\n"
                 "\n"
                 "; comment line\n"
                 "  02\n"
                 "\"c3\"=hex:01,02\\\n"
                 "  03\n"
                 "\"c4\"=hex:01,\\\n"
                 "\"swallowed\"=\"1\"\n"
                 "\"c5\"=hex:01,\\\n"
                 "  zz\n"
                 "\"after\"=\"1\"\n"
                 "\"c6\"=hex(2):41,\\\n"
                 "  42,\\\n");
    EXPECT_EQ("3:010203", Value("c1"));
    EXPECT_EQ("3:0102", Value("c2"));
    EXPECT_EQ("missing", Value("c3")) << "the backslash must stand where a byte would";
    EXPECT_EQ("missing", Value("c4"));
    EXPECT_EQ("missing", Value("swallowed")) << "the line that breaks a continuation is lost";
    EXPECT_EQ("missing", Value("c5"));
    EXPECT_EQ("1:3100", Value("after"));
    EXPECT_EQ("2:414200", Value("c6")) << "the end of the text ends the list";
}

TEST_F(RegFileTest, DeletionsRemoveValuesAndWholeKeys)
{
    Import("REGEDIT4\n"
           "[HKEY_LOCAL_MACHINE\\SYSTEM\\T]\n"
           "\"keep\"=\"1\"\n\"del\"=\"1\"\n\"del2\"=\"1\"\n\"del3\"=\"1\"\n"
           "\"del\"=-\n\"DEL2\" = - \n\"del3\"=- junk\n\"nosuch\"=-\n"
           "[HKEY_LOCAL_MACHINE\\SYSTEM\\Gone\\Sub\\Deeper]\n"
           "[HKEY_LOCAL_MACHINE\\SYSTEM\\Gone2]\n"
           "[-HKEY_LOCAL_MACHINE\\SYSTEM\\gone]\n"
           "[-hkey_local_machine\\system\\gone2\\]\n"
           "[HKEY_LOCAL_MACHINE\\SYSTEM\\T]\n"
           "[-HKEY_LOCAL_MACHINE\\SYSTEM\\NoSuchKey]\n"
           "\"dropped\"=\"1\"\n");
    EXPECT_EQ("1:3100", Value("keep"));
    EXPECT_EQ("missing", Value("del"));
    EXPECT_EQ("missing", Value("del2"));
    EXPECT_EQ("1:3100", Value("del3"));
    EXPECT_EQ("missing", Value("dropped")) << "a deletion line leaves no key current";
    EXPECT_EQ(nullptr, Key("SYSTEM\\Gone"));
    EXPECT_EQ(nullptr, Key("SYSTEM\\Gone2"));
    EXPECT_EQ((std::vector<std::string>{"T"}), Subkeys("SYSTEM"));
}

TEST_F(RegFileTest, DeletingAnUnknownRootOrARootStopsTheImport)
{
    EXPECT_FALSE(Import("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SYSTEM\\A]\n[-HKEY_BOGUS\\x]\n[HKEY_LOCAL_MACHINE\\SYSTEM\\B]\n"));
    EXPECT_FALSE(Import("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SYSTEM\\C]\n[-HKEY_LOCAL_MACHINE]\n[HKEY_LOCAL_MACHINE\\SYSTEM\\D]\n"));
    EXPECT_TRUE(Import("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SYSTEM\\E]\n[- HKEY_LOCAL_MACHINE\\SYSTEM\\E]\n[-]\n"));
    EXPECT_EQ((std::vector<std::string>{"A", "C", "E"}), Subkeys("SYSTEM"));
}

TEST_F(RegFileTest, NamesMatchWithoutRegardToCaseAndKeepTheirFirstSpelling)
{
    Import("REGEDIT4\n"
           "[HKEY_LOCAL_MACHINE\\SYSTEM\\Mixed]\n\"Val\"=\"1\"\n"
           "[hkey_local_machine\\system\\MIXED]\n\"VAL\"=\"2\"\n"
           "[HKEY_LOCAL_MACHINE\\SYSTEM\\mixed\\Sub]\n");
    EXPECT_EQ((std::vector<std::string>{"Mixed"}), Subkeys("SYSTEM"));
    const RegKey *pKey = Key("system\\MIXED");
    ASSERT_NE(nullptr, pKey);
    ASSERT_EQ(1u, pKey->m_values.size());
    EXPECT_EQ("Val", pKey->m_values.begin()->first);
    EXPECT_EQ("1:3200", Value("vAL", "SYSTEM\\Mixed"));
    EXPECT_NE(nullptr, Key("SYSTEM\\MIXED\\SUB"));
}

TEST_F(RegFileTest, SubkeysAreOrderedWithLetterCaseFoldedToLower)
{
    std::string sText = "REGEDIT4\n";
    for (const char *pszName : {"b", "A", "_x", "a1", "[z", "Z", "`q", "ab", "{x", "0", " ", "a b"}) {
        sText += std::string("[HKEY_LOCAL_MACHINE\\SYSTEM\\Order\\") + pszName + "]\n";
    }
    Import(sText);
    // As Wine orders them: '[', '_' and '`' come before the letters.
    EXPECT_EQ((std::vector<std::string>{" ", "0", "[z", "_x", "`q", "A", "a b", "a1", "ab", "b", "Z", "{x"}),
              Subkeys("SYSTEM\\Order"));
}

TEST_F(RegFileTest, KeyLinesCreateParentsAndMalformedOnesAreSkipped)
{
    Import("REGEDIT4\n"
           "[HKEY_LOCAL_MACHINE\\SYSTEM\\K\\A\\B]\n\"b\"=\"1\"\n"
           "[ HKEY_LOCAL_MACHINE\\SYSTEM\\K\\Spaced]\n\"toB\"=\"1\"\n"
           "[HKEY_LOCAL_MACHINE\\SYSTEM\\K\\NoClose\n\"toB2\"=\"1\"\n"
           "[HKEY_LOCAL_MACHINE\\SYSTEM\\K\\Br]x]junk\n"
           "[HKEY_BOGUS\\K]\n\"dropped\"=\"1\"\n"
           "[HKEY_LOCAL_MACHINE\\SYSTEM\\K\\Trail\\]\n"
           "[HKEY_LOCAL_MACHINE\\SYSTEM\\K\\Dbl\\\\X]\n"
           "[HKEY_LOCAL_MACHINE\\\\SYSTEM\\K\\LeadBs]\n\"dropped2\"=\"1\"\n"
           "[HKEY_LOCAL_MACHINE\\SYSTEM\\K\\L257\\" + std::string(257, 'x') + "]\n\"dropped3\"=\"1\"\n"
           "[HKEY_LOCAL_MACHINE\\SYSTEM\\K\\L256\\" + std::string(256, 'y') + "]\n"
           "[HKEY_CLASSES_ROOT\\Cls]\n\"c\"=\"1\"\n"
           "[HKEY_LOCAL_MACHINE]\n\"root\"=\"1\"\n"
           "garbage line\n= \"x\"\n@x=\"1\"\n");
    EXPECT_EQ((std::vector<std::string>{"A", "Br]x", "Dbl", "L256", "L257", "Trail"}), Subkeys("SYSTEM\\K"));
    EXPECT_EQ("1:3100", Value("toB", "SYSTEM\\K\\A\\B")) << "a skipped key line leaves the key before current";
    EXPECT_EQ("1:3100", Value("toB2", "SYSTEM\\K\\A\\B"));
    EXPECT_NE(nullptr, Key("SYSTEM\\K\\Dbl\\X"));
    EXPECT_TRUE(Key("SYSTEM\\K\\L257")->m_subkeys.empty());
    EXPECT_EQ(1u, Key("SYSTEM\\K\\L256")->m_subkeys.size());
    EXPECT_EQ("1:3100", Value("c", "Software\\Classes\\Cls"));
    EXPECT_EQ("1:3100", Value("root", ""));
    EXPECT_EQ(2u, Key("")->m_subkeys.size()) << "only SYSTEM and Software";
}

TEST_F(RegFileTest, WalkingAPathSkipsRunsOfBackslashesButNotALeadingOne)
{
    Import("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SYSTEM\\A\\B]\n");
    const RegKey *pRoot = &m_tree.m_roots[ROOT_LOCAL_MACHINE];
    const RegKey *pKey = nullptr;
    EXPECT_EQ(WALK_OK, WalkPath(pRoot, "", &pKey));
    EXPECT_EQ(pRoot, pKey);
    EXPECT_EQ(WALK_OK, WalkPath(pRoot, "system\\\\a\\\\\\b\\\\", &pKey));
    EXPECT_EQ(Key("SYSTEM\\A\\B"), pKey);
    EXPECT_EQ(WALK_BAD_PATH, WalkPath(pRoot, "\\SYSTEM", &pKey));
    EXPECT_EQ(WALK_NOT_FOUND, WalkPath(pRoot, "SYSTEM\\A\\..\\A", &pKey));
    EXPECT_EQ(nullptr, pKey);
    EXPECT_EQ(WALK_NAME_TOO_LONG, WalkPath(pRoot, std::string(257, 'x'), &pKey));
}

TEST_F(RegFileTest, Utf16TextIsReadAndHexTextComesBackOneBytePerCharacter)
{
    std::string sUtf8 = "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\T]\r\n"
                        "\"x\"=\"\xE9" "1\"\r\n\"h2\"=hex(2):41,00,42,00\r\n\"hb\"=hex:41,00\r\n\"wide\"=\"?\"\r\n";
    std::string sUtf16 = "\xFF\xFE";
    for (unsigned char c : sUtf8) {
        if (c == '?') {
            sUtf16 += "\x3A\x26";  // U+263A: no single byte for it
        } else {
            sUtf16 += static_cast<char>(c);
            sUtf16 += '\0';
        }
    }
    EXPECT_TRUE(Import(sUtf16));
    EXPECT_EQ("1:e93100", Value("x"));
    EXPECT_EQ("2:414200", Value("h2"));
    EXPECT_EQ("3:4100", Value("hb"));
    EXPECT_EQ("1:3f00", Value("wide"));
    // In an ANSI file the same hex bytes are taken as they are.
    RegTree tree;
    ImportRegText("Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\SYSTEM\\T]\n\"h2\"=hex(2):41,00,42,00\n", tree);
    EXPECT_EQ(4u, tree.m_roots[ROOT_LOCAL_MACHINE].FindSubkey("SYSTEM")->FindSubkey("T")->FindValue("h2")->data.size());
}

TEST_F(RegFileTest, LinesEndAtAnyLineBreakAndTheTextAtAZeroByte)
{
    std::string sText = "REGEDIT4\r[HKEY_LOCAL_MACHINE\\SYSTEM\\T]\r\"a\"=\"1\"\n\"b\"=\"2\"\r\n\"c\"=\"x";
    sText += '\0';
    sText += "y\"\n\"d\"=\"4\"\n";
    Import(sText);
    EXPECT_EQ("1:3100", Value("a"));
    EXPECT_EQ("1:3200", Value("b"));
    EXPECT_EQ("missing", Value("c"));
    EXPECT_EQ("missing", Value("d"));
}

TEST_F(RegFileTest, HostileTextIsReadWithoutHarm)
{
    // A path as deep as the line allows, built and torn down without recursion.
    std::string sDeep = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SYSTEM\\D";
    for (int i = 0; i < 200000; i++) sDeep += "\\d";
    sDeep += "]\n\"v\"=\"1\"\n[-HKEY_LOCAL_MACHINE\\SYSTEM\\D]\n[HKEY_LOCAL_MACHINE\\SYSTEM\\D2";
    for (int i = 0; i < 200000; i++) sDeep += "\\e";
    EXPECT_TRUE(Import(sDeep + "]\n"));
    EXPECT_EQ(nullptr, Key("SYSTEM\\D"));

    const char *rgpszHostile[] = {
        "REGEDIT4\n[", "REGEDIT4\n[-", "REGEDIT4\n[-H", "REGEDIT4\n\"", "REGEDIT4\n\"\\", "REGEDIT4\n@", "REGEDIT4\n@=",
        "REGEDIT4\n@=hex(", "REGEDIT4\n@=hex(2", "REGEDIT4\n@=hex(2)", "REGEDIT4\n[HKEY_USERS]\n@=hex(2):\\",
        "REGEDIT4\n[HKEY_USERS]\n@=hex(7):01,\\\n\\", "REGEDIT4\n[HKEY_USERS]\n@=dword:", "\xFF\xFE", "\xFF\xFE\x00",
        "\xFF", "REGEDIT4\n]]]][[[[", "REGEDIT4\n[HKEY_USERS\\]\n\"\"=hex:,", "REGEDIT4\n[HKEY_DYN_DATA\\a]\n@=-",
    };
    for (const char *psz : rgpszHostile) {
        RegTree tree;
        ImportRegText(psz, tree);
    }
    // Every byte value, in every position of a short line.
    for (int c = 0; c < 256; c++) {
        RegTree tree;
        std::string sLine = "\"v\"=hex(2):4" + std::string(1, static_cast<char>(c)) + ",\\";
        ImportRegText("REGEDIT4\n[HKEY_USERS\\x]\n" + sLine + "\n" + std::string(1, static_cast<char>(c)), tree);
    }
}
