// The install log: line formats, appending, the 25600-byte cap through the
// side file, and what happens when the platform fails or plays tricks.
#include "InstallLog.h"
#include "LogModel.h"
#include "Sandbox.h"
#include "Seams.h"
#include "TestFacts.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>
#include <unistd.h>

#include <functional>
#include <regex>
#include <string>
#include <vector>

// Link seams: fail the rename or the deletion through a handle, act after a
// CreateFileA of a chosen disposition, hand out chosen clock readings.
static bool s_bFailRename = false;
static bool s_bFailDisposition = false;
static std::function<void()> s_onRename;
static DWORD s_dwFailCreation = 0;
static std::function<void(HANDLE)> s_afterCreate;
static DWORD s_dwAfterCreation = 0;
static std::vector<SYSTEMTIME> s_clock;
static int s_cClockReads = 0;

extern "C" BOOL __wrap_SetFileInformationByHandle(HANDLE h, FILE_INFO_BY_HANDLE_CLASS cls, LPVOID pv, DWORD cb)
{
    if (cls == FileRenameInfo && s_onRename)
        s_onRename();
    if ((cls == FileRenameInfo && s_bFailRename) || (cls == FileDispositionInfo && s_bFailDisposition)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return __real_SetFileInformationByHandle(h, cls, pv, cb);
}

extern "C" HANDLE __wrap_CreateFileA(LPCSTR psz, DWORD dwAccess, DWORD dwShare, LPVOID pSA, DWORD dwCreation,
                                     DWORD dwFlags, HANDLE hTemplate)
{
    if (dwCreation == s_dwFailCreation) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE h = __real_CreateFileA(psz, dwAccess, dwShare, pSA, dwCreation, dwFlags, hTemplate);
    if (dwCreation == s_dwAfterCreation && s_afterCreate)
        s_afterCreate(h);
    return h;
}

extern "C" void __wrap_GetLocalTime(LPSYSTEMTIME pst)
{
    if (s_cClockReads < static_cast<int>(s_clock.size()))
        *pst = s_clock[static_cast<size_t>(s_cClockReads)];
    else
        __real_GetLocalTime(pst);
    s_cClockReads++;
}

namespace {

const std::string s_sStamp = "\\d\\d:\\d\\d:\\d\\d\\t\\d\\d/\\d\\d/\\d\\d\\t\\r\\n";
const std::string s_sOpening = s_sStamp + s_szStartLog + "\\r\\n";
const std::string s_sClosing = s_sStamp + s_szEndLog + "\\r\\n\\r\\n";

class InstallLogTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        s_bFailRename = false;
        s_bFailDisposition = false;
        s_onRename = nullptr;
        s_dwFailCreation = 0;
        s_afterCreate = nullptr;
        s_dwAfterCreation = 0;
        s_clock.clear();
    }
    std::string LogPath() const { return m_box.TempDir() + "/_add_ds.log"; }
    std::string SidePath() const { return m_box.TempDir() + "/_add_ds2.log"; }
    void RunOnce(const char *pszLine = "run")
    {
        InstallLog log("_add_ds.log");
        log.WriteLine(pszLine);
    }
    // Lines of fixed width: "line NNNNN" padded with dots to cb bytes, CR LF included.
    static std::string Lines(int nFirst, int nCount, size_t cb)
    {
        std::string s;
        for (int i = nFirst; i < nFirst + nCount; i++) {
            std::string sLine = "line " + std::to_string(100000 + i).substr(1);
            sLine.resize(cb - 2, '.');
            s += sLine + "\r\n";
        }
        return s;
    }

    Sandbox m_box;
};

} // namespace

TEST_F(InstallLogTest, RunWritesStampStartLinesAndClosingLines)
{
    {
        InstallLog log("_add_ds.log");
        ASSERT_TRUE(log.IsOpen());
        EXPECT_TRUE(log.WriteLabel("Check Key:"));
        EXPECT_TRUE(log.WriteLine("DeviceData"));
        EXPECT_EQ(8, LogPrintf(&log, "bAdd = %d", 1));
        EXPECT_TRUE(log.WriteLine(""));
        EXPECT_TRUE(log.WriteTimestamp());
    }
    std::string sLog = Sandbox::ReadFile(LogPath());
    EXPECT_TRUE(std::regex_match(
        sLog, std::regex(s_sOpening + "Check Key:\\tDeviceData\\r\\nbAdd = 1\\r\\n\\r\\n" + s_sStamp + s_sClosing)))
        << sLog;
}

