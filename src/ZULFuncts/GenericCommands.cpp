// MAddDS and MRemoveDS: install the generic data-source template for every
// marked device, and sweep the TWAIN directory for instances no device has.
#include "TwainDSInstaller.h"

#include "AllocationFailed.h"
#include "BoundedString.h"
#include "FileHelpers.h"
#include "InstallLog.h"
#include "NameRules.h"

#include <direct.h>
#include <errno.h>
#include <mbstring.h>
#include <stdlib.h>
#include <string.h>

namespace {

const char s_szMarkerValue[] = "MarelCLSID";
const char s_szTemplateName[] = "qrvgnds2.tmp";

} // namespace

void TwainDSInstaller::MAddTwainDS(bool bAdd, bool bLog)
{
    InstallLog *pLog = CreateCommandLog(bAdd, bLog);
    if (bLog) {
        LogPrintf(pLog, "In function MAddTwainDS");
        LogPrintf(pLog, "bAdd = %d", bAdd ? 1 : 0);
        LogLabelLine(pLog, "Data source prefix:", m_pszPrefix);
        LogLabelLine(pLog, "Check Key:", m_pszCheckKey);
        LogLabelLine(pLog, "Check Value:", m_pszCheckValue);
    }

    if (m_bReady && TwainDirUsable(bLog, pLog)) {
        char szInstance[5] = {0};
        if (bAdd) {
            // The marker decides; the check value is only logged.
            while (!m_bStopped && NextInstance(szInstance, sizeof szInstance, bLog, pLog)) {
                if (HasDriverValue(m_pDevInfoData, s_szMarkerValue, bLog, pLog)) {
                    while (!UpdateInstanceDS(szInstance, true, bLog, pLog) && RetryStep(true)) {
                    }
                }
            }
        } else {
            // Runs the search to its end, which closes it.
            while (!m_bStopped && NextTwainDir(szInstance, sizeof szInstance)) {
                if (bLog)
                    LogPrintf(pLog, "Found Twain_32 directory for Instance %s", szInstance);
                if (!InstanceExists(szInstance, bLog, pLog)) {
                    while (!UpdateInstanceDS(szInstance, false, bLog, pLog) && RetryStep(false)) {
                    }
                }
            }
        }
    }

    DestroyCommandLog(pLog);
}

bool TwainDSInstaller::UpdateInstanceDS(const char *szInstance, bool bAdd, bool bLog, InstallLog *pLog)
{
    char szTwainDir[260];
    char szFileName[260];
    char szFileNameDs[260];
    char szFileNameGenericDs[260];
    if (!BuildInstancePaths(szInstance, szTwainDir, szFileName, szFileNameDs) ||
        !BoundedCopy(szFileNameGenericDs, sizeof szFileNameGenericDs, m_szTwainDir) ||
        !BoundedAppend(szFileNameGenericDs, sizeof szFileNameGenericDs, "\\") ||
        !BoundedAppend(szFileNameGenericDs, sizeof szFileNameGenericDs, s_szTemplateName)) {
        LogPathTooLong(szInstance, bLog, pLog);
        return StepFailed(szInstance, ERROR_FILENAME_EXCED_RANGE);
    }
    if (InstanceDirIsLink(szTwainDir, szInstance, bLog, pLog))
        return StepFailed(szTwainDir, ERROR_ACCESS_DENIED);
    if (bLog) {
        LogPrintf(pLog, "m_szTwainDir = %s", m_szTwainDir);
        LogPrintf(pLog, "szTwainDir = %s", szTwainDir);
        LogPrintf(pLog, "szFileName = %s", szFileName);
        LogPrintf(pLog, "szFileNameDs = %s", szFileNameDs);
        LogPrintf(pLog, "szFileNameGenericDs = %s", szFileNameGenericDs);
    }

    // Both directions first remove an extension-less data source an earlier step left.
    DWORD dwError = ERROR_SUCCESS;
    if (FileExists(szFileName) && !RemoveFileLogged(szFileName, &dwError, bLog, pLog) && !bAdd)
        return StepFailed(szFileName, dwError);

    if (bAdd) {
        if (!FileExists(szFileNameGenericDs)) {
            if (bLog)
                LogPrintf(pLog, "Failed to find szFileNameGenericDs = %s", szFileNameGenericDs);
            return StepFailed(szFileNameGenericDs, ERROR_FILE_NOT_FOUND);
        }
        if (!FileExists(szTwainDir) && _mkdir(szTwainDir) != 0 && bLog)
            LogErrno(pLog, errno, "_mkdir fail to create %s", szTwainDir);
        if (!CopyFileA(szFileNameGenericDs, szFileNameDs, FALSE)) {
            dwError = GetLastError();
            if (bLog)
                LogLastError(pLog, dwError, "CopyFile failed");
            return StepFailed(szFileNameDs, dwError);
        }
        if (bLog) {
            LogPrintf(pLog, "CopyFile succeeded on %s", szFileNameGenericDs);
            LogPrintf(pLog, "Copied to %s", szFileNameDs);
        }
    } else {
        if (FileExists(szFileNameDs) && !RemoveFileLogged(szFileNameDs, &dwError, bLog, pLog))
            return StepFailed(szFileNameDs, dwError);
        if (!SetFileAttributesA(szTwainDir, FILE_ATTRIBUTE_NORMAL) && bLog)
            LogPrintf(pLog, "SetFileAttributes failed, GetLastError returned %d", static_cast<int>(GetLastError()));
        // A directory that holds more is left, as it should be.
        if (_rmdir(szTwainDir) != 0 && bLog)
            LogPrintf(pLog, "_trmdir failed, errno = %d", errno);
    }
    StepDone(szInstance);
    return true;
}

