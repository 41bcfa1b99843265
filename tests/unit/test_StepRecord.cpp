// The DLL form's record of its steps and their undo: whatever part of a
// command's steps ran, the rollback leaves twain_32 as it was, byte for byte
// and attribute for attribute, and trusts nothing it reads.
#include "ActionData.h"
#include "FileHandles.h"
#include "FileHelpers.h"
#include "InstallLog.h"
#include "Sandbox.h"
#include "StepRecord.h"
#include "RunContext.h"
#include "TwainDSInstaller.h"

#include <gtest/gtest.h>
#include <mbstring.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace {

class StepRecordTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char szTwainDir[260];
        bool bTooLong = false;
        ASSERT_TRUE(WindowsPath(szTwainDir, &bTooLong, "twain_32"));
        m_sTwain = szTwainDir;
        m_sBelow = m_sTwain + "\\zorb_";
        m_sWindows = m_sTwain.substr(0, m_sTwain.size() - sizeof "twain_32");
        m_sFolder = m_sWindows + "\\ZULFuncts\\{PC}\\run";
        m_sProduct = m_box.WindowsDir() + "/ZULFuncts/{PC}";
        m_sRun = m_sProduct + "/run";
        // Another product's data source, an inactive one, an empty directory.
        Sandbox::WriteFile(m_box.TwainDir() + "/zorb_0000/zorb_0000.ds", "theirs");
        Sandbox::MakeReadOnly(m_box.TwainDir() + "/zorb_0000/zorb_0000.ds");
        Sandbox::WriteFile(m_box.TwainDir() + "/zorb_0001/zorb_0001", "inactive");
        Sandbox::MakeDir(m_box.TwainDir() + "/zorb_0002");
        m_sBefore = Sandbox::Tree(m_box.TwainDir());
    }

    std::string Path(const char *pszRel) { return m_sTwain + "\\" + pszRel; }

    bool Undo(InstallLog *pLog = nullptr) { return StepRecord::Undo(m_sFolder.c_str(), m_sBelow.c_str(), pLog); }

    std::string RecordText() { return Sandbox::ReadFile(m_sRun + "/record"); }

    // A begun record with sEntry after its header and a file its undo would
    // take; the undo's result, its folder gone after.
    bool UndoPlanted(const std::string &sEntry, const std::string &sBelow)
    {
        Record(0);
        Sandbox::WriteFile(m_sRun + "/record", RecordText() + sEntry + "\r\n");
        Sandbox::WriteFile(m_sRun + "/1", "theirs");
        bool bUndone = StepRecord::Undo(m_sFolder.c_str(), sBelow.c_str(), nullptr);
        EXPECT_TRUE(Sandbox::Exists(m_sRun + "/1")) << "what could not be undone stays for a person to find";
        std::filesystem::remove_all(m_sRun);
        return bUndone;
    }

    static unsigned Mode(const std::string &sPath)
    {
        struct stat st;
        return stat(sPath.c_str(), &st) == 0 ? st.st_mode & 0777 : ~0u;
    }

    // A run that made the first cSteps of RunSteps, its record closed.
    void Record(int cSteps, const std::string &sFolder = "")
    {
        StepRecord record;
        ASSERT_TRUE(record.Begin((sFolder.empty() ? m_sFolder : sFolder).c_str(), nullptr));
        RunSteps(record, cSteps);
    }

    // The first cSteps of what the commands do, each recorded first.
    void RunSteps(StepRecord &record, int cSteps)
    {
        bool bLinked = false;
        for (int i = 0; i < cSteps; i++) {
            switch (i) {
            case 0: { // MAddDS: the old .ds moved aside, a copy of the template made
                HANDLE h = OpenFileExclusive(Path("zorb_0000\\zorb_0000.ds").c_str(), DELETE | READ_CONTROL | WRITE_DAC,
                                             FILE_OPEN, &bLinked);
                ASSERT_NE(INVALID_HANDLE_VALUE, h);
                ASSERT_TRUE(record.MoveAside(h, Path("zorb_0000\\zorb_0000.ds").c_str()));
                CloseHandle(h);
                break;
            }
            case 1:
                ASSERT_TRUE(record.WillCreate(Path("zorb_0000\\zorb_0000.ds").c_str(), false));
                Sandbox::WriteFile(m_box.TwainDir() + "/zorb_0000/zorb_0000.ds", "template");
                break;
            case 2: // AddDS: the inactive data source renamed
                ASSERT_TRUE(
                    record.WillRename(Path("zorb_0001\\zorb_0001").c_str(), Path("zorb_0001\\zorb_0001.ds").c_str()));
                ASSERT_EQ(0, rename((m_box.TwainDir() + "/zorb_0001/zorb_0001").c_str(),
                                    (m_box.TwainDir() + "/zorb_0001/zorb_0001.ds").c_str()));
                break;
            case 3: // MRemoveDS: an empty directory removed
                ASSERT_TRUE(record.WillRemoveDir(Path("zorb_0002").c_str(), FILE_ATTRIBUTE_DIRECTORY));
                ASSERT_EQ(0, rmdir((m_box.TwainDir() + "/zorb_0002").c_str()));
                break;
            case 4: // MAddDS for a new device: its directory and .ds made
                ASSERT_TRUE(record.WillCreate(Path("zorb_0003").c_str(), true));
                Sandbox::MakeDir(m_box.TwainDir() + "/zorb_0003");
                ASSERT_TRUE(record.WillCreate(Path("zorb_0003\\zorb_0003.ds").c_str(), false));
                Sandbox::WriteFile(m_box.TwainDir() + "/zorb_0003/zorb_0003.ds", "template");
                break;
            }
        }
    }

    Sandbox m_box;
    std::string m_sTwain, m_sWindows, m_sBelow, m_sFolder, m_sBefore;
    std::string m_sProduct, m_sRun; // the product's folder and the run's, as the test reaches them
};

} // namespace

