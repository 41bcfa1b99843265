// Existence tests and logged removal of data-source files; bounded strings.
#include "BoundedString.h"
#include "DataSourceSteps.h"
#include "FileHelpers.h"
#include "InstallLog.h"
#include "Sandbox.h"
#include "TestFacts.h"

#include <gtest/gtest.h>

#include <string>

TEST(FileHelpers, FileExistsSeesFilesDirectoriesAndPatterns)
{
    Sandbox box;
    Sandbox::WriteFile(box.TwainDir() + "/zorb_0000/zorb_0000.ds", "ds");
    Sandbox::WriteFile(box.TwainDir() + "/ro", "ro");
    Sandbox::MakeReadOnly(box.TwainDir() + "/ro");
    std::string sWin = box.WindowsDir() + "\\twain_32";
    EXPECT_TRUE(FileExists((sWin + "\\zorb_0000").c_str()));
    EXPECT_TRUE(FileExists((sWin + "\\zorb_0000\\zorb_0000.ds").c_str()));
    EXPECT_TRUE(FileExists((sWin + "\\ZORB_0000\\Zorb_0000.DS").c_str()));
    EXPECT_TRUE(FileExists((sWin + "\\ro").c_str()));
    EXPECT_TRUE(FileExists((sWin + "\\zorb_*").c_str()));
    EXPECT_FALSE(FileExists((sWin + "\\zorb_0001").c_str()));
    EXPECT_FALSE(FileExists((sWin + "\\missing\\zorb_0000.ds").c_str()));
}

TEST(FileHelpers, RemoveFileLoggedDeletesReadOnlyFilesAndLogsWhatHappened)
{
    Sandbox box;
    std::string sFile = box.TwainDir() + "/zorb_0000/zorb_0000";
    Sandbox::WriteFile(sFile, "x");
    Sandbox::MakeReadOnly(sFile);
    std::string sMissing = box.TwainDir() + "/zorb_0000/absent";
    DataSourceSteps steps(nullptr);
    {
        InstallLog log("_remove_ds.log");
        EXPECT_EQ(ERROR_SUCCESS, steps.RemoveFileLogged(nullptr, sFile.c_str(), sFile.c_str(), false, true, &log));
        EXPECT_EQ(ERROR_FILE_NOT_FOUND,
                  steps.RemoveFileLogged(nullptr, sMissing.c_str(), sMissing.c_str(), false, true, &log));
    }
    EXPECT_FALSE(Sandbox::Exists(sFile));
    std::string sLog = Sandbox::ReadFile(box.TempDir() + "/_remove_ds.log");
    EXPECT_NE(std::string::npos, sLog.find(std::string(s_szStartLog) + "\r\n_tremove succefully removed " + sFile +
                                           "\r\n"
                                           "SetFileAttributes failed on " +
                                           sMissing +
                                           "\r\n"
                                           "GetLastError returned 2\r\n"
                                           "_tremove failed on " +
                                           sMissing +
                                           "\r\n"
                                           "errno = 2\r\n"))
        << sLog;

    Sandbox::WriteFile(sFile, "x");
    steps.RemoveFileLogged(nullptr, sFile.c_str(), sFile.c_str(), false, false, nullptr);
    EXPECT_FALSE(Sandbox::Exists(sFile));
}

TEST(BoundedString, WritesNothingPastTheBuffer)
{
    char sz[8] = "abc";
    EXPECT_TRUE(BoundedAppend(sz, sizeof sz, "defg"));
    EXPECT_STREQ("abcdefg", sz);
    EXPECT_FALSE(BoundedAppend(sz, sizeof sz, "h"));
    EXPECT_STREQ("abcdefg", sz) << "a failed append leaves the text";
    EXPECT_FALSE(BoundedCopy(sz, sizeof sz, "12345678"));
    EXPECT_STREQ("", sz);
    EXPECT_TRUE(BoundedCopy(sz, sizeof sz, "1234567"));
    char szUnterminated[4] = {'a', 'b', 'c', 'd'};
    EXPECT_FALSE(BoundedAppend(szUnterminated, sizeof szUnterminated, ""));
}
