// The DLL form's record of its steps and their undo: whatever part of a
// command's steps ran, the rollback leaves twain_32 as it was, byte for byte
// and attribute for attribute, and trusts nothing it reads.
#include "FileHandles.h"
#include "InstallLog.h"
#include "Sandbox.h"
#include "StepRecord.h"
#include "TwainDSInstaller.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace {

class StepRecordTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char szTwainDir[260];
        bool bTooLong = false;
        ASSERT_TRUE(TwainDSInstaller::FindTwainDir("twain_32", szTwainDir, &bTooLong));
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

    // The first cSteps of what the commands do, each recorded first.
    void RunSteps(StepRecord &record, int cSteps)
    {
        bool bLinked = false;
        for (int i = 0; i < cSteps; i++) {
            switch (i) {
            case 0: { // MAddDS: the old .ds moved aside, a copy of the template made
                HANDLE h = OpenFileExclusive(Path("zorb_0000\\zorb_0000.ds").c_str(), DELETE, FILE_OPEN, &bLinked);
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
        {
            StepRecord record;
            ASSERT_TRUE(record.Begin(m_sFolder.c_str(), nullptr));
            RunSteps(record, cSteps);
        }
        EXPECT_EQ(cSteps == 0, Sandbox::Tree(m_box.TwainDir()) == m_sBefore);
        EXPECT_TRUE(StepRecord::Undo(m_sFolder.c_str(), m_sBelow.c_str(), nullptr));
        EXPECT_EQ(m_sBefore, Sandbox::Tree(m_box.TwainDir()));
        struct stat st;
        ASSERT_EQ(0, stat((m_box.TwainDir() + "/zorb_0000/zorb_0000.ds").c_str(), &st));
        EXPECT_EQ(0, st.st_mode & 0222) << "read-only as it was";
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
    std::string sRecord = Sandbox::ReadFile(m_sRun + "/record");
    Sandbox::WriteFile(m_sRun + "/record", sRecord + "C\t" + Path("zorb_0001\\zorb_0001"));
    EXPECT_TRUE(StepRecord::Undo(m_sFolder.c_str(), m_sBelow.c_str(), nullptr));
    EXPECT_EQ(m_sBefore, Sandbox::Tree(m_box.TwainDir()));
}

TEST_F(StepRecordTest, EntriesOutsideTheCommandsDataSourcesAreSkipped)
{
    Sandbox::WriteFile(m_box.WindowsDir() + "/victim.txt", "keep");
    Sandbox::WriteFile(m_box.TwainDir() + "/other_0000/other_0000.ds", "keep");
    Sandbox::WriteFile(m_box.TwainDir() + "/zorb_0000/x/y", "keep");
    {
        StepRecord record;
        ASSERT_TRUE(record.Begin(m_sFolder.c_str(), nullptr));
    }
    const std::string &sWindows = m_sWindows;
    std::string sRecord = Sandbox::ReadFile(m_sRun + "/record");
    for (const std::string &sEntry :
         {"C\t" + sWindows + "\\victim.txt", "C\t" + m_sTwain + "\\other_0000\\other_0000.ds",
          "C\t" + m_sBelow + "0000\\..\\..\\victim.txt", "C\t" + m_sBelow + "0000\\x\\y",
          "R\t" + Path("zorb_0000\\zorb_0000.ds") + "\t" + sWindows + "\\victim.txt", "M\t" + sWindows + "\\x\t1"})
        sRecord += sEntry + "\r\n";
    // Within bounds, but in an instance directory others may change.
    Sandbox::WriteFile(m_box.TwainDir() + "/zorb_0005/zorb_0005.ds", "keep");
    ASSERT_EQ(0, chmod((m_box.TwainDir() + "/zorb_0005").c_str(), 0777));
    sRecord += "C\t" + Path("zorb_0005\\zorb_0005.ds") + "\r\n";
    Sandbox::WriteFile(m_sRun + "/record", sRecord);
    Sandbox::WriteFile(m_sRun + "/1", "planted");
    EXPECT_FALSE(StepRecord::Undo(m_sFolder.c_str(), m_sBelow.c_str(), nullptr));
    EXPECT_EQ("keep", Sandbox::ReadFile(m_box.TwainDir() + "/zorb_0005/zorb_0005.ds"));
    EXPECT_EQ("keep", Sandbox::ReadFile(m_box.TwainDir() + "/zorb_0000/x/y"));
    EXPECT_EQ("keep", Sandbox::ReadFile(m_box.WindowsDir() + "/victim.txt"));
    EXPECT_EQ("keep", Sandbox::ReadFile(m_box.TwainDir() + "/other_0000/other_0000.ds"));
    EXPECT_EQ("theirs", Sandbox::ReadFile(m_box.TwainDir() + "/zorb_0000/zorb_0000.ds"));
    EXPECT_TRUE(Sandbox::Exists(m_sRun)) << "what could not be undone stays for a person to find";
}

TEST_F(StepRecordTest, ABackupFolderOthersMayWriteIsNeitherUsedNorRead)
{
    Sandbox::MakeDir(m_sProduct);
    ASSERT_EQ(0, chmod(m_sProduct.c_str(), 0777));
    StepRecord refused;
    EXPECT_FALSE(refused.Begin(m_sFolder.c_str(), nullptr));

    ASSERT_EQ(0, chmod(m_sProduct.c_str(), 0755));
    {
        StepRecord record;
        ASSERT_TRUE(record.Begin(m_sFolder.c_str(), nullptr));
        RunSteps(record, 2);
    }
    ASSERT_EQ(0, chmod(m_sRun.c_str(), 0777));
    EXPECT_FALSE(StepRecord::Undo(m_sFolder.c_str(), m_sBelow.c_str(), nullptr));
    EXPECT_EQ("template", Sandbox::ReadFile(m_box.TwainDir() + "/zorb_0000/zorb_0000.ds"));
    // Nor one that is a link, however trusted what it leads to.
    ASSERT_EQ(0, chmod(m_sRun.c_str(), 0755));
    ASSERT_EQ(0, rename(m_sRun.c_str(), (m_sProduct + "/elsewhere").c_str()));
    ASSERT_EQ(0, symlink((m_sProduct + "/elsewhere").c_str(), m_sRun.c_str()));
    EXPECT_FALSE(StepRecord::Undo(m_sFolder.c_str(), m_sBelow.c_str(), nullptr));
    EXPECT_EQ("template", Sandbox::ReadFile(m_box.TwainDir() + "/zorb_0000/zorb_0000.ds"));
    // A run's folder is new: one that is there already is not taken.
    StepRecord again;
    EXPECT_FALSE(again.Begin(m_sFolder.c_str(), nullptr));
}
