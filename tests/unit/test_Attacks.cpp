// Attacks on the log through whole runs of the program: a symbolic link
// planted at a log or side-file name, pointing outside the temporary
// directory, must never be followed, and the run's work must be the same as
// without it; a log that is read-only or a directory costs the log, never the
// run's work.
#include "Sandbox.h"
#include "regfile.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <linux/capability.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

// Link seam: GetFileAttributesA may be made to fail with access denied.
static bool s_bDenyAttributes = false;

extern "C" DWORD __real_GetFileAttributesA(LPCSTR);
extern "C" DWORD __wrap_GetFileAttributesA(LPCSTR pszPath)
{
    if (s_bDenyAttributes) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_FILE_ATTRIBUTES;
    }
    return __real_GetFileAttributesA(pszPath);
}

namespace {

struct Command {
    const char *pszText;
    const char *pszLog;
    const char *pszSide;
};

const Command s_rgCommands[] = {
    {"MAddDS", "_add_ds.log", "_add_ds2.log"},
    {"MRemoveDS", "_remove_ds.log", "_remove_ds2.log"},
    {"AddDS hw-abc zorb_ DeviceData InstallCLSID params", "_add_ds.log", "_add_ds2.log"},
    {"RemoveDS zorb_ DeviceData InstallCLSID params", "_remove_ds.log", "_remove_ds2.log"},
};

const std::string s_sPrecious = "precious\r\nnot a log\r\n";

class LogAttacks : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_box.SetRegistry(ImagingDevicesReg("0000:\"InstallCLSID\"=\"{HW-ABC-0}\";\"MarelCLSID\"=\"x\"|"
                                            "0001:\"InstallCLSID\"=\"{other}\""));
        ZulStandin::LoadedRegistry();
    }
    void TearDown() override { s_bDenyAttributes = false; }

    std::string Temp(const std::string &sName) const { return m_box.TempDir() + "/" + sName; }
    std::string Outside(const std::string &sName) const { return m_box.Root() + "/outside/" + sName; }

    void SeedTwain()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_box.TwainDir(), ec);
        Sandbox::WriteFile(m_box.TwainDir() + "/qrvgnds2.tmp", "template");
        Sandbox::WriteFile(m_box.TwainDir() + "/zorb_0000/zorb_0000", "inactive 0000");
        Sandbox::WriteFile(m_box.TwainDir() + "/zorb_0001/zorb_0001.ds", "active 0001");
        Sandbox::WriteFile(m_box.TwainDir() + "/zorb_0007/zorb_0007.ds", "stale 0007");
    }
    void ClearTemp()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_box.TempDir(), ec);
        std::filesystem::remove_all(m_box.Root() + "/outside", ec);
        Sandbox::MakeDir(m_box.TempDir());
        Sandbox::MakeDir(m_box.Root() + "/outside");
    }

    // Every entry below twain_32 with its content.
    std::string Tree() const
    {
        std::map<std::string, std::string> entries;
        for (auto &e : std::filesystem::recursive_directory_iterator(m_box.TwainDir()))
            entries[e.path().string()] = e.is_directory() ? "<dir>" : Sandbox::ReadFile(e.path().string());
        std::string s;
        for (auto &entry : entries)
            s += entry.first.substr(m_box.TwainDir().size()) + "=" + entry.second + "\n";
        return s;
    }

    static int Run(const char *pszText)
    {
        std::vector<char> text(pszText, pszText + strlen(pszText) + 1);
        return WinMain(nullptr, nullptr, text.data(), 1);
    }

    // A run in a child that read-only files stop, as Windows' read-only
    // attribute stops every caller: root without the capabilities that
    // override file permissions.
    static int RunHeldByReadOnly(const char *pszText)
    {
        pid_t pid = fork();
        if (pid == 0) {
            struct __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
            struct __user_cap_data_struct data[2] = {};
            syscall(SYS_capget, &header, data);
            data[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
            syscall(SYS_capset, &header, data);
            _exit(Run(pszText));
        }
        int status = -1;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // The data-source tree a run of the command leaves when nobody interferes.
    std::string ReferenceTree(const Command &c)
    {
        ClearTemp();
        SeedTwain();
        EXPECT_EQ(0, Run(c.pszText));
        return Tree();
    }

    static std::string LinkTarget(const std::string &sPath)
    {
        std::error_code ec;
        return std::filesystem::read_symlink(sPath, ec).string();
    }

    Sandbox m_box;
};

std::string BigLog()
{
    std::string s;
    while (s.size() <= 30000)
        s += "old line " + std::to_string(s.size()) + "\r\n";
    return s;
}

} // namespace

