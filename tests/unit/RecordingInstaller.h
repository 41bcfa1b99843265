// Link seam for the command front end: an installer that records how it was
// built and which procedure ran, instead of touching devices and files.
#pragma once

#include <string>

struct InstallerRecord {
    int nBuilt = 0;  // installers constructed
    int nParams = 0; // 5 or 3: which constructor
    bool bHardwareIdNull = false;
    std::string sHardwareId, sPrefix, sCheckKey, sCheckValue, sParamsKey;
    bool bParamsKeyNull = false;
    std::string sProcedure; // "AddTwainDS" or "MAddTwainDS"
    bool bAdd = false;
    bool bLog = false;
    int nDestroyed = 0;
};

extern InstallerRecord g_installerRecord;
