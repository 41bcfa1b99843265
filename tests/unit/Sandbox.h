// A scratch machine for one test: a temporary directory with a sysroot (its
// Windows directory and registry file) and a temp directory, named to the
// stand-in through ZULFUNCTS_SYSROOT, TMPDIR and SystemTemp for the test's duration.
#pragma once

#include <string>

class Sandbox
{
public:
    Sandbox();
    ~Sandbox();

    const std::string &Root() const { return m_sRoot; }
    std::string WindowsDir() const { return m_sRoot + "/sysroot/windows"; }
    std::string TwainDir() const { return WindowsDir() + "/twain_32"; }
    std::string TempDir() const { return m_sRoot + "/temp"; }

    // Replaces the registry the stand-in reads.
    void SetRegistry(const std::string &sRegText);

    static void WriteFile(const std::string &sPath, const std::string &sContent);
    static std::string ReadFile(const std::string &sPath);
    static bool Exists(const std::string &sPath);
    static void MakeDir(const std::string &sPath);
    static void MakeReadOnly(const std::string &sPath);
    // The temporary directory of every account, LocalSystem's too (SystemTemp).
    static void SetTempDir(const std::string &sDir);

private:
    std::string m_sRoot;
};

// REGEDIT4 text for imaging devices: each entry is an instance ("0000") and
// the body of its DeviceData key (value lines), or "-" for a device without
// a driver key.
std::string ImagingDevicesReg(const std::string &sDevicesAndValues);