TEST_F(InstallLogTest, EachRunAppendsAndEveryEndedLineIsOnDisk)
{
    RunOnce("first");
    RunOnce("second");
    std::string sLog = Sandbox::ReadFile(LogPath());
    EXPECT_TRUE(std::regex_match(
        sLog, std::regex(s_sOpening + "first\\r\\n" + s_sClosing + s_sOpening + "second\\r\\n" + s_sClosing)))
        << sLog;

    // A run that never ends its log leaves every ended line, without "End Log".
    InstallLog *pLog = new InstallLog("_remove_ds.log");
    pLog->WriteLine("flushed");
    std::string sOpen = Sandbox::ReadFile(m_box.TempDir() + "/_remove_ds.log");
    EXPECT_TRUE(std::regex_match(sOpen, std::regex(s_sOpening + "flushed\\r\\n"))) << sOpen;
    delete pLog;
}

TEST_F(InstallLogTest, LogPrintfWritesLongLinesWholeAndCountsThem)
{
    std::string sLong(1000, 'x');
    {
        InstallLog log("_add_ds.log");
        EXPECT_EQ(1000 + 4, LogPrintf(&log, "%s end", sLong.c_str()));
        EXPECT_EQ(259, LogPrintf(&log, "%s", std::string(259, 'y').c_str()));
        EXPECT_EQ(260, LogPrintf(&log, "%s", std::string(260, 'z').c_str()));
    }
    std::string sLog = Sandbox::ReadFile(LogPath());
    EXPECT_NE(std::string::npos, sLog.find("\r\n" + sLong + " end\r\n"));
    EXPECT_NE(std::string::npos, sLog.find("\r\n" + std::string(259, 'y') + "\r\n"));
    EXPECT_NE(std::string::npos, sLog.find("\r\n" + std::string(260, 'z') + "\r\n"));
}

TEST_F(InstallLogTest, LogThatCannotBeOpenedWritesNothing)
{
    Sandbox::SetTempDir(m_box.Root() + "/missing/");
    InstallLog log("_add_ds.log");
    EXPECT_FALSE(log.IsOpen());
    EXPECT_FALSE(log.WriteLine("x"));
    EXPECT_FALSE(log.WriteLabel("x"));
    EXPECT_FALSE(log.WriteTimestamp());
    EXPECT_EQ(0, LogPrintf(&log, "bAdd = %d", 1));
    EXPECT_FALSE(Sandbox::Exists(m_box.Root() + "/missing"));
}

TEST_F(InstallLogTest, LocalSystemLogsWhereGetTempPath2APoints)
{
    // The stand-in's LocalSystem is root, whose own directory is windows/SystemTemp.
    unsetenv("SystemTemp");
    Sandbox::MakeDir(m_box.WindowsDir() + "/SystemTemp");
    RunOnce("LocalSystem's");
    std::string sLog = Sandbox::ReadFile(geteuid() ? LogPath() : m_box.WindowsDir() + "/SystemTemp/_add_ds.log");
    EXPECT_TRUE(std::regex_match(sLog, std::regex(s_sOpening + "LocalSystem's\\r\\n" + s_sClosing))) << sLog;
}

TEST_F(InstallLogTest, TempPathThatDoesNotFitLeavesTheLogClosed)
{
    std::string sDeep = m_box.Root() + "/" + std::string(240, 'd');
    Sandbox::MakeDir(sDeep);
    Sandbox::SetTempDir(sDeep + "/");
    InstallLog log("_remove_ds.log");
    EXPECT_FALSE(log.IsOpen());
}

TEST_F(InstallLogTest, LogOfExactly25600BytesIsNotCut)
{
    std::string sOld = Lines(0, 512, 50); // 25600 bytes
    ASSERT_EQ(s_cbLogCap, sOld.size());
    Sandbox::WriteFile(LogPath(), sOld);
    RunOnce();
    std::string sLog = Sandbox::ReadFile(LogPath());
    EXPECT_EQ(sOld, sLog.substr(0, sOld.size()));
}