TEST_F(StepRecordTest, UndoPutsBackWhateverPartOfTheStepsRan)
{
    for (int cSteps = 0; cSteps <= 5; cSteps++) {
        SCOPED_TRACE(cSteps);
        Record(cSteps);
        EXPECT_EQ(cSteps == 0, Sandbox::Tree(m_box.TwainDir()) == m_sBefore);
        EXPECT_TRUE(Undo());
        EXPECT_EQ(m_sBefore, Sandbox::Tree(m_box.TwainDir()));
        EXPECT_EQ(0u, Mode(m_box.TwainDir() + "/zorb_0000/zorb_0000.ds") & 0222) << "read-only as it was";
        EXPECT_FALSE(Sandbox::Exists(m_sRun));
    }
}

TEST_F(StepRecordTest, AStepRecordedButCutShortOrNeverMadeIsUndoneAsFarAsItWent)
{
    {
        StepRecord record;
        ASSERT_TRUE(record.Begin(m_sFolder.c_str(), nullptr));
        RunSteps(record, 2);
        // Recorded, then the power went: the rename never happened.
        ASSERT_TRUE(record.WillRename(Path("zorb_0001\\zorb_0001").c_str(), Path("zorb_0001\\zorb_0001.ds").c_str()));
    }
    // And a last line the flush never finished.
    std::string sRecord = RecordText();
    Sandbox::WriteFile(m_sRun + "/record", sRecord + "C\t" + Path("zorb_0001\\zorb_0001"));
    EXPECT_TRUE(Undo());
    EXPECT_EQ(m_sBefore, Sandbox::Tree(m_box.TwainDir()));
}

