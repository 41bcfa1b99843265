#!/usr/bin/env python3
"""What a scanner application sees after each step of the program: the data
sources the TWAIN Data Source Manager lists under Wine, with a minimal data
source as the template.

  test_dsm.py --exe ZULFuncts.exe --source minids.dll --lister twainlist.exe --dsm TWAINDSM.dll
              --prefix DIR [--launcher LAUNCHER] [--source64 DLL --lister64 EXE --dsm64 DLL]

Devices: 0000 and 0001 are marked (MarelCLSID); 0000 and 0002 have an
InstallCLSID, 0002's holding AAAA-BBBB. Each step asserts the whole list; the
manager's order follows the host's directory order, so lists are compared
sorted. With the 64-bit helpers (a 64-bit prefix), twain_64 holds 64-bit data
sources the exe's commands must leave alone, whatever its own bitness: the
64-bit manager lists the same ones after every step.
"""

import argparse
import os
import shutil
import sys

from harness.devices import MARKED, registry
from harness.wine import WinePrefix, list_data_sources

MARKED_0000 = ("0000", MARKED)
MARKED_0001 = ("0001", [("MarelCLSID", "1")])
PLAIN_0002 = ("0002", [("InstallCLSID", "{12345678-AAAA-BBBB-3333-444455556666}")])


def source(instance):
    return "Test source zorb_" + instance


def main():
    parser = argparse.ArgumentParser()
    for name in ("--exe", "--source", "--lister", "--dsm", "--prefix"):
        parser.add_argument(name, required=True)
    parser.add_argument("--launcher")
    for name in ("--source64", "--lister64", "--dsm64"):
        parser.add_argument(name)
    args = parser.parse_args()

    failures = []
    with WinePrefix(args.prefix, launcher=args.launcher) as prefix:
        twain = os.path.join(prefix.windows_dir, "twain_32")
        # A marked device's, a gone device's and an inactive one of a device with an identifier.
        twain64 = ["zorb_0000\\zorb_0000.ds", "zorb_0007\\zorb_0007.ds", "zorb_0002\\zorb_0002"]
        listed64 = [source("0000"), source("0007")] if args.source64 else []

        def expect(step, names):
            listed = list_data_sources(prefix, args.lister, args.dsm)
            print("%-58s %s" % (step + ":", ", ".join(listed) or "(nothing)"))
            if sorted(listed) != sorted(names):
                failures.append("%s: the manager lists %s, expected %s" % (step, listed, sorted(names)))
            if args.source64:
                listed = list_data_sources(prefix, args.lister64, args.dsm64)
                print("%-58s %s" % ("  the 64-bit manager:", ", ".join(listed) or "(nothing)"))
                if sorted(listed) != listed64:
                    failures.append("%s: the 64-bit manager lists %s, expected %s" % (step, listed, listed64))

        def zulfuncts(command):
            status = prefix.run(args.exe, command)
            if status != 0:
                failures.append("%s: exit status %d" % (command, status))

        # Wine's own gphoto2.ds and sane.ds go with twain_32.
        prefix.clean_dirs()
        os.makedirs(twain)
        shutil.copyfile(args.source, os.path.join(twain, "qrvgnds2.tmp"))
        for rel in twain64 if args.source64 else []:
            path = os.path.join(prefix.windows_dir, "twain_64", *rel.split("\\"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            shutil.copyfile(args.source64, path)
        prefix.replace_registry(registry([MARKED_0000, MARKED_0001, PLAIN_0002]))
        expect("before, the template alone", [])

        zulfuncts("MAddDS")
        expect("MAddDS", [source("0000"), source("0001")])

        # An installer delivers 0002's data source inactive.
        os.makedirs(os.path.join(twain, "zorb_0002"))
        shutil.copyfile(args.source, os.path.join(twain, "zorb_0002", "zorb_0002"))
        expect("an extension-less source for 0002", [source("0000"), source("0001")])

        zulfuncts("AddDS AAAA-BBBB zorb_ DeviceData InstallCLSID params")
        expect("AddDS AAAA-BBBB", [source("0000"), source("0001"), source("0002")])

        prefix.replace_registry(registry([MARKED_0001, PLAIN_0002]))
        zulfuncts("MRemoveDS")
        expect("device 0000 gone, MRemoveDS", [source("0001"), source("0002")])

        # 0001 has no InstallCLSID: RemoveDS passes it over.
        zulfuncts("RemoveDS zorb_ DeviceData InstallCLSID params")
        expect("RemoveDS", [source("0001")])

        prefix.replace_registry("")
        prefix.clean_dirs()

    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
