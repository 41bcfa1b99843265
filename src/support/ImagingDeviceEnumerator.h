// The system's list of imaging devices, handed out one device at a time.
#pragma once

#include <windows.h>

#include <setupapi.h>

#include <stddef.h>

class InstallLog;

class ImagingDeviceEnumerator
{
public:
    ImagingDeviceEnumerator();
    virtual ~ImagingDeviceEnumerator();

    // Delivers the device at the cursor into pdeid. Indices that fail are
    // skipped; the end of the list sets the cursor back to the first device.
    bool EnumImagingDevices(PSP_DEVINFO_DATA pdeid, bool bLog, InstallLog *pLog);

    // The text after the last backslash of the device's driver key name.
    bool GetDriverInstance(PSP_DEVINFO_DATA pdeid, char *szInstance, size_t cbInstance, bool bLog, InstallLog *pLog);

    HDEVINFO m_hImagingKey;
    int m_idx;
    // Set when the last walk may have missed a device: the list could not be
    // taken, an index failed for another reason than the end of the list, a
    // driver key name could not be read for another reason than its absence,
    // or its suffix names no usable instance (set by the installer, which
    // knows the prefix).
    bool m_bIncomplete;

private:
    ImagingDeviceEnumerator(const ImagingDeviceEnumerator &) = delete;
    ImagingDeviceEnumerator &operator=(const ImagingDeviceEnumerator &) = delete;
};
