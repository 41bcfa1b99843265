#include "Sandbox.h"

#include "standin.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

Sandbox::Sandbox()
{
    umask(022); // a TWAIN directory the group may write is not worked in
    char szTemplate[] = "/tmp/zulunit.XXXXXX";
    m_sRoot = mkdtemp(szTemplate);
    std::filesystem::create_directories(WindowsDir());
    std::filesystem::create_directories(TempDir());
    setenv("ZULFUNCTS_SYSROOT", (m_sRoot + "/sysroot").c_str(), 1);
    SetTempDir(TempDir() + "/");
    SetRegistry("REGEDIT4\r\n");
}

Sandbox::~Sandbox()
{
    unsetenv("ZULFUNCTS_SYSROOT");
    unsetenv("TMPDIR");
    unsetenv("SystemTemp");
    std::error_code ec;
    std::filesystem::permissions(m_sRoot, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(m_sRoot, ec);
    ZulStandinRegistryReset();
}

void Sandbox::SetRegistry(const std::string &sRegText)
{
    WriteFile(m_sRoot + "/sysroot/registry.reg", sRegText);
    ZulStandinRegistryReset();
}

void Sandbox::WriteFile(const std::string &sPath, const std::string &sContent)
{
    std::filesystem::create_directories(std::filesystem::path(sPath).parent_path());
    std::ofstream out(sPath, std::ios::binary | std::ios::trunc);
    out << sContent;
}

std::string Sandbox::ReadFile(const std::string &sPath)
{
    std::ifstream in(sPath, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool Sandbox::Exists(const std::string &sPath)
{
    struct stat st;
    return lstat(sPath.c_str(), &st) == 0;
}

void Sandbox::MakeDir(const std::string &sPath)
{
    std::filesystem::create_directories(sPath);
}

void Sandbox::SetTempDir(const std::string &sDir)
{
    setenv("TMPDIR", sDir.c_str(), 1);
    setenv("SystemTemp", sDir.c_str(), 1);
}

void Sandbox::MakeReadOnly(const std::string &sPath)
{
    chmod(sPath.c_str(), 0444);
}

std::string ImagingDevicesReg(const std::string &sSpec)
{
    // sSpec: blocks separated by "|": "<instance>:<DeviceData value lines separated by ;>"
    const std::string sGuid = "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}";
    std::ostringstream reg;
    reg << "REGEDIT4\r\n\r\n";
    std::istringstream blocks(sSpec);
    std::string sBlock;
    while (std::getline(blocks, sBlock, '|')) {
        size_t colon = sBlock.find(':');
        std::string sInstance = sBlock.substr(0, colon);
        std::string sValues = colon == std::string::npos ? "" : sBlock.substr(colon + 1);
        reg << "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\ROOT\\IMAGE\\" << sInstance << "]\r\n"
            << "\"ClassGUID\"=\"" << sGuid << "\"\r\n";
        if (sValues == "-") {
            reg << "\r\n";
            continue;
        }
        reg << "\"Driver\"=\"" << sGuid << "\\\\" << sInstance << "\"\r\n\r\n"
            << "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\" << sGuid << "\\" << sInstance
            << "\\DeviceData]\r\n";
        std::istringstream values(sValues);
        std::string sValue;
        while (std::getline(values, sValue, ';'))
            reg << sValue << "\r\n";
        reg << "\r\n";
    }
    return reg.str();
}
