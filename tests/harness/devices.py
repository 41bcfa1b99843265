"""The .reg text of imaging devices, as the tests register them."""

IMAGING = "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}"
# The values of a device whose data source MAddDS installs, and of one it passes over.
MARKED = [("InstallCLSID", "{ABCDEF00-1111-2222-3333-444455556666}"), ("MarelCLSID", "1")]
PLAIN = [("InstallCLSID", "{12345678-1111-2222-3333-444455556666}")]


def registry(devices):
    """A whole .reg text of (instance, [(name, value)...]) devices, the values in DeviceData of the driver key."""
    out = ["REGEDIT4", ""]
    for instance, values in devices:
        out += ["[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\ROOT\\IMAGE\\%s]" % instance,
                '"ClassGUID"="%s"' % IMAGING, '"Driver"="%s\\\\%s"' % (IMAGING, instance), "",
                "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\%s\\%s\\DeviceData]"
                % (IMAGING, instance)]
        out += ['"%s"="%s"' % (name, value.replace("\\", "\\\\")) for name, value in values]
        out.append("")
    return "\n".join(out) + "\n"
