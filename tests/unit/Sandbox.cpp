#include "Sandbox.h"

#include "TestFacts.h"
#include "standin.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

Sandbox::Sandbox()
{
    umask(022); // a TWAIN directory the group may write is not worked in
    char szTemplate[] = "/tmp/zulunit.XXXXXX";
    m_sRoot = mkdtemp(szTemplate);
    std::filesystem::create_directories(WindowsDir());
    std::filesystem::create_directories(TempDir());
    SetStandinEnvironment((m_sRoot + "/sysroot").c_str(), (TempDir() + "/").c_str());
    SetRegistry("REGEDIT4\r\n");
}

Sandbox::~Sandbox()
{
    SetStandinEnvironment("", "");
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
    SetStandinEnvironment(nullptr, sDir.c_str());
}

void Sandbox::MakeReadOnly(const std::string &sPath)
{
    chmod(sPath.c_str(), 0444);
}

std::string Sandbox::Tree(const std::string &sDir)
{
    std::vector<std::string> entries;
    for (auto &e : std::filesystem::recursive_directory_iterator(sDir)) {
        std::string sRel = e.path().string().substr(sDir.size() + 1);
        entries.push_back(e.is_directory() ? sRel + "/" : sRel + "=" + ReadFile(e.path().string()));
    }
    std::sort(entries.begin(), entries.end());
    std::string s;
    for (auto &sEntry : entries)
        s += sEntry + "\n";
    return s;
}

std::string ImagingDeviceReg(const std::string &sInstance, const char *pszDeviceData, const char *pszDriverValues,
                             const char *pszDriver)
{
    const std::string sClassKey = std::string("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\") +
                                  s_szImagingClass + "\\" + sInstance;
    std::string sReg = "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\ROOT\\IMAGE\\" + sInstance +
                       "]\r\n\"ClassGUID\"=\"" + s_szImagingClass + "\"\r\n";
    std::string sDriver = pszDriver ? pszDriver : std::string(s_szImagingClass) + "\\" + sInstance;
    for (size_t pos = 0; (pos = sDriver.find('\\', pos)) != std::string::npos; pos += 2)
        sDriver.insert(pos, 1, '\\'); // as the .reg text escapes it
    if (pszDriver || pszDeviceData || pszDriverValues)
        sReg += "\"Driver\"=\"" + sDriver + "\"\r\n";
    sReg += "\r\n";
    if (pszDriver)
        return sReg;
    if (pszDriverValues)
        sReg += sClassKey + "]\r\n" + pszDriverValues + "\r\n\r\n";
    if (pszDeviceData)
        sReg += sClassKey + "\\DeviceData]\r\n" + pszDeviceData + "\r\n\r\n";
    return sReg;
}

std::string ImagingDevicesReg(const std::string &sDevicesAndValues)
{
    std::string sReg = "REGEDIT4\r\n\r\n";
    std::istringstream blocks(sDevicesAndValues);
    std::string sBlock;
    while (std::getline(blocks, sBlock, '|')) {
        size_t colon = sBlock.find(':');
        std::istringstream values(colon == std::string::npos ? "" : sBlock.substr(colon + 1));
        std::string sValue, sLines;
        while (std::getline(values, sValue, ';'))
            sLines += (sLines.empty() ? "" : "\r\n") + sValue;
        sReg += ImagingDeviceReg(sBlock.substr(0, colon), sLines == "-" ? nullptr : sLines.c_str());
    }
    return sReg;
}
