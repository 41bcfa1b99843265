#include "RecordingInstaller.h"

#include "TwainDSInstaller.h"

InstallerRecord g_installerRecord;

static std::string Text(const char *psz)
{
    return psz ? psz : "";
}

TwainDSInstaller::TwainDSInstaller(const char *pszHardwareId, const char *pszPrefix, const char *pszCheckKey,
                                   const char *pszCheckValue, const char *pszParamsKey, RunContext *pRun)
    : m_run(pRun ? *pRun : m_ownRun), m_steps(nullptr), m_pDevInfoData(nullptr), m_pszParamsKey(pszParamsKey),
      m_pszCheckValue(pszCheckValue), m_pszCheckKey(pszCheckKey), m_pszHardwareId(nullptr), m_pszPrefix(pszPrefix)
{
    InstallerRecord &r = g_installerRecord;
    r.nBuilt++;
    r.nParams = 5;
    r.bHardwareIdNull = pszHardwareId == nullptr;
    r.sHardwareId = Text(pszHardwareId);
    r.sPrefix = Text(pszPrefix);
    r.sCheckKey = Text(pszCheckKey);
    r.sCheckValue = Text(pszCheckValue);
    r.sParamsKey = Text(pszParamsKey);
    r.bParamsKeyNull = pszParamsKey == nullptr;
}

TwainDSInstaller::TwainDSInstaller(const char *pszPrefix, const char *pszCheckKey, const char *pszCheckValue,
                                   RunContext *pRun)
    : m_run(pRun ? *pRun : m_ownRun), m_steps(nullptr), m_pDevInfoData(nullptr), m_pszParamsKey(nullptr),
      m_pszCheckValue(pszCheckValue), m_pszCheckKey(pszCheckKey), m_pszHardwareId(nullptr), m_pszPrefix(pszPrefix)
{
    InstallerRecord &r = g_installerRecord;
    r.nBuilt++;
    r.nParams = 3;
    r.bHardwareIdNull = true;
    r.sHardwareId.clear();
    r.sPrefix = Text(pszPrefix);
    r.sCheckKey = Text(pszCheckKey);
    r.sCheckValue = Text(pszCheckValue);
    r.sParamsKey.clear();
    r.bParamsKeyNull = true;
}

TwainDSInstaller::~TwainDSInstaller()
{
    g_installerRecord.nDestroyed++;
}

void TwainDSInstaller::AddTwainDS(bool bAdd, bool bLog)
{
    g_installerRecord.sProcedure = "AddTwainDS";
    g_installerRecord.bAdd = bAdd;
    g_installerRecord.bLog = bLog;
}

void TwainDSInstaller::MAddTwainDS(bool bAdd, bool bLog)
{
    g_installerRecord.sProcedure = "MAddTwainDS";
    g_installerRecord.bAdd = bAdd;
    g_installerRecord.bLog = bLog;
}