TEST_F(StepRecordTest, EntriesOutsideTheCommandsDataSourcesAreSkipped)
{
    Sandbox::WriteFile(m_box.WindowsDir() + "/victim.txt", "keep");
    Sandbox::WriteFile(m_box.TwainDir() + "/other_0000/other_0000.ds", "keep");
    Sandbox::WriteFile(m_box.TwainDir() + "/zorb_0000/x/y", "keep");
    Sandbox::WriteFile(m_box.TwainDir() + "/zorb_0000/a:b", "keep");
    Sandbox::MakeDir(m_box.TwainDir() + "/zorb_0006");
    Sandbox::WriteFile(m_sProduct + "/planted", "keep");
    // Within bounds, but in an instance directory others may change.
    Sandbox::WriteFile(m_box.TwainDir() + "/zorb_0005/zorb_0005.ds", "keep");
    ASSERT_EQ(0, chmod((m_box.TwainDir() + "/zorb_0005").c_str(), 0777));
    Record(1);
    std::string sRecord = RecordText();
    std::string sDacl = sRecord.substr(sRecord.rfind('\t') + 1, sRecord.size() - sRecord.rfind('\t') - 3);
    ASSERT_TRUE(Undo());
    const std::string &sWindows = m_sWindows;
    // Each alone fails the undo and changes nothing.
    for (const std::string &sEntry :
         {"C\t" + sWindows + "\\victim.txt", "C\t" + m_sTwain + "\\other_0000\\other_0000.ds",
          "C\t" + m_sBelow + "0000\\..\\..\\victim.txt", "C\t" + m_sBelow + "0000\\x\\y",
          "R\t" + Path("zorb_0000\\zorb_0000.ds") + "\t" + sWindows + "\\victim.txt",
          "R\t" + Path("zorb_0006\\zorb_0006") + "\t" + sWindows + "\\victim.txt", "X\t" + m_sBelow + "0000\\.\t16",
          "M\t" + sWindows + "\\x\t1\t" + sDacl, "C\t" + Path("zorb_0000\\a:b"), "X\t" + m_sBelow + "0000\\..\t16",
          "M\t" + Path("zorb_0006\\zorb_0006.ds") + "\t..\\planted\t" + sDacl, "C\t" + Path("zorb_0005\\zorb_0005.ds")})
        EXPECT_FALSE(UndoPlanted(sEntry, m_sBelow)) << sEntry;
    // With AddDS's empty prefix, ".." would be the Windows directory.
    EXPECT_FALSE(UndoPlanted("C\t" + m_sTwain + "\\..\\victim.txt", m_sTwain + "\\"));
    // A trail byte 0x5C is no separator: the directory checked is the one the entry lies in.
    Sandbox::WriteFile(m_box.TwainDir() + "/zorb_0\x95/1/x.ds", "keep");
    ASSERT_EQ(0, chmod((m_box.TwainDir() + "/zorb_0\x95/1").c_str(), 0777));
    _setmbcp(932);
    EXPECT_FALSE(UndoPlanted("C\t" + m_sBelow + "0\x95\\1\\x.ds", m_sBelow));
    _setmbcp(0);
    for (const std::string &sKept :
         {m_box.TwainDir() + "/zorb_0005/zorb_0005.ds", m_box.TwainDir() + "/zorb_0\x95/1/x.ds",
          m_box.TwainDir() + "/zorb_0000/x/y", m_box.WindowsDir() + "/victim.txt",
          m_box.TwainDir() + "/other_0000/other_0000.ds", m_box.TwainDir() + "/zorb_0000/a:b", m_sProduct + "/planted"})
        EXPECT_EQ("keep", Sandbox::ReadFile(sKept)) << sKept;
    EXPECT_FALSE(Sandbox::Exists(m_box.WindowsDir() + "/x"));
    EXPECT_EQ("theirs", Sandbox::ReadFile(m_box.TwainDir() + "/zorb_0000/zorb_0000.ds"));
}

TEST_F(StepRecordTest, ABackupFolderOthersMayWriteIsNeitherUsedNorRead)
{
    // A level that is a link is refused, whichever it is.
    std::string sTop = m_box.WindowsDir() + "/ZULFuncts";
    for (const std::string &sLevel : {sTop, m_sProduct}) {
        SCOPED_TRACE(sLevel);
        Sandbox::MakeDir(m_sProduct);
        ASSERT_EQ(0, rename(sLevel.c_str(), (m_box.WindowsDir() + "/elsewhere").c_str()));
        ASSERT_EQ(0, symlink((m_box.WindowsDir() + "/elsewhere").c_str(), sLevel.c_str()));
        StepRecord refused;
        EXPECT_FALSE(refused.Begin(m_sFolder.c_str(), nullptr));
        EXPECT_FALSE(Sandbox::Exists(m_box.WindowsDir() + "/elsewhere/run"));
        ASSERT_EQ(0, unlink(sLevel.c_str()));
        ASSERT_EQ(0, rename((m_box.WindowsDir() + "/elsewhere").c_str(), sLevel.c_str()));
    }
    // One that others may change, as an earlier version left it, is tightened
    // to SYSTEM and Administrators; so is every level made.
    ASSERT_EQ(0, chmod(sTop.c_str(), 0777));
    ASSERT_EQ(0, chmod(m_sProduct.c_str(), 0775));
    Record(2);
    for (const std::string &sLevel : {sTop, m_sProduct, m_sRun, m_sRun + "/1"})
        EXPECT_EQ(0u, Mode(sLevel) & 077) << sLevel;
    ASSERT_EQ(0, chmod(m_sRun.c_str(), 0777));
    EXPECT_FALSE(Undo());
    EXPECT_EQ("template", Sandbox::ReadFile(m_box.TwainDir() + "/zorb_0000/zorb_0000.ds"));
    // Nor one that is a link, however trusted what it leads to.
    ASSERT_EQ(0, chmod(m_sRun.c_str(), 0755));
    ASSERT_EQ(0, rename(m_sRun.c_str(), (m_sProduct + "/elsewhere").c_str()));
    ASSERT_EQ(0, symlink((m_sProduct + "/elsewhere").c_str(), m_sRun.c_str()));
    EXPECT_FALSE(Undo());
    EXPECT_EQ("template", Sandbox::ReadFile(m_box.TwainDir() + "/zorb_0000/zorb_0000.ds"));
    // A run's folder is new: one that is there already is not taken.
    ASSERT_EQ(0, unlink(m_sRun.c_str()));
    Sandbox::MakeDir(m_sRun);
    StepRecord again;
    EXPECT_FALSE(again.Begin(m_sFolder.c_str(), nullptr));
}

