#!/usr/bin/env python3
"""The exe's version resource and manifest, read back under Wine the way
Windows reads them (GetFileVersionInfoA, VerQueryValueA, FindResourceA).

  test_resources.py --exe ZULFuncts.exe --verinfo verinfo.exe --checkout DIR [--prefix DIR]

The version is the checkout's, worked out here again from git: VERSION's
A.B.C and, as D, the commits since VERSION last changed; the file version
string names the commit. Uncommitted changes to tracked files make a private
build. Without git: D is 0 and the commit unknown.
"""

import argparse
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

from harness.wine import WinePrefix, windows_path

VFT_APP = 1
VFT_DLL = 2
VS_FF_PRIVATEBUILD = 0x8
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPAT = "{urn:schemas-microsoft-com:compatibility.v1}"
SUPPORTED_OS = {
    "35138b9a-5d96-4fbd-8e2d-a2440225f93a": "Windows 7",
    "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38": "Windows 8",
    "1f676c76-80e1-4239-95bb-83d0f6d0da78": "Windows 8.1",
    "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a": "Windows 10 and 11",
}


def read_back(prefix, verinfo, exe):
    with tempfile.TemporaryFile() as out:
        status = prefix.run(verinfo, '"%s"' % windows_path(exe), stdout=out)
        out.seek(0)
        text = out.read().decode("utf-8", "replace").replace("\r\n", "\n")
    head, _, manifest = text.partition("manifest:\n")
    values = dict(line.split("=", 1) for line in head.splitlines() if "=" in line)
    return status, values, manifest


def git(checkout, *args):
    res = subprocess.run(["git", *args], cwd=checkout, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    return res.stdout.decode().strip() if res.returncode == 0 else ""


def expected_version(checkout):
    """(X.Y.Z.N, file version string, private) of the checkout."""
    with open("%s/VERSION" % checkout, encoding="utf-8") as f:
        base = f.read().strip()
    head = git(checkout, "rev-parse", "--short=12", "HEAD")
    if not head:
        return base + ".0", base + ".0 (unknown commit)", False
    changed = git(checkout, "log", "-1", "--format=%H", "--", "VERSION")
    count = git(checkout, "rev-list", "--count", changed + "..HEAD") if changed else "0"
    private = bool(git(checkout, "status", "--porcelain", "--untracked-files=no"))
    return "%s.%s" % (base, count), "%s.%s (g%s)" % (base, count, head), private


def check_version(values, version, text, private, is_dll=False):
    failures = []
    expected = {
        "fixed.flags": str(VS_FF_PRIVATEBUILD if private else 0),
        "fixed.file": version,
        "fixed.product": version,
        "fixed.type": str(VFT_DLL if is_dll else VFT_APP),
        "string.FileVersion": text,
        "string.ProductVersion": version,
        "string.OriginalFilename": "ZULFuncts.dll" if is_dll else "ZULFuncts.exe",
        "string.ProductName": "ZULFuncts",
    }
    for name, value in expected.items():
        if values.get(name) != value:
            failures.append("%s is %r, expected %r" % (name, values.get(name), value))
    if not values.get("string.FileDescription", "").strip():
        failures.append("no FileDescription")
    if not re.fullmatch(r"[1-9]\d*\.\d+\.\d+\.\d+ \((g[0-9a-f]{12}|unknown commit)\)", text):
        failures.append("FileVersion %r is not X.Y.Z.N (g<commit>)" % text)
    if private != ("string.PrivateBuild" in values):
        failures.append("PrivateBuild is %r on a checkout %s changes"
                        % (values.get("string.PrivateBuild"), "with" if private else "without"))
    if not re.fullmatch(r"Copyright \(C\) \d{4} \S.*", values.get("string.LegalCopyright", "")):
        failures.append("no LegalCopyright")
    return failures


def check_manifest(text):
    try:
        root = ET.fromstring(text.rstrip("\0\n").encode("utf-8"))
    except ET.ParseError as e:
        return ["the manifest is no well-formed XML: %s" % e]
    failures = []
    levels = root.findall(".//%srequestedExecutionLevel" % ASM_V3)
    if len(levels) != 1 or levels[0].get("level") != "asInvoker" or levels[0].get("uiAccess") != "false":
        failures.append("requestedExecutionLevel is not asInvoker without uiAccess")
    found = {e.get("Id", "").strip("{}").lower() for e in root.findall(".//%ssupportedOS" % COMPAT)}
    for guid, name in SUPPORTED_OS.items():
        if guid not in found:
            failures.append("no supportedOS entry for %s" % name)
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--dll", required=True)
    parser.add_argument("--verinfo", required=True)
    parser.add_argument("--checkout", required=True, help="the source directory")
    parser.add_argument("--prefix")
    args = parser.parse_args()

    with WinePrefix(args.prefix) as prefix:
        status, values, manifest = read_back(prefix, args.verinfo, args.exe)
        dll_status, dll_values, _ = read_back(prefix, args.verinfo, args.dll)
    for name in sorted(values):
        print("%s = %s" % (name, values[name]))
    failures = [] if status == 0 and dll_status == 0 else ["verinfo ended with status %d, %d" % (status, dll_status)]
    failures += check_version(values, *expected_version(args.checkout))
    failures += ["ZULFuncts.dll: " + f for f in check_version(dll_values, *expected_version(args.checkout), True)]
    failures += check_manifest(manifest)
    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
