#!/usr/bin/env python3
"""The sample installer packages of examples/msi, end to end under Wine.

  test_msi.py --exe ZULFuncts.exe --variant maddds|addds --work DIR [--arch x86|x64] [--prefix DIR]

Builds the package with wixl around EXE, registers imaging devices, installs
with msiexec /i, checks the data sources and the program's log, removes one
device, uninstalls with msiexec /x and checks again.
"""

import argparse
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
EXAMPLES = os.path.join(ROOT, "examples", "msi")
sys.path.insert(0, os.path.join(ROOT, "scripts", "winetest"))
from zulwine import WinePrefix, windows_path  # noqa: E402

IMAGING = "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}"
TEMPLATE = "qrvgnds2.tmp"


def device(instance, values):
    """A .reg text registering one imaging device with DeviceData values in its driver key."""
    lines = ['[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\ROOT\\IMAGE\\%s]' % instance,
             '"ClassGUID"="%s"' % IMAGING,
             '"Driver"="%s\\\\%s"' % (IMAGING, instance), "",
             '[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\%s\\%s\\DeviceData]' % (IMAGING, instance)]
    lines += ['"%s"="%s"' % (name, value.replace("\\", "\\\\")) for name, value in values]
    return "\n".join(lines) + "\n\n"


def registry(devices):
    return "REGEDIT4\n\n" + "".join(devices)


class Check:
    def __init__(self):
        self.failures = []

    def true(self, condition, message):
        if not condition:
            self.failures.append(message)
            print("FAIL: " + message)
        return condition


class Package:
    """One sample package built around the exe under test, and its prefix."""

    def __init__(self, args, wxs, files, check):
        self.check = check
        self.work = os.path.abspath(args.work)
        stage = os.path.join(self.work, "stage-" + os.path.splitext(wxs)[0])
        shutil.rmtree(stage, ignore_errors=True)
        os.makedirs(stage)
        shutil.copy(os.path.join(EXAMPLES, wxs), stage)
        shutil.copy(args.exe, os.path.join(stage, "ZULFuncts.exe"))
        for name in files:
            shutil.copy(os.path.join(EXAMPLES, name), stage)
        self.msi = os.path.join(stage, os.path.splitext(wxs)[0] + ".msi")
        subprocess.run(["wixl", "-a", args.arch, "-o", self.msi, wxs], cwd=stage, check=True)
        self.prefix = None

    @property
    def twain(self):
        return os.path.join(self.prefix.windows_dir, "twain_32")

    def path(self, *parts):
        return os.path.join(self.twain, *parts)

    def seed(self, *relpaths):
        for rel in relpaths:
            full = self.path(*rel.split("\\"))
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w") as f:
                f.write("data source %s\n" % rel)

    def msiexec(self, mode, step, properties=()):
        """msiexec /i or /x, quiet, with a verbose log; returns the log text."""
        log = os.path.join(self.work, "%s-%s.log" % (os.path.basename(self.msi)[:-4], step))
        if os.path.exists(log):
            os.unlink(log)
        argv = ["wine", "msiexec", mode, windows_path(self.msi), "/qn", "/l*v", windows_path(log)] + list(properties)
        status = subprocess.run(argv, env=self.prefix.env, stdin=subprocess.DEVNULL, timeout=300).returncode
        self.check.true(status == 0, "msiexec %s (%s) ended with status %d" % (mode, step, status))
        try:
            with open(log, "rb") as f:
                data = f.read()
        except OSError:
            data = b""
        text = data.decode("utf-16") if data[:2] == b"\xff\xfe" else data.decode("latin-1")
        print("msiexec %s (%s): status %d, log %s" % (mode, step, status, log))
        return text

    def program_log(self, name):
        """The program's log in the Temp directory, or None."""
        try:
            with open(os.path.join(self.prefix.temp_dir, name), "rb") as f:
                return f.read().decode("latin-1")
        except OSError:
            return None

    def exists(self, rel, expected, why):
        present = os.path.exists(self.path(*rel.split("\\")))
        return self.check.true(present == expected,
                               "twain_32\\%s %s, expected it %s: %s" % (rel, "exists" if present else "is missing",
                                                                      "there" if expected else "gone", why))


def log_has(check, text, name, lines):
    if not check.true(text is not None, "no %s" % name):
        return
    for line in lines:
        check.true(line + "\r\n" in text, "%s lacks the line %r" % (name, line))


