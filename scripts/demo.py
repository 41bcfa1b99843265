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
import tempfile

from harness.devices import MARKED, PLAIN, registry
from harness.machine import NativeMachine, WineMachine, read_log
from harness.wine import ROOT, WinePrefix, list_data_sources

BOTH = registry([("0000", MARKED), ("0001", PLAIN)])
AFTER_UNINSTALL = registry([("0001", PLAIN)])
CLIENT = os.path.join(ROOT, "build", "mingw-i686", "tests", "wine", "client")
DSM = os.path.join(ROOT, "tests", "client", "TWAINDSM.dll")


def seed(windows_dir, source):
    """The template and a left-over data source: copies of source, or text without one."""
    twain = os.path.join(windows_dir, "twain_32")
    shutil.rmtree(twain, ignore_errors=True)
    os.makedirs(os.path.join(twain, "zorb_0000"))
    for rel, text in (("qrvgnds2.tmp", "generic data source template\n"),
                      (os.path.join("zorb_0000", "zorb_0000"), "left over by an earlier install step\n")):
        if source:
            shutil.copyfile(source, os.path.join(twain, rel))
        else:
            with open(os.path.join(twain, rel), "w") as f:
                f.write(text)


def show_tree(title, windows_dir):
    print("  %s:" % title)
    twain = os.path.join(windows_dir, "twain_32")
    for dirpath, dirnames, filenames in os.walk(twain):
        dirnames.sort()
        depth = os.path.relpath(dirpath, windows_dir).count(os.sep)
        print("    " + "  " * depth + os.path.basename(dirpath) + "\\")
        for name in sorted(filenames):
            print("    " + "  " * (depth + 1) + name)


def job(machine, show_sources=None):
    """Both steps on the machine, with the tree (and what the manager lists) after each, then the logs."""
    show_tree("before", machine.windows_dir)
    if show_sources:
        show_sources()
    for text, command in ((BOTH, "MAddDS"), (AFTER_UNINSTALL, "MRemoveDS")):
        machine.set_registry(text)
        status = machine.run(command)
        show_tree("after %s (exit status %d)" % (command, status), machine.windows_dir)
        if show_sources:
            show_sources()
    for name in ("_add_ds.log", "_remove_ds.log"):
        log = read_log(machine, name)
        if log is not None:
            print("  --- %s" % name)
            for line in log.split("\r\n"):
                print("    " + line.replace("\t", "    "))


def main():
    scratch = tempfile.mkdtemp(prefix="zulfuncts-demo-")
    try:
        print("== natively, on the stand-in's sysroot")
        os.makedirs(os.path.join(scratch, "temp"))
        machine = NativeMachine(os.path.join(ROOT, "build", "native", "ZULFuncts"), os.path.join(scratch, "sysroot"),
                                os.path.join(scratch, "temp"))
        seed(machine.windows_dir, None)
        job(machine)
        print()
        print("== the Windows exe (i686) under Wine")
        machine = WineMachine(os.path.join(ROOT, "build", "mingw-i686", "ZULFuncts.exe"),
                              WinePrefix(os.path.join(scratch, "prefix")))
        try:
            machine.clean()
            # Real data sources, so that the manager has something to load.
            seed(machine.windows_dir, os.path.join(CLIENT, "minids.dll"))

            def show_sources():
                names = list_data_sources(machine.prefix, os.path.join(CLIENT, "twainlist.exe"), DSM)
                print("    the TWAIN Data Source Manager lists: %s" % (", ".join(names) or "nothing"))
            job(machine, show_sources)
        finally:
            machine.prefix.close()
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
