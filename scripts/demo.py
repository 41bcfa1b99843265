#!/usr/bin/env python3
"""The main job, shown on a sample machine.

Two imaging devices, 0000 carrying the marker value MarelCLSID and 0001 without
it; the template qrvgnds2.tmp in the TWAIN directory and a left-over
extension-less data source zorb_0000\\zorb_0000. The installer's two steps:
MAddDS, then device 0000 is uninstalled (its keys leave the registry) and
MRemoveDS sweeps. Once natively on the stand-in's sysroot, once as the i686
exe under Wine. The data-source tree is shown after each step, then the logs.
Under Wine the template is a minimal data source (tests/client), and after each
step the demo also shows what a scanner application sees: the data sources the
TWAIN Data Source Manager lists.

Started by scripts/demo, which installs what is missing and builds the two
programs first.
"""

import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "scripts", "winetest"))

GUID = "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}"


def device(instance, values):
    return ('[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\ROOT\\IMAGE\\%s]\n'
            '"ClassGUID"="%s"\n"Driver"="%s\\\\%s"\n\n'
            '[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\%s\\%s\\DeviceData]\n%s\n\n'
            % (instance, GUID, GUID, instance, GUID, instance, values))


SCANNER_WITH_MARKER = device("0000", '"InstallCLSID"="{ABCDEF00-1111-2222-3333-444455556666}"\n"MarelCLSID"="1"')
OTHER_SCANNER = device("0001", '"InstallCLSID"="{12345678-1111-2222-3333-444455556666}"')
BOTH = "REGEDIT4\n\n" + SCANNER_WITH_MARKER + OTHER_SCANNER
AFTER_UNINSTALL = "REGEDIT4\n\n" + OTHER_SCANNER


def seed(windows_dir):
    twain = os.path.join(windows_dir, "twain_32")
    shutil.rmtree(twain, ignore_errors=True)
    os.makedirs(os.path.join(twain, "zorb_0000"))
    with open(os.path.join(twain, "qrvgnds2.tmp"), "w") as f:
        f.write("generic data source template\n")
    with open(os.path.join(twain, "zorb_0000", "zorb_0000"), "w") as f:
        f.write("left over by an earlier install step\n")


def show_tree(title, windows_dir):
    print("  %s:" % title)
    twain = os.path.join(windows_dir, "twain_32")
    for dirpath, dirnames, filenames in os.walk(twain):
        dirnames.sort()
        rel = os.path.relpath(dirpath, windows_dir)
        depth = rel.count(os.sep)
        print("    " + "  " * depth + os.path.basename(dirpath) + "\\")
        for name in sorted(filenames):
            print("    " + "  " * (depth + 1) + name)


def show_logs(temp_dir):
    for name in ("_add_ds.log", "_remove_ds.log"):
        path = os.path.join(temp_dir, name)
        if os.path.isfile(path):
            print("  --- %s" % name)
            with open(path, "rb") as f:
                for line in f.read().decode("latin-1").split("\r\n"):
                    print("    " + line.replace("\t", "    "))


def native(scratch):
    print("== natively, on the stand-in's sysroot")
    sysroot = os.path.join(scratch, "sysroot")
    windows_dir = os.path.join(sysroot, "windows")
    temp = os.path.join(scratch, "temp")
    os.makedirs(windows_dir)
    os.makedirs(temp)
    seed(windows_dir)
    env = dict(os.environ, ZULFUNCTS_SYSROOT=sysroot, TMPDIR=temp + "/")
    exe = os.path.join(ROOT, "build", "native", "ZULFuncts")
    show_tree("before", windows_dir)
    for registry, command in ((BOTH, "MAddDS"), (AFTER_UNINSTALL, "MRemoveDS")):
        with open(os.path.join(sysroot, "registry.reg"), "w") as f:
            f.write(registry)
        status = subprocess.run([exe, command], env=env).returncode
        show_tree("after %s (exit status %d)" % (command, status), windows_dir)
    show_logs(temp)


CLIENT = os.path.join(ROOT, "build", "mingw-i686", "tests", "wine", "client")
DSM = os.path.join(ROOT, "tests", "client", "TWAINDSM.dll")


def show_sources(prefix):
    from twainclient import list_data_sources
    names = list_data_sources(prefix, os.path.join(CLIENT, "twainlist.exe"), DSM)
    print("    the TWAIN Data Source Manager lists: %s" % (", ".join(names) or "nothing"))


def wine(scratch):
    print("== the Windows exe (i686) under Wine")
    from zulwine import WinePrefix
    exe = os.path.join(ROOT, "build", "mingw-i686", "ZULFuncts.exe")
    with WinePrefix(os.path.join(scratch, "prefix")) as prefix:
        prefix.clean_dirs()
        seed(prefix.windows_dir)
        # Real data sources, so that the manager has something to load.
        for rel in ("qrvgnds2.tmp", os.path.join("zorb_0000", "zorb_0000")):
            shutil.copyfile(os.path.join(CLIENT, "minids.dll"), os.path.join(prefix.windows_dir, "twain_32", rel))
        show_tree("before", prefix.windows_dir)
        show_sources(prefix)
        for registry, command in ((BOTH, "MAddDS"), (AFTER_UNINSTALL, "MRemoveDS")):
            prefix.replace_registry(registry)
            status = prefix.run(exe, command)
            show_tree("after %s (exit status %d)" % (command, status), prefix.windows_dir)
            show_sources(prefix)
        show_logs(prefix.temp_dir)


def main():
    scratch = tempfile.mkdtemp(prefix="zulfuncts-demo-")
    try:
        native(scratch)
        print()
        wine(scratch)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
