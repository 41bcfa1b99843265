#!/usr/bin/env python3
"""What the Windows exe costs an installer author: its size in the package and
the DLLs it needs on a clean Windows.

  test_footprint.py --exe ZULFuncts.exe [--dll ZULFuncts.dll] [--max-kib N]

Checks: the exe is stripped, at most N KiB when given, a GUI-subsystem
program (no console window), marked for address-space randomisation, no
execution of data and Terminal-Server awareness (and, in 64 bits, the full
range of randomisation), and its static imports name only system DLLs:
KERNEL32, ADVAPI32, SETUPAPI and the C runtime. USER32 is no static import:
the program loads it only to show the usage box, so that every other run
starts without it. The DLL form is held to the same, with MSI added to its
imports; Terminal-Server awareness is an exe's.
"""

import argparse
import os
import struct
import sys

SYSTEM_DLLS = {"kernel32.dll", "advapi32.dll", "setupapi.dll", "msvcrt.dll"}
LOADED_ON_DEMAND = {"user32.dll"}
SUBSYSTEM_WINDOWS_GUI = 2
DIR_IMPORT = 1
DLLCHARACTERISTICS = {
    "HIGH_ENTROPY_VA": 0x0020,
    "DYNAMIC_BASE": 0x0040,
    "NX_COMPAT": 0x0100,
    # Without it, a Remote Desktop host gives the program a private Windows directory per user.
    "TERMINAL_SERVER_AWARE": 0x8000,
}
DIR_DELAY_IMPORT = 13


class PeFile:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        (self.machine, sections, _stamp, self.symbol_table, self.symbols, optional_size,
         _characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        opt = pe + 24
        magic = struct.unpack_from("<H", data, opt)[0]
        if magic == 0x10B:
            dirs_at = opt + 96
        elif magic == 0x20B:
            dirs_at = opt + 112
        else:
            raise ValueError("unknown optional header 0x%x" % magic)
        self.pe32plus = magic == 0x20B
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data, opt + 68)
        count = struct.unpack_from("<I", data, dirs_at - 4)[0]
        self.dirs = [struct.unpack_from("<II", data, dirs_at + 8 * i) for i in range(count)]
        self.sections = []
        table = opt + optional_size
        for i in range(sections):
            name, vsize, va, raw_size, raw_at = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode("latin-1"), va, max(vsize, raw_size), raw_at))

    def offset(self, rva):
        for _name, va, size, raw_at in self.sections:
            if va <= rva < va + size:
                return raw_at + rva - va
        raise ValueError("RVA 0x%x is in no section" % rva)

    def cstring(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("latin-1")

    def imported_dlls(self, index=DIR_IMPORT, entry_size=20, name_field=3):
        if index >= len(self.dirs) or self.dirs[index][0] == 0:
            return []
        names = []
        at = self.offset(self.dirs[index][0])
        while True:
            fields = struct.unpack_from("<%dI" % (entry_size // 4), self.data, at)
            if not any(fields):
                return names
            names.append(self.cstring(fields[name_field]))
            at += entry_size

    def delay_imported_dlls(self):
        # ImgDelayDescr: attributes, DLL name RVA, ... (32 bytes).
        return self.imported_dlls(DIR_DELAY_IMPORT, 32, 1)


def check(path, max_kib, is_dll):
    with open(path, "rb") as f:
        data = f.read()
    pe = PeFile(data)
    imports = pe.imported_dlls()
    delayed = pe.delay_imported_dlls()
    flags = [name for name, bit in DLLCHARACTERISTICS.items() if pe.dll_characteristics & bit]
    print("%s: %d bytes (%.1f KiB), %s, %s, imports %s%s" % (
        os.path.basename(path), len(data), len(data) / 1024.0, "PE32+" if pe.pe32plus else "PE32",
        " ".join(flags) or "no DLL characteristics", ", ".join(imports),
        ("; delay-loads " + ", ".join(delayed)) if delayed else ""))

    failures = []
    if max_kib is not None and len(data) > max_kib * 1024:
        failures.append("%d bytes is over %g KiB" % (len(data), max_kib))
    if pe.symbol_table or pe.symbols:
        failures.append("not stripped: %d COFF symbols" % pe.symbols)
    if pe.subsystem != SUBSYSTEM_WINDOWS_GUI and not is_dll:
        failures.append("subsystem %d, expected the GUI subsystem" % pe.subsystem)
    wanted = (["DYNAMIC_BASE", "NX_COMPAT"] + ([] if is_dll else ["TERMINAL_SERVER_AWARE"])
              + (["HIGH_ENTROPY_VA"] if pe.pe32plus else []))
    for name in wanted:
        if name not in flags:
            failures.append("%s is not set" % name)
    system = SYSTEM_DLLS | ({"msi.dll"} if is_dll else set())
    for name in imports + delayed:
        if name.lower() not in system | LOADED_ON_DEMAND:
            failures.append("imports %s, which is no system DLL" % name)
    for name in imports:
        if name.lower() in LOADED_ON_DEMAND:
            failures.append("imports %s statically: every run would pay for loading it" % name)
    for name in ("kernel32.dll", "msvcrt.dll"):
        if name not in (i.lower() for i in imports):
            failures.append("no import of %s: is this the program?" % name)
    return ["%s: %s" % (os.path.basename(path), failure) for failure in failures]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--dll")
    parser.add_argument("--max-kib", type=float)
    args = parser.parse_args()

    failures = check(args.exe, args.max_kib, False)
    if args.dll:
        failures += check(args.dll, args.max_kib, True)
    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
