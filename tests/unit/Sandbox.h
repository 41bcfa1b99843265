// A scratch machine for one test: a temporary directory with a sysroot (its
// Windows directory and registry file) and a temp directory, named to the
// stand-in through ZULFUNCTS_SYSROOT, TMPDIR and SystemTemp for the test's duration.
#pragma once

#include "ImagingClass.h"

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
    // Every entry below sDir, sorted, a line each: "name=content", or "name/" for a directory.
    static std::string Tree(const std::string &sDir);
    // The temporary directory of every account, LocalSystem's too (SystemTemp).
    static void SetTempDir(const std::string &sDir);

private:
    std::string m_sRoot;
};

// The REGEDIT4 lines of the imaging device ROOT\IMAGE\<sInstance> (value lines separated by
// \r\n). Its Driver value names its driver key, <class>\<sInstance>, which holds pszDriverValues
// and whose DeviceData subkey holds pszDeviceData; each key is written only when its values are
// given, and no Driver value when neither is. pszDriver gives another Driver value, with no keys.
std::string ImagingDeviceReg(const std::string &sInstance, const char *pszDeviceData,
                             const char *pszDriverValues = nullptr, const char *pszDriver = nullptr);

// REGEDIT4 text for imaging devices: "|" between devices, each an instance ("0000") and after
// ":" the value lines of its DeviceData key separated by ";", or "-" for a device without a
// Driver value.
std::string ImagingDevicesReg(const std::string &sDevicesAndValues);