namespace {

// The lines a run logs besides its file.
void CollectLine(void *pv, const char *pszLine)
{
    *static_cast<std::string *>(pv) += std::string(pszLine) + "\n";
}

struct CollectedLines {
    std::string sLines;
    InstallLog log{nullptr, false, CollectLine, &sLines};
};

} // namespace

TEST_F(StepRecordTest, ASecondUndoNeverUndoesTwiceAndAnUndoReadsTheWholeRecord)
{
    Record(5);
    // Not while others may change the TWAIN directory: nothing is undone.
    ASSERT_EQ(0, chmod(m_box.TwainDir().c_str(), 0777));
    EXPECT_FALSE(Undo());
    EXPECT_EQ("theirs", Sandbox::ReadFile(m_sRun + "/1"));
    ASSERT_EQ(0, chmod(m_box.TwainDir().c_str(), 0755));
    // The first undo puts everything back but cannot remove its folder.
    ASSERT_EQ(0, symlink("record", (m_sRun + "/link").c_str()));
    EXPECT_FALSE(Undo());
    EXPECT_EQ(m_sBefore, Sandbox::Tree(m_box.TwainDir()));
    EXPECT_EQ(0444u, Mode(m_box.TwainDir() + "/zorb_0000/zorb_0000.ds")) << "its own DACL back";
    ASSERT_EQ(0, unlink((m_sRun + "/link").c_str()));
    EXPECT_TRUE(Undo());
    EXPECT_EQ(m_sBefore, Sandbox::Tree(m_box.TwainDir())) << "the restored original deleted again";

    // A record past 1 MiB is read whole: what it moved last is put back too.
    // One past the bound is not read at all, and its folder stays. The
    // padding counts for nothing: marks cut short.
    for (DWORD cbPadding : {3u << 19, StepRecord::s_cbMaxRecord + 64}) {
        Record(1);
        std::string sRecord = RecordText(), sPadding;
        while (sPadding.size() < cbPadding)
            sPadding += "U\t" + std::string(1000, '0') + "\r\n";
        Sandbox::WriteFile(m_sRun + "/record", sRecord.insert(sRecord.find('\n') + 1, sPadding));
        const bool bRead = cbPadding < StepRecord::s_cbMaxRecord;
        EXPECT_EQ(bRead, Undo()) << cbPadding;
        EXPECT_EQ(bRead, Sandbox::Tree(m_box.TwainDir()) == m_sBefore) << cbPadding;
        EXPECT_EQ(!bRead, Sandbox::Exists(m_sRun + "/1")) << cbPadding;
    }
}

