#!/usr/bin/env python3
"""What a scanner application sees in a Wine prefix: the data sources the TWAIN
Data Source Manager lists, through the lister of tests/client; and the .reg
text of imaging devices, as the tests register them.

Importable only:
  list_data_sources(prefix, lister, dsm)  product names, in the manager's order
  imaging_device(instance, values)        .reg sections of one device
  registry(devices)                       a whole .reg text
"""

import os
import tempfile

from zulwine import WineError, windows_path

IMAGING = "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}"


def imaging_device(instance, values):
    """.reg sections registering one imaging device with (name, value) pairs in DeviceData of its driver key."""
    lines = ['[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\ROOT\\IMAGE\\%s]' % instance,
             '"ClassGUID"="%s"' % IMAGING,
             '"Driver"="%s\\\\%s"' % (IMAGING, instance), "",
             '[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\%s\\%s\\DeviceData]' % (IMAGING, instance)]
    lines += ['"%s"="%s"' % (name, value.replace("\\", "\\\\")) for name, value in values]
    return "\n".join(lines) + "\n\n"


def registry(devices):
    return "REGEDIT4\n\n" + "".join(devices)


def list_data_sources(prefix, lister, dsm, timeout=60):
    """The product names the manager (the DLL dsm) lists, one per data source it loaded.

    Raises WineError with the lister's message when it fails.
    """
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        status = prefix.run(lister, '"%s"' % windows_path(os.path.abspath(dsm)), stdout=out, stderr=err,
                            timeout=timeout)
        out.seek(0)
        err.seek(0)
        text = out.read().decode("latin-1")
        if status != 0:
            raise WineError("the lister ended with status %d: %s" % (status, err.read().decode("latin-1").strip()))
    return [line for line in text.splitlines() if line]