bool TwainDSInstaller::NextTwainDir(char *szInstance, size_t cbInstance)
{
    size_t cchPrefix = strlen(m_pszPrefix);
    for (;;) {
        if (m_bFindDone) {
            m_hFind = -1;
            m_bFindDone = false;
            return false;
        }
        if (m_hFind == -1) {
            char *pszPattern = static_cast<char *>(malloc(260));
            if (!pszPattern)
                return false;
            bool bFits = !m_bTwainDirTooLong && BoundedCopy(pszPattern, 260, m_szTwainDir) &&
                         BoundedAppend(pszPattern, 260, "\\") && BoundedAppend(pszPattern, 260, m_pszPrefix) &&
                         BoundedAppend(pszPattern, 260, "*");
            if (bFits)
                m_hFind = _findfirst(pszPattern, &m_findData);
            free(pszPattern);
            if (m_hFind == -1)
                return false;
        }

        // Only an entry whose whole suffix fits is handed out, and only when the
        // name really begins with the prefix (the search also matches short
        // names): a cut or shifted suffix would name another instance. Nor is
        // an entry whose name Windows reads as another one, or a link, whose
        // removal would be done where it leads, or what is not a directory.
        const char *pszName = m_findData.name;
        bool bUsable = strlen(pszName) >= cchPrefix &&
                       _mbsnbicmp(reinterpret_cast<const unsigned char *>(pszName),
                                  reinterpret_cast<const unsigned char *>(m_pszPrefix), cchPrefix) == 0 &&
                       strlen(pszName + cchPrefix) < cbInstance && IsUsableInstance(m_pszPrefix, pszName + cchPrefix) &&
                       !(m_findData.attrib & FILE_ATTRIBUTE_REPARSE_POINT) && (m_findData.attrib & _A_SUBDIR);
        if (bUsable)
            memcpy(szInstance, pszName + cchPrefix, strlen(pszName + cchPrefix) + 1);

        if (_findnext(m_hFind, &m_findData) != 0) {
            _findclose(m_hFind);
            m_bFindDone = true;
        }
        if (bUsable)
            return true;
    }
}

bool TwainDSInstaller::InstanceExists(const char *szInstance, bool bLog, InstallLog *pLog)
{
    char *pszDevice = static_cast<char *>(malloc(260));
    if (!pszDevice) {
        // Whether a device has it cannot be told: it stays, and the command ends.
        AllocationFailed();
        m_bStopped = true;
        return true;
    }
    // Every search considers every device, whatever an earlier one left the cursor at.
    m_enum.m_idx = 0;
    bool bExists = false;
    while (NextInstance(pszDevice, 260, bLog, pLog)) {
        if (_mbsicmp(reinterpret_cast<const unsigned char *>(szInstance),
                     reinterpret_cast<const unsigned char *>(pszDevice)) == 0) {
            if (bLog)
                LogPrintf(pLog, "%s exists", szInstance);
            bExists = true;
            break;
        }
    }
    free(pszDevice);
    // A device the walk could not read may own the instance: its data source stays.
    return bExists || m_enum.m_bIncomplete;
}