TEST_F(StepRecordTest, WhatACommandHadNothingToDoForIsNeitherFailedNorUndone)
{
    // A repair: 0000's .ds beside its inactive file, so AddDS's rename is
    // refused; 0004 has no directory, so RemoveDS has nothing to remove there.
    Sandbox::WriteFile(m_box.TwainDir() + "/zorb_0000/zorb_0000", "inactive");
    const std::string sBefore = Sandbox::Tree(m_box.TwainDir());
    const std::string sMarked = ":\"MarelCLSID\"=\"x\";\"InstallCLSID\"=\"{ABCDEF00}\"";
    m_box.SetRegistry(ImagingDevicesReg("0000" + sMarked + "|0004" + sMarked));
    int cFailed = 0;
    const StepObserver observer = {&cFailed, [](void *, const char *) { return true; },
                                   [](void *pv, bool, const char *, DWORD) {
                                       ++*static_cast<int *>(pv);
                                       return STEP_GO_ON;
                                   }};
    {
        StepRecord record;
        ASSERT_TRUE(record.Begin(m_sFolder.c_str(), nullptr));
        RunContext run;
        run.pRecord = &record;
        run.pObserver = &observer;
        char szId[] = "abcdef00";
        for (bool bAdd : {true, false})
            TwainDSInstaller(bAdd ? szId : "", "zorb_", "DeviceData", "InstallCLSID", "params", &run)
                .AddTwainDS(bAdd, false);
    }
    EXPECT_EQ(0, cFailed);
    EXPECT_TRUE(Undo()) << "the refused rename undone";
    EXPECT_EQ(sBefore, Sandbox::Tree(m_box.TwainDir()));
    // A record with nothing to undo needs no TWAIN directory.
    Record(0);
    std::filesystem::remove_all(m_box.TwainDir());
    EXPECT_TRUE(Undo());
}

TEST_F(StepRecordTest, AStepPastTheBoundIsNotMadeAndTheUndoStillMarksEveryEntry)
{
    const DWORD cbMax = 2000;
    {
        StepRecord record(cbMax);
        ASSERT_TRUE(record.Begin(m_sFolder.c_str(), nullptr));
        RunSteps(record, 3);
        int cMade = 0;
        while (record.WillCreate(Path("zorb_0009\\zorb_0009.ds").c_str(), false))
            cMade++;
        EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_TOO_LARGE), GetLastError());
        EXPECT_GT(cMade, 0);
        // Nor one whose second path no step could take.
        StepRecord roomy;
        ASSERT_TRUE(roomy.Begin((m_sFolder + "2").c_str(), nullptr));
        EXPECT_FALSE(
            roomy.WillRename(Path("zorb_0001\\zorb_0001").c_str(), Path(std::string(260, 'x').c_str()).c_str()));
    }
    // The folder kept from going, so that the marked record can be seen.
    ASSERT_EQ(0, symlink("record", (m_sRun + "/link").c_str()));
    EXPECT_FALSE(Undo());
    EXPECT_EQ(m_sBefore, Sandbox::Tree(m_box.TwainDir()));
    EXPECT_LE(RecordText().size(), cbMax);
}

TEST_F(StepRecordTest, EveryEntryNotUndoneIsLoggedAndItsFileStaysInTheFolder)
{
    Record(3);
    // The kept DACL no longer a descriptor; the renamed file held where it must go back.
    std::string sRecord = RecordText();
    size_t posDacl = sRecord.find("\t1\t") + 3;
    sRecord.replace(posDacl, 4, "FFFF");
    Sandbox::WriteFile(m_sRun + "/record", sRecord);
    Sandbox::WriteFile(m_box.TwainDir() + "/zorb_0001/zorb_0001", "in the way");
    CollectedLines lines;
    EXPECT_FALSE(Undo(&lines.log));
    for (const char *pszFile : {"zorb_0000\\zorb_0000.ds", "zorb_0001\\zorb_0001"})
        EXPECT_NE(std::string::npos,
                  lines.sLines.find("Rollback failed on " + Path(pszFile) + "\nGetLastError returned "))
            << lines.sLines;
    EXPECT_NE(std::string::npos, lines.sLines.find("Backup folder left: " + m_sFolder)) << lines.sLines;
    EXPECT_EQ("theirs", Sandbox::ReadFile(m_sRun + "/1"));
    EXPECT_EQ(0u, Mode(m_sRun + "/1") & 077) << "readable by SYSTEM and Administrators alone";
}