TEST_F(LogAttacks, LinksAtTheLogOrSideNameAreNeverFollowed)
{
    int cAttacks = 0;
    for (const Command &c : s_rgCommands) {
        std::string sReference = ReferenceTree(c);
        for (const char *pszName : {c.pszLog, c.pszSide}) {
            bool bSide = pszName == c.pszSide;
            // What the link points at: a file, nothing yet, a directory.
            for (const char *pszKind : {"file", "dangling", "directory"}) {
                std::string sCase = std::string(c.pszText) + ", link at " + pszName + " to a " + pszKind;
                ClearTemp();
                SeedTwain();
                std::string sTarget = Outside("target");
                if (strcmp(pszKind, "file") == 0)
                    Sandbox::WriteFile(sTarget, s_sPrecious);
                else if (strcmp(pszKind, "directory") == 0)
                    Sandbox::MakeDir(sTarget);
                ASSERT_EQ(0, symlink(sTarget.c_str(), Temp(pszName).c_str()));
                // With the link at the side name, a log over the cap would be cut through it.
                std::string sLog = BigLog();
                if (bSide)
                    Sandbox::WriteFile(Temp(c.pszLog), sLog);

                EXPECT_EQ(0, Run(c.pszText)) << sCase;
                cAttacks++;
                EXPECT_EQ(sReference, Tree()) << sCase << ": the run's work differs";
                EXPECT_EQ(sTarget, LinkTarget(Temp(pszName))) << sCase;
                if (strcmp(pszKind, "file") == 0)
                    EXPECT_EQ(s_sPrecious, Sandbox::ReadFile(sTarget)) << sCase;
                else if (strcmp(pszKind, "dangling") == 0)
                    EXPECT_FALSE(Sandbox::Exists(sTarget)) << sCase << ": the link's target was created";
                else
                    EXPECT_TRUE(std::filesystem::is_empty(sTarget)) << sCase;
                if (bSide)
                    EXPECT_EQ(sLog, Sandbox::ReadFile(Temp(c.pszLog))) << sCase << ": the run writes no log";
                else
                    EXPECT_FALSE(Sandbox::Exists(Temp(c.pszSide))) << sCase;
            }
        }
    }
    printf("%d link attacks\n", cAttacks);
}

TEST_F(LogAttacks, ALinkWhoseAttributesCannotBeReadIsNotOpened)
{
    const Command &c = s_rgCommands[0];
    std::string sReference = ReferenceTree(c);
    ClearTemp();
    SeedTwain();
    Sandbox::WriteFile(Outside("target"), s_sPrecious);
    ASSERT_EQ(0, symlink(Outside("target").c_str(), Temp(c.pszLog).c_str()));
    s_bDenyAttributes = true;
    EXPECT_EQ(0, Run(c.pszText));
    s_bDenyAttributes = false;
    EXPECT_EQ(s_sPrecious, Sandbox::ReadFile(Outside("target")));
    EXPECT_EQ(sReference, Tree());
}

TEST_F(LogAttacks, ADirectoryAtTheLogNameCostsOnlyTheLog)
{
    for (const Command &c : s_rgCommands) {
        std::string sReference = ReferenceTree(c);
        ClearTemp();
        SeedTwain();
        Sandbox::MakeDir(Temp(c.pszLog));
        EXPECT_EQ(0, Run(c.pszText)) << c.pszText;
        EXPECT_EQ(sReference, Tree()) << c.pszText;
        EXPECT_TRUE(std::filesystem::is_directory(Temp(c.pszLog))) << c.pszText;
        EXPECT_TRUE(std::filesystem::is_empty(Temp(c.pszLog))) << c.pszText;
        EXPECT_FALSE(Sandbox::Exists(Temp(c.pszSide))) << c.pszText;
    }
}

TEST_F(LogAttacks, ASideFileThatCannotBeWrittenLeavesTheLogWholeAndUnwritten)
{
    const Command &c = s_rgCommands[1];
    std::string sReference = ReferenceTree(c);
    for (const char *pszKind : {"directory", "read-only file"}) {
        ClearTemp();
        SeedTwain();
        std::string sLog = BigLog();
        Sandbox::WriteFile(Temp(c.pszLog), sLog);
        if (strcmp(pszKind, "directory") == 0) {
            Sandbox::MakeDir(Temp(c.pszSide));
        } else {
            Sandbox::WriteFile(Temp(c.pszSide), "leftover");
            Sandbox::MakeReadOnly(Temp(c.pszSide));
        }
        EXPECT_EQ(0, RunHeldByReadOnly(c.pszText)) << pszKind;
        EXPECT_EQ(sReference, Tree()) << pszKind;
        std::string sAfter = Sandbox::ReadFile(Temp(c.pszLog));
        EXPECT_EQ(sLog, sAfter) << pszKind << ": the old log is whole, and does not grow past the cap";
    }
}

TEST_F(LogAttacks, AReadOnlyLogIsNeitherWrittenNorCut)
{
    for (const Command &c : s_rgCommands) {
        std::string sReference = ReferenceTree(c);
        for (bool bBig : {false, true}) {
            std::string sCase = std::string(c.pszText) + (bBig ? ", log over the cap" : ", small log");
            ClearTemp();
            SeedTwain();
            std::string sLog = bBig ? BigLog() : "small log\r\n";
            Sandbox::WriteFile(Temp(c.pszLog), sLog);
            Sandbox::MakeReadOnly(Temp(c.pszLog));
            EXPECT_EQ(0, RunHeldByReadOnly(c.pszText)) << sCase;
            EXPECT_EQ(sReference, Tree()) << sCase;
            EXPECT_EQ(sLog, Sandbox::ReadFile(Temp(c.pszLog))) << sCase;
            EXPECT_FALSE(Sandbox::Exists(Temp(c.pszSide))) << sCase << ": side file left";
        }
    }
}
