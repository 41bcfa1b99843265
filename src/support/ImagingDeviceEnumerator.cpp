#include "ImagingDeviceEnumerator.h"

#include "InstallLog.h"
#include "NameRules.h"

#include <mbstring.h>
#include <string.h>

namespace {

// Setup class of imaging devices.
const GUID s_guidImaging = {0x6BDD1FC6, 0x810F, 0x11D0, {0xBE, 0xC7, 0x08, 0x00, 0x2B, 0xE2, 0x09, 0x2F}};

// Past this index a failing index ends the walk instead of being skipped.
const int s_idxFailureLimit = 1000;

} // namespace

ImagingDeviceEnumerator::ImagingDeviceEnumerator() : m_idx(0), m_bIncomplete(false)
{
    // Flags 0: every installed device of the class, present or not.
    m_hImagingKey = SetupDiGetClassDevsA(&s_guidImaging, nullptr, nullptr, 0);
}

ImagingDeviceEnumerator::~ImagingDeviceEnumerator()
{
    if (m_hImagingKey != INVALID_HANDLE_VALUE)
        SetupDiDestroyDeviceInfoList(m_hImagingKey);
}

bool ImagingDeviceEnumerator::EnumImagingDevices(PSP_DEVINFO_DATA pdeid, bool bLog, InstallLog *pLog)
{
    if (m_idx == 0)
        m_bIncomplete = false;
    if (m_hImagingKey == INVALID_HANDLE_VALUE) {
        m_bIncomplete = true;
        return false;
    }
    for (;;) {
        BOOL bFound = SetupDiEnumDeviceInfo(m_hImagingKey, static_cast<DWORD>(m_idx), pdeid);
        DWORD dwError = bFound ? ERROR_SUCCESS : GetLastError();
        if (bLog)
            LogPrintf(pLog, "SetupDiEnumDeviceInfo returned %d, m_idx = %d", bFound ? 1 : 0, m_idx);
        if (bFound) {
            m_idx++;
            return true;
        }
        if (dwError != ERROR_NO_MORE_ITEMS)
            m_bIncomplete = true;
        if (dwError == ERROR_NO_MORE_ITEMS || m_idx > s_idxFailureLimit) {
            if (bLog)
                LogPrintf(pLog, "EnumImagingDevices terminating condition, m_idx = %d", m_idx);
            m_idx = 0;
            return false;
        }
        if (bLog)
            LogPrintf(pLog, " EnumImagingDevices non-terminating error, GetLastError returned %d",
                      static_cast<int>(dwError));
        m_idx++;
    }
}

bool ImagingDeviceEnumerator::GetDriverInstance(PSP_DEVINFO_DATA pdeid, char *szInstance, size_t cbInstance, bool bLog,
                                                InstallLog *pLog)
{
    szInstance[0] = '\0';
    char szDriver[260];
    memset(szDriver, 0, sizeof szDriver);
    DWORD cbRequired = 0;
    BOOL bRead = SetupDiGetDeviceRegistryPropertyA(m_hImagingKey, pdeid, SPDRP_DRIVER, nullptr,
                                                   reinterpret_cast<BYTE *>(szDriver), sizeof szDriver, &cbRequired);
    if (!bRead) {
        // A device without a driver key name has no instance; any other failure may hide one.
        if (GetLastError() != ERROR_INVALID_DATA)
            m_bIncomplete = true;
        szDriver[0] = '\0'; // the buffer's content is undefined after a failed read
    }
    szDriver[sizeof szDriver - 1] = '\0';
    if (bLog)
        LogPrintf(pLog, "SetupDiGetDeviceRegistryProperty returned %d, producing %s", bRead ? 1 : 0, szDriver);
    if (!bRead)
        return false;
    // A name cut inside a character would send the search below past its end;
    // what it names cannot be told, so the device counts as unreadable.
    if (EndsInLoneLeadByte(szDriver)) {
        m_bIncomplete = true;
        return false;
    }
    const unsigned char *pBackslash = _mbsrchr(reinterpret_cast<unsigned char *>(szDriver), '\\');
    if (!pBackslash)
        return false;
    const unsigned char *pszSuffix = pBackslash + 1;
    // A suffix cut to the buffer would name another instance: pass the device over.
    if (strlen(reinterpret_cast<const char *>(pszSuffix)) >= cbInstance)
        return false;
    _mbsnbcpy(reinterpret_cast<unsigned char *>(szInstance), pszSuffix, cbInstance);
    return true;
}