def run_maddds(args, prefix, check):
    pkg = Package(args, "ZULFuncts-MAddDS.wxs", [TEMPLATE], check)
    pkg.prefix = prefix
    marked = [("InstallCLSID", "{ABCDEF00-1111-2222-3333-444455556666}"), ("MarelCLSID", "1")]
    plain = [("InstallCLSID", "{12345678-1111-2222-3333-444455556666}")]
    prefix.clean_dirs()
    prefix.replace_registry(registry([device("0000", marked), device("0001", marked), device("0002", plain)]))
    # Left by an earlier step: an inactive data source of 0001, the active one of a device long gone.
    pkg.seed("zorb_0001\\zorb_0001", "zorb_0007\\zorb_0007.ds")

    msi_log = pkg.msiexec("/i", "install")
    check.true("ZulAddDataSources" in msi_log, "the install log does not show the MAddDS action")
    pkg.exists("ZULFuncts.exe", True, "installed")
    pkg.exists(TEMPLATE, True, "installed")
    for instance in ("0000", "0001"):
        ds = "zorb_%s\\zorb_%s.ds" % (instance, instance)
        if pkg.exists(ds, True, "device %s is marked" % instance):
            with open(pkg.path(*ds.split("\\"))) as f, open(os.path.join(EXAMPLES, TEMPLATE)) as t:
                check.true(f.read() == t.read(), "%s is not a copy of the template" % ds)
    pkg.exists("zorb_0001\\zorb_0001", False, "an inactive data source is removed before the copy")
    pkg.exists("zorb_0002", False, "device 0002 is not marked")
    pkg.exists("zorb_0007\\zorb_0007.ds", True, "MAddDS removes nothing of devices that are gone")
    log_has(check, pkg.program_log("_add_ds.log"), "_add_ds.log",
            ["Start Log", "In function MAddTwainDS", "bAdd = 1", "Data source prefix:\tzorb_",
             "Copied to C:\\windows\\twain_32\\zorb_0000\\zorb_0000.ds",
             "Copied to C:\\windows\\twain_32\\zorb_0001\\zorb_0001.ds", "End Log"])

    # Device 0001 is uninstalled before the package is.
    prefix.replace_registry(registry([device("0000", marked), device("0002", plain)]))
    msi_log = pkg.msiexec("/x", "uninstall")
    check.true("ZulRemoveDataSources" in msi_log, "the uninstall log does not show the MRemoveDS action")
    pkg.exists("ZULFuncts.exe", False, "uninstalled")
    pkg.exists(TEMPLATE, False, "uninstalled")
    pkg.exists("zorb_0001", False, "device 0001 no longer exists")
    pkg.exists("zorb_0007", False, "device 0007 no longer exists")
    pkg.exists("zorb_0000\\zorb_0000.ds", True, "device 0000 still exists")
    log_has(check, pkg.program_log("_remove_ds.log"), "_remove_ds.log",
            ["Start Log", "In function MAddTwainDS", "bAdd = 0", "Found Twain_32 directory for Instance 0000",
             "0000 exists", "Found Twain_32 directory for Instance 0001", "Found Twain_32 directory for Instance 0007",
             "End Log"])


def run_addds(args, prefix, check):
    pkg = Package(args, "ZULFuncts-AddDS.wxs", [], check)
    pkg.prefix = prefix
    ours = [("HardwareID", "USB\\VID_1234&PID_0001")]
    ours_lower = [("HardwareID", "usb\\vid_1234&pid_0002")]
    other = [("HardwareID", "USB\\VID_9999&PID_0001")]
    prefix.clean_dirs()
    prefix.replace_registry(registry([device("0000", ours), device("0001", ours_lower), device("0002", other)]))
    # The inactive data sources the devices' driver packages put there.
    pkg.seed("zorb_0000\\zorb_0000", "zorb_0001\\zorb_0001", "zorb_0002\\zorb_0002")

    msi_log = pkg.msiexec("/i", "install")
    check.true("ZulActivateDataSources" in msi_log, "the install log does not show the AddDS action")
    pkg.exists("ZULFuncts.exe", True, "installed")
    for instance in ("0000", "0001"):
        pkg.exists("zorb_%s\\zorb_%s.ds" % (instance, instance), True, "device %s matches VID_1234" % instance)
        pkg.exists("zorb_%s\\zorb_%s" % (instance, instance), False, "renamed to .ds")
    pkg.exists("zorb_0002\\zorb_0002", True, "device 0002 does not match")
    pkg.exists("zorb_0002\\zorb_0002.ds", False, "device 0002 does not match")
    log_has(check, pkg.program_log("_add_ds.log"), "_add_ds.log",
            ["Start Log", "Hardware Identifier:\tVID_1234", "Data source prefix:\tzorb_",
             "New File:\tC:\\windows\\twain_32\\zorb_0000\\zorb_0000.ds",
             "New File:\tC:\\windows\\twain_32\\zorb_0001\\zorb_0001.ds", "End Log"])

    # Device 0001 is uninstalled first; the package is removed with logging off.
    prefix.replace_registry(registry([device("0000", ours), device("0002", other)]))
    pkg.msiexec("/x", "uninstall", ["ZULLOGGING=0"])
    pkg.exists("ZULFuncts.exe", False, "uninstalled")
    pkg.exists("zorb_0000", False, "RemoveDS deletes the data source of a present device, then its empty directory")
    pkg.exists("zorb_0001\\zorb_0001.ds", True, "RemoveDS reaches only devices that are still installed")
    pkg.exists("zorb_0002\\zorb_0002", True, "RemoveDS deletes only .ds files")
    check.true(pkg.program_log("_remove_ds.log") is None, "_remove_ds.log was written with ZULLOGGING=0")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--variant", choices=("maddds", "addds"), required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--arch", choices=("x86", "x64"), default="x86")
    parser.add_argument("--prefix", help="Wine prefix (default: a temporary one)")
    args = parser.parse_args()

    os.makedirs(args.work, exist_ok=True)
    check = Check()
    with WinePrefix(args.prefix) as prefix:
        (run_maddds if args.variant == "maddds" else run_addds)(args, prefix, check)
    print("%d check(s) failed" % len(check.failures) if check.failures else "all checks passed")
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main())