TEST_F(InstallLogTest, CapKeepsTheLast25600BytesCutAtLineEnds)
{
    // 25601 bytes: the cut falls one byte into the first line.
    std::string sOld = "X" + Lines(0, 512, 50);
    Sandbox::WriteFile(LogPath(), sOld);
    RunOnce("after cap");
    std::string sLog = Sandbox::ReadFile(LogPath());
    EXPECT_EQ(Lines(0, 512, 50), sLog.substr(0, s_cbLogCap));
    EXPECT_TRUE(std::regex_match(sLog.substr(s_cbLogCap), std::regex(s_sOpening + "after cap\\r\\n" + s_sClosing)));
    EXPECT_FALSE(Sandbox::Exists(SidePath()));

    // Lines of 51 bytes: the first line kept is the fragment that starts 25600 bytes before the end.
    sOld = Lines(0, 600, 51);
    Sandbox::WriteFile(LogPath(), sOld);
    RunOnce();
    sLog = Sandbox::ReadFile(LogPath());
    std::string sTail = sOld.substr(sOld.size() - s_cbLogCap);
    EXPECT_EQ(sTail, sLog.substr(0, s_cbLogCap));
    EXPECT_EQ(sTail.substr(0, sTail.find("\r\n")), std::string(Lines(98, 1, 51)).substr(2, 47))
        << "first kept line is a fragment";
}

TEST_F(InstallLogTest, CapEndsEveryLineWithCRLFAndKeepsEveryByte)
{
    // LF-only lines gain CR; 0x1A and NUL are ordinary bytes; a last line without
    // an end of line is kept and ended.
    std::string sBody;
    for (int i = 0; i < 700; i++)
        sBody += "v\x1A" + std::string(1, '\0') + "alue " + std::to_string(i) + "\n";
    std::string sOld = std::string(30000, 'h') + "\r\n" + sBody + "last";
    Sandbox::WriteFile(LogPath(), sOld);
    RunOnce();
    std::string sLog = Sandbox::ReadFile(LogPath());

    std::string sExpected = KeptAfterCap(sOld);
    ASSERT_GE(sLog.size(), sExpected.size());
    EXPECT_EQ(sExpected, sLog.substr(0, sExpected.size()));
    EXPECT_NE(std::string::npos, sLog.find("last\r\n"));
}

TEST_F(InstallLogTest, LeftoverSideFileIsReplacedByTheCap)
{
    Sandbox::WriteFile(SidePath(), "stale side file\r\n");
    Sandbox::WriteFile(LogPath(), "Z" + Lines(0, 512, 50));
    RunOnce();
    EXPECT_FALSE(Sandbox::Exists(SidePath()));
    std::string sLog = Sandbox::ReadFile(LogPath());
    EXPECT_EQ(std::string::npos, sLog.find("stale")) << "the side file is emptied before the copy";
    EXPECT_EQ(Lines(0, 512, 50), sLog.substr(0, s_cbLogCap));
}

TEST_F(InstallLogTest, FailedReplaceKeepsTheWholeOldLogAndAppends)
{
    // The side file cannot take the log's name; it goes through its handle, or,
    // should the handle refuse that too, by its name.
    for (bool bDispositionFails : {false, true}) {
        std::string sOld = Lines(0, 600, 50);
        Sandbox::WriteFile(LogPath(), sOld);
        s_bFailRename = true;
        s_bFailDisposition = bDispositionFails;
        RunOnce("appended");
        std::string sLog = Sandbox::ReadFile(LogPath());
        EXPECT_EQ(sOld, sLog.substr(0, sOld.size())) << "the uncut log survives";
        EXPECT_TRUE(std::regex_match(sLog.substr(sOld.size()), std::regex(s_sOpening + "appended\\r\\n" + s_sClosing)));
        EXPECT_FALSE(Sandbox::Exists(SidePath())) << bDispositionFails;
    }
}

TEST_F(InstallLogTest, AfterAFailedReplaceOnlyTheVeryLogCheckedBeforeIsWritten)
{
    // Between the failed replacement and the log's second open, another file
    // takes the log's name: it is neither written nor cut, and the run has no log.
    std::string sOld = Lines(0, 600, 50);
    Sandbox::WriteFile(LogPath(), sOld);
    std::string sOther = m_box.TempDir() + "/other.txt";
    Sandbox::WriteFile(sOther, "someone else's file\r\n");
    s_bFailRename = true;
    s_onRename = [&] { rename(sOther.c_str(), LogPath().c_str()); };
    {
        InstallLog log("_add_ds.log");
        EXPECT_FALSE(log.IsOpen());
    }
    EXPECT_EQ("someone else's file\r\n", Sandbox::ReadFile(LogPath()));
    EXPECT_FALSE(Sandbox::Exists(SidePath()));
}