TEST_F(StepRecordTest, ACommitLetsGoOfItsOwnRunAndKeepsEveryBackupNoRollbackPutBack)
{
    const std::string sTop = m_box.WindowsDir() + "/ZULFuncts";
    struct Run {
        const char *pszName;
        int cSteps;
        bool bStays;
    };
    // Its own, an earlier installation's that moved a file aside and one
    // that only began its record, and the other set of this installation.
    const Run rgRun[] = {{"00000000000000AA-00000001", 1, false},
                         {"00000000000000BB-00000001", 1, true},
                         {"00000000000000CC-00000001", 0, false},
                         {"00000000000000AA-00000002", 0, true}};
    for (const Run &run : rgRun) {
        Record(run.cSteps, m_sWindows + "\\ZULFuncts\\{PC}\\" + run.pszName);
        if (run.cSteps)
            Sandbox::WriteFile(m_box.TwainDir() + "/zorb_0000/zorb_0000.ds", "theirs"); // for the next
    }
    std::string sOwn = m_sWindows + "\\ZULFuncts\\{PC}\\" + rgRun[0].pszName;
    // Not while others may change it.
    ASSERT_EQ(0, chmod((m_sProduct + "/" + rgRun[0].pszName).c_str(), 0777));
    EXPECT_FALSE(StepRecord::RemoveAll(sOwn.c_str(), nullptr));
    EXPECT_EQ("theirs", Sandbox::ReadFile(m_sProduct + "/" + rgRun[0].pszName + "/1"));
    ASSERT_EQ(0, chmod((m_sProduct + "/" + rgRun[0].pszName).c_str(), 0700));
    CollectedLines lines;
    EXPECT_TRUE(StepRecord::RemoveAll(sOwn.c_str(), &lines.log));
    StepRecord::LetGo(sOwn.c_str(), 16, &lines.log);
    for (const Run &run : rgRun)
        EXPECT_EQ(run.bStays, Sandbox::Exists(m_sProduct + "/" + run.pszName)) << run.pszName;
    EXPECT_EQ("Backup folder left: " + m_sWindows + "\\ZULFuncts\\{PC}\\" + rgRun[1].pszName + "\n", lines.sLines);
    // Once those are gone, the product's folder and ZULFuncts go with the last.
    std::filesystem::remove_all(m_sProduct + "/" + rgRun[1].pszName);
    StepRecord::LetGo((m_sWindows + "\\ZULFuncts\\{PC}\\" + rgRun[3].pszName).c_str(), 0, &lines.log);
    EXPECT_FALSE(Sandbox::Exists(sTop));
}

// What the scheduling action writes is all that is taken: the folder is
// derived from the product code and the run's name, never read.
TEST(ActionDataTest, OnlyTheExactFormIsTaken)
{
    const std::string sPC = "{0123ABCD-4567-89EF-0123-456789ABCDEF}", sRun = "0123456789ABCDEF-89ABCDEF";
    struct Row {
        std::string sText;
        const char *pszTwain;
        const char *pszCommandLine;
    } rgTaken[] = {
        {"1;" + sPC + ";" + sRun + ";twain_64;MAddDS zorb_", "twain_64", "MAddDS zorb_"},
        {"0;" + sPC + ";" + sRun + ";twain_32;MAddDS a;b", "twain_32", "MAddDS a;b"},
        {"MAddDS zorb_", "twain_32", "MAddDS zorb_"}, // a plain command line: no record
    };
    for (const Row &row : rgTaken) {
        SCOPED_TRACE(row.sText);
        std::string sText = row.sText;
        ActionData data;
        ASSERT_TRUE(ParseActionData(&sText[0], &data));
        EXPECT_STREQ(row.pszTwain, data.pszTwainName);
        EXPECT_STREQ(row.pszCommandLine, data.pszCommandLine);
        EXPECT_EQ(row.sText[0] == '1', data.bRecord);
    }
    for (std::string sText :
         {"1;" + sPC + ";" + sRun + ";twain_16;MAddDS", "1;" + sPC + ";" + sRun + ";MAddDS",
          "1;{0123abcd-4567-89EF-0123-456789ABCDEF};" + sRun + ";twain_32;MAddDS",
          "1;{0123ABCD-4567-89EF-0123-456789ABCDE};" + sRun + ";twain_32;MAddDS",
          "1;(0123ABCD-4567-89EF-0123-456789ABCDEF};" + sRun + ";twain_32;MAddDS",
          "1;C:\\Windows\\ZULFuncts\\x;" + sRun + ";twain_32;MAddDS", "1;" + sPC + ";..\\..\\x;twain_32;MAddDS",
          "1;" + sPC + ";0123456789ABCDEF-89ABCDE;twain_32;MAddDS",
          "1;" + sPC + ";0123456789ABCDEF.89ABCDEF;twain_32;MAddDS",
          "1;" + sPC + ";0123456789abcdef-89ABCDEF;twain_32;MAddDS"}) {
        ActionData data;
        EXPECT_FALSE(ParseActionData(&sText[0], &data)) << sText;
    }
}
