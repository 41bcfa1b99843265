#!/usr/bin/env python3
"""The exe's version resource and manifest, read back under Wine the way
Windows reads them (GetFileVersionInfoA, VerQueryValueA, FindResourceA).

  test_resources.py --exe ZULFuncts.exe --verinfo verinfo.exe --version A.B.C.D
                    --version-text TEXT [--prefix DIR]

The version is the build's (git describe: the last vA.B.C tag and D commits
since); its text, the file version string, names the commit, and a checkout
without a tag says so.
"""

import argparse
import re
import sys
import tempfile
import xml.etree.ElementTree as ET

from harness.wine import WinePrefix, windows_path

VFT_APP = 1
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


def check_version(values, version, text):
    failures = []
    expected = {
        "fixed.file": version,
        "fixed.product": version,
        "fixed.type": str(VFT_APP),
        "string.FileVersion": text,
        "string.ProductVersion": version,
        "string.OriginalFilename": "ZULFuncts.exe",
        "string.ProductName": "ZULFuncts",
    }
    for name, value in expected.items():
        if values.get(name) != value:
            failures.append("%s is %r, expected %r" % (name, values.get(name), value))
    if not values.get("string.FileDescription", "").strip():
        failures.append("no FileDescription")
    shape = r"0\.0\.0\.0 \(untagged( [0-9a-f]+)?\)" if version == "0.0.0.0" else \
        re.escape(version) + r" \(v\d+\.\d+\.\d+-\d+-g[0-9a-f]+\)"
    if not re.fullmatch(shape, values.get("string.FileVersion", "")):
        failures.append("FileVersion does not name the tag and commit, or that there is no tag")
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
    parser.add_argument("--verinfo", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--version-text", required=True)
    parser.add_argument("--prefix")
    args = parser.parse_args()

    with WinePrefix(args.prefix) as prefix:
        status, values, manifest = read_back(prefix, args.verinfo, args.exe)
    for name in sorted(values):
        print("%s = %s" % (name, values[name]))
    failures = [] if status == 0 else ["verinfo ended with status %d" % status]
    failures += check_version(values, args.version, args.version_text)
    failures += check_manifest(manifest)
    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