TEST_F(InstallLogTest, CapThatCannotMakeItsSideFileLeavesTheLogAsItIsAndClosed)
{
    std::string sOld = Lines(0, 600, 50);
    Sandbox::WriteFile(LogPath(), sOld);
    // The side file cannot be created; or it is, but then gains a second name
    // elsewhere before the checks, so it is not trusted with the tail.
    std::string sStolen = m_box.Root() + "/stolen.txt";
    for (bool bMade : {false, true}) {
        if (bMade) {
            s_dwAfterCreation = CREATE_NEW;
            s_afterCreate = [&](HANDLE) { link(SidePath().c_str(), sStolen.c_str()); };
        } else {
            s_dwFailCreation = CREATE_NEW;
        }
        {
            InstallLog log("_add_ds.log");
            EXPECT_FALSE(log.IsOpen()) << bMade;
        }
        EXPECT_EQ(sOld, Sandbox::ReadFile(LogPath())) << bMade;
        EXPECT_FALSE(Sandbox::Exists(SidePath())) << bMade;
        s_dwFailCreation = 0;
        s_afterCreate = nullptr;
    }
    EXPECT_EQ("", Sandbox::ReadFile(sStolen)) << "nothing reaches the second name";
    RunOnce();
    EXPECT_EQ(Lines(88, 512, 50), Sandbox::ReadFile(LogPath()).substr(0, s_cbLogCap)) << "the next run caps it";
}

TEST_F(InstallLogTest, LinkAtTheLogIsNeverFollowedAndOneAtTheSideNameIsReplaced)
{
    std::string sTarget = m_box.Root() + "/precious.txt";
    Sandbox::WriteFile(sTarget, "precious\r\n");
    ASSERT_EQ(0, symlink(sTarget.c_str(), LogPath().c_str()));
    {
        InstallLog log("_add_ds.log");
        EXPECT_FALSE(log.IsOpen());
        EXPECT_FALSE(log.WriteLine("attack"));
    }
    EXPECT_EQ("precious\r\n", Sandbox::ReadFile(sTarget));

    // At the side file's name the link is removed, never written through, and
    // the cut goes on with a side file of the run's own.
    unlink(LogPath().c_str());
    std::string sOld = Lines(0, 600, 50);
    Sandbox::WriteFile(LogPath(), sOld);
    ASSERT_EQ(0, symlink(sTarget.c_str(), SidePath().c_str()));
    RunOnce();
    EXPECT_EQ("precious\r\n", Sandbox::ReadFile(sTarget));
    EXPECT_EQ(Lines(88, 512, 50), Sandbox::ReadFile(LogPath()).substr(0, s_cbLogCap));
    EXPECT_FALSE(Sandbox::Exists(SidePath()));
}

TEST_F(InstallLogTest, StampReadsTheClockOnce)
{
    // The clock passes midnight between two readings: the stamp holds the
    // first reading whole.
    SYSTEMTIME stBefore = {2025, 12, 3, 31, 23, 59, 59, 999};
    SYSTEMTIME stAfter = {2026, 1, 4, 1, 0, 0, 0, 0};
    s_clock = {stBefore, stAfter, stAfter, stAfter};
    s_cClockReads = 0;
    RunOnce();
    EXPECT_EQ(2, s_cClockReads) << "one reading for each of the two stamps";
    std::string sLog = Sandbox::ReadFile(LogPath());
    EXPECT_EQ(std::string("23:59:59\t12/31/25\t\r\n") + s_szStartLog + "\r\nrun\r\n00:00:00\t01/01/26\t\r\n" +
                  s_szEndLog + "\r\n\r\n",
              sLog);
}

TEST_F(InstallLogTest, LogPathThatFitsIsWrittenWhenItsSidePathDoesNot)
{
    // The temporary path and "_add_ds.log" make 259 bytes, the most a path
    // holds; the side path would need 260.
    std::string sTemp = m_box.Root() + "/";
    sTemp += std::string(259 - strlen("_add_ds.log") - sTemp.size() - 1, 't') + "/";
    ASSERT_EQ(259u, sTemp.size() + strlen("_add_ds.log"));
    Sandbox::MakeDir(sTemp);
    Sandbox::SetTempDir(sTemp);
    std::string sOld = Lines(0, 600, 50);
    Sandbox::WriteFile(sTemp + "_add_ds.log", sOld);
    RunOnce("not cut");
    std::string sLog = Sandbox::ReadFile(sTemp + "_add_ds.log");
    EXPECT_EQ(sOld, sLog.substr(0, sOld.size())) << "the cut is skipped";
    EXPECT_TRUE(std::regex_match(sLog.substr(sOld.size()), std::regex(s_sOpening + "not cut\\r\\n" + s_sClosing)));
}

TEST_F(InstallLogTest, LogPathThatIsADirectoryLeavesTheLogClosed)
{
    Sandbox::MakeDir(LogPath());
    InstallLog log("_add_ds.log");
    EXPECT_FALSE(log.IsOpen());
}
