#!/usr/bin/env python3
"""The sample installer packages of examples/msi through their life cycle,
under Wine's msiexec.

  test_msi.py --exe ZULFuncts.exe --dll ZULFuncts.dll --form dll|exe --package maddds|addds|twain64 --work DIR
              [--arch x86|x64] [--prefix DIR] --holder holdopen.exe
              --source minids.dll --lister twainlist.exe --dsm TWAINDSM.dll
              [--source64 minids.dll --lister64 twainlist.exe --dsm64 TWAINDSM.dll]

EXE and DLL are what the packages ship: the i686 builds, in x86 and x64
packages alike; FORM says which the samples use. Each case starts from an empty TWAIN directory with no sample product
installed, builds its packages with examples/msi/wixl-build, runs msiexec
through cmd (which reports its whole exit status, where Wine's own exit status
keeps only the low 8 bits) and, after every step, checks the status, every
entry below twain_32 and what a scanner application sees: the TWAIN Data
Source Manager must list exactly the .ds files there. The template and every
data source the test puts in place are the minimal data source of
tests/client, which the manager lists as "Test source <its file name>".

twain64: the packages with a twain_64 set under Wine's 64-bit msiexec, with
the x86_64 build of the minimal data source and the 64-bit manager for twain_64.
"""

import argparse
import filecmp
import os
import re
import shutil
import subprocess
import sys
import time

from harness.devices import MARKED, PLAIN, registry
from harness.machine import read_log
from harness.wine import ROOT, WinePrefix, list_data_sources, windows_path

EXAMPLES = os.path.join(ROOT, "examples", "msi")

TEMPLATE = "qrvgnds2.tmp"
TEMPLATE64_SOURCE = "qrvgnds2-64.tmp"
SKIPPED = 77

# msiexec's exit statuses as Wine 8 reports them. Windows reports a failed
# custom action as 1603 (its log shows error 1722 first); Wine as 1627.
SUCCESS = 0
ACTION_FAILED = 1627
INSTALL_FAILURE = 1603

# A deferred action after the data-source action that fails on purpose: the
# program refuses an unknown command word (the exe with status 1). Anchored
# on the unit's action through a property-setting one, which must not move
# RemoveExistingProducts.
PROGRAM = {"exe": 'FileKey="ZULFunctsExe" ExeCommand="NoSuchCommand"',
           "dll": 'BinaryKey="ZULFunctsDll" DllEntry="RunCommand"'}
FAILING_ACTION = ('<Property Id="ZulTestFailure" Value="NoSuchCommand"/>\n'
                  '<CustomAction Id="ZulTestFailure" %s Execute="deferred" Impersonate="no" Return="check"/>\n'
                  '<CustomAction Id="ZulTestMark" Property="ZulTestMarked" Value="1"/>\n')
FAILING_STEP = ('<InstallExecuteSequence><Custom Action="ZulTestMark" After="$(var.ZulTestAnchor)"/>'
                '<Custom Action="ZulTestFailure" After="ZulTestMark">NOT REMOVE~="ALL"</Custom>'
                '</InstallExecuteSequence>')
# The same, on an uninstall, after the removal.
FAILING_UNINSTALL_STEP = ('<InstallExecuteSequence><Custom Action="ZulTestFailure" After="ZulRemoveDataSources">'
                          'REMOVE~="ALL" AND NOT ZULTESTPASS</Custom></InstallExecuteSequence>')
# How Wine 8's msiexec ends when a deferred action failed: an exe's status 1
# gives 1627, a DLL's ERROR_INSTALL_FAILURE gives 1603, as on Windows.
FAILED = {"exe": ACTION_FAILED, "dll": INSTALL_FAILURE}

# Products that break a rule of the table checker, and what it says.
FAULTS = {
    "dropped": ('<CustomAction Id="ZulTestDropped" Directory="INSTALLDIR" ExeCommand="cmd /c exit" '
                'Execute="deferred" Impersonate="no"/><InstallExecuteSequence><Custom Action="ZulTestDropped" '
                'After="ZulAddDataSources"/></InstallExecuteSequence>',
                r"InstallExecuteSequence row ZulTestDropped \(\d+\): no CustomAction row, and not a standard action"),
    "late-rollback": ('<!-- msicheck\n  rollback ZulTestUndo ZulAddDataSources\n-->'
                      '<CustomAction Id="ZulTestUndo" %s '
                      'Execute="rollback" Impersonate="no" Return="ignore"/><InstallExecuteSequence>'
                      '<Custom Action="ZulTestUndo" After="ZulAddDataSources"/></InstallExecuteSequence>',
                      r"InstallExecuteSequence row ZulTestUndo \(\d+\): the rollback of ZulAddDataSources \(\d+\) "
                      r"comes after it"),
}

# Windows' RemoveExistingProducts uninstalls the old product with
# UPGRADINGPRODUCTCODE set to the new product code; Wine 8's passes only
# REMOVE=ALL, so the old product's clean-up would run as on a plain
# uninstall. An upgrade package of the test does in its place, at the same
# point of the sequence, what Windows does.
WINDOWS_UPGRADE_ACTION = ('<Property Id="ZulTestMsiexec" Value="msiexec.exe"/>\n'
                          '<CustomAction Id="ZulTestRemoveExistingProducts" Property="ZulTestMsiexec" '
                          'ExeCommand="/x [WIX_UPGRADE_DETECTED] /qn UPGRADINGPRODUCTCODE=[ProductCode]" '
                          'Return="check"/>\n')
WINDOWS_UPGRADE_STEP = ('<InstallExecuteSequence><Custom Action="ZulTestRemoveExistingProducts" Sequence="1402">'
                        'WIX_UPGRADE_DETECTED</Custom></InstallExecuteSequence>')


def entries(*paths):
    """The entries below twain_32 that these files make: each file and its directories."""
    out = set()
    for path in paths:
        parts = path.split("\\")
        out.update("\\".join(parts[:i]) + "\\" for i in range(1, len(parts)))
        out.add(path)
    return out


def data_source(instance, active=True):
    name = "zorb_%s\\zorb_%s" % (instance, instance)
    return name + ".ds" if active else name


class Lab:
    """Packages built around the exe under test, the prefix, and the checks."""

    def __init__(self, args, prefix):
        self.exe = os.path.abspath(args.exe)
        self.source = os.path.abspath(args.source)
        self.lister = os.path.abspath(args.lister)
        self.dsm = os.path.abspath(args.dsm)
        self.arch = args.arch
        self.dll = os.path.abspath(args.dll)
        self.form = args.form
        self.holder = os.path.abspath(args.holder)
        self.answer = os.path.abspath(args.answer)
        self.failed = FAILED[args.form]
        self.source64 = args.source64 and os.path.abspath(args.source64)
        self.clients = {"twain_32": (self.lister, self.dsm)}
        if args.source64:
            self.clients["twain_64"] = (os.path.abspath(args.lister64), os.path.abspath(args.dsm64))
        self.msiexec64 = args.package == "twain64"
        self.work = os.path.abspath(args.work)
        self.prefix = prefix
        self.failures = []
        self.built = []
        self.case = None

    # -- packages ---------------------------------------------------------

    def build(self, wxs, version="1.0.0", failing=False, hardware_id=None, text=None, fault=None,
              anchor="ZulAddDataSources", templates=None, refused=None, arch=None):
        """Builds the sample wxs as version VERSION, with the failing action
        (after ANCHOR) added or another default for ZULHARDWAREID if asked.
        With FAULT (a key of FAULTS) or REFUSED (a pattern), the build must
        fail with the checker's text.

        Any version but 1.0.0 is an upgrade package: it removes the old
        version as Windows does (WINDOWS_UPGRADE_ACTION).
        """
        name = "%s-%s%s%s%s" % (os.path.splitext(wxs)[0], version, "-failing-" + failing if failing else "",
                                "" if hardware_id is None else "-id%d" % len(self.built), "-" + fault if fault else "")
        stage = os.path.join(self.work, name)
        shutil.rmtree(stage, ignore_errors=True)
        os.makedirs(stage)
        if text is None:
            with open(os.path.join(EXAMPLES, wxs), encoding="utf-8") as f:
                text = f.read()
        text = text.replace('Version="1.0.0"', 'Version="%s"' % version, 1)
        upgrading = version != "1.0.0"
        if hardware_id is not None:
            text = text.replace("ZulHardwareId = VID_1234", "ZulHardwareId = " + hardware_id)
        if failing:
            step = FAILING_STEP if failing == "install" else FAILING_UNINSTALL_STEP
            text = text.replace("</Product>", FAILING_ACTION % PROGRAM[self.form] + step + "</Product>")
        if self.form == "exe":
            text = text.replace("<?define ZulForm = dll ?>", "<?define ZulForm = exe ?>")
        if upgrading:
            text = text.replace("</Product>", WINDOWS_UPGRADE_ACTION + WINDOWS_UPGRADE_STEP + "</Product>")
        if fault:
            text = text.replace("</Product>", FAULTS[fault][0].replace("%s", PROGRAM[self.form]) + "</Product>")
        with open(os.path.join(stage, wxs), "w", encoding="utf-8") as f:
            f.write(text)
        shutil.copy(self.exe, os.path.join(stage, "ZULFuncts.exe"))
        shutil.copy(self.dll, os.path.join(stage, "ZULFuncts.dll"))
        for target, path in zip((TEMPLATE, TEMPLATE64_SOURCE), templates or (self.source, self.source64)):
            if path:
                shutil.copyfile(path, os.path.join(stage, target))
        msi = os.path.join(stage, name + ".msi")
        res = subprocess.run([sys.executable, os.path.join(EXAMPLES, "wixl-build"), wxs, "-o", msi, "-a",
                              arch or self.arch,
                              "-D", "ZulTestAnchor=" + anchor], cwd=stage, stderr=subprocess.PIPE)
        sys.stderr.write(res.stderr.decode())
        if fault or refused:
            refusal = FAULTS[fault][1] if fault else refused
            self.case = name
            self.true(res.returncode != 0 and re.search(refusal, res.stderr.decode()) and not os.path.exists(msi),
                      "wixl-build did not refuse it with: %s" % refusal)
            return None
        res.check_returncode()
        if upgrading:
            subprocess.run(["msibuild", msi, "-q",
                            "DELETE FROM `InstallExecuteSequence` WHERE `Action` = 'RemoveExistingProducts'"],
                           check=True)
        self.built.append(msi)
        self.tables(msi)
        return msi

    def tables(self, msi):
        """The unit's actions where WiX 3 puts them, RemoveExistingProducts right after InstallValidate
        whatever the product anchors on them, with progress texts; nothing 64-bit in x64 packages; the
        exe versioned from VERSION, without a hash."""
        self.case, seq = os.path.basename(msi), {r[0]: int(r[2]) for r in self.rows(msi, "InstallExecuteSequence")}
        sets = [suffix for suffix in ("", "64") if "ZulAddDataSources" + suffix in seq]
        self.true(sets and all(seq["PatchFiles"] < seq["ZulAddDataSources" + x] < seq["InstallFinalize"]
                               and seq["InstallInitialize"] < seq["ZulRemoveDataSources" + x] < seq["RemoveFiles"]
                               for x in sets)
                  and seq.get("RemoveExistingProducts", 1401) == seq["InstallValidate"] + 1, "sequence %s" % seq)
        with open(os.path.join(ROOT, "VERSION"), encoding="utf-8") as f:
            version = f.read().strip()
        exe = [r[4:6] for r in self.rows(msi, "File") if r[0] == "ZULFunctsExe"]
        hashed = [r[0] for r in self.rows(msi, "MsiFileHash")]
        if self.form == "exe":
            self.true(len(exe) == 1 and exe[0][0].startswith(version + ".") and exe[0][1] == "1033"
                      and "ZULFunctsExe" not in hashed, "the exe's Version, Language %s, hashes %s" % (exe, hashed))
        texts = sorted(r[0] for r in self.rows(msi, "ActionText"))
        wide = ([r[0] for r in self.rows(msi, "Component") if int(r[3]) & 256]
                + [r[0] for r in self.rows(msi, "RegLocator") if int(r[4]) & 16])
        self.true(texts == sorted(a + x for a in ("ZulAddDataSources", "ZulRemoveDataSources") for x in sets)
                  and not wide, "%s, 64-bit %s" % (texts, wide))

    def rows(self, msi, table):
        res = subprocess.run(["msiinfo", "export", msi, table], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        return [line.split("\t") for line in res.stdout.decode("utf-8").splitlines()[3:]]

    def started(self, step, action):
        with open(os.path.join(self.work, "%s-%s.log" % (self.case, step)), encoding="latin-1") as f:
            return any(line.startswith("Action start") and line.endswith(": %s.\n" % action) for line in f)

    def msiexec(self, step, options):
        """Runs `msiexec OPTIONS /qn` with a verbose log; returns its exit status."""
        log = os.path.join(self.work, "%s-%s.log" % (self.case, step))
        bat = os.path.join(self.work, "msiexec.bat")
        with open(bat, "w", newline="") as f:
            # cmd is Wine's 32-bit one; sysnative is the 64-bit system directory.
            f.write('@echo off\r\n%s %s /qn /l*v "%s"\r\necho msiexec-status=%%ERRORLEVEL%%\r\n'
                    % (r"%SystemRoot%\sysnative\msiexec.exe" if self.msiexec64 else "msiexec", options,
                       windows_path(log)))
        res = subprocess.run(["wine", "cmd", "/c", windows_path(bat)], env=self.prefix.env,
                             stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, timeout=300)
        out = res.stdout.decode("latin-1")
        for line in out.splitlines():
            if line.startswith("msiexec-status="):
                return int(line.split("=", 1)[1])
        raise RuntimeError("no status from msiexec (%s): %r" % (step, out))

    def msi_property(self, msi, name):
        return next((row[1].strip() for row in self.rows(msi, "Property") if row[0] == name), None)

    def product_code(self, msi):
        return self.msi_property(msi, "ProductCode")

    def secure(self, msi, names, chooser=()):
        """The properties a managed install may take from its command line; never one that chooses
        what a command activates or deletes."""
        listed = (self.msi_property(msi, "SecureCustomProperties") or "").split(";")
        self.case = os.path.basename(msi)
        self.true(set(names) <= set(listed) and not set(chooser) & set(listed),
                  "SecureCustomProperties lists %s: not all of %s, or one of %s" % (listed, names, chooser))

    def remove_products(self):
        for msi in self.built:
            self.msiexec("cleanup", '/x "%s"' % windows_path(msi))

    # -- the machine ------------------------------------------------------

    def start(self, case, devices, files=()):
        """A new case: clean directories, these devices, these files below twain_32."""
        self.case = case
        print("== %s" % case)
        self.prefix.clean_dirs()
        self.devices(devices)
        for rel in files:
            self.put_source(rel)

    def devices(self, devices):
        self.prefix.replace_registry(registry(devices))

    def put_source(self, rel, twain="twain_32"):
        """A copy of the minimal data source of that directory's bitness at TWAIN\\REL."""
        full = self.path(rel, twain)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        shutil.copyfile(self.source64 if twain == "twain_64" else self.source, full)

    def installer_log(self, step, log_name):
        """The DLL form: the step's msiexec log holds the first line, then every
        line of the program's last run in its own log (LOG_NAME)."""
        if self.form != "dll":
            return
        with open(os.path.join(self.work, "%s-%s.log" % (self.case, step)), encoding="latin-1") as f:
            lines = f.read().splitlines()
        runs = [i for i, line in enumerate(lines) if re.match(r"ZULFuncts \d+\.\d+\.\d+\.\d+: \S", line)]
        file_log = self.program_log(log_name).split("\r\n")
        start = max(i for i, line in enumerate(file_log) if line == "Start Log") - 1
        expected = file_log[start:-1]
        # Progress (ActionData) is logged as "1: <directory>" between the lines.
        got = [line for line in lines[runs[-1] + 1:runs[-1] + 1 + 2 * len(expected)] if not line.startswith("1: ")]
        self.true(bool(runs) and re.search(r" \(twain_32\) \(\{[0-9A-F-]{36}\}\)$", lines[runs[-1]]) is not None,
                  "%s: first line %r" % (step, lines[runs[-1]] if runs else None))
        self.true(got[:len(expected)] == expected, "%s: the installer's log holds %s, the program's %s"
                  % (step, got[:len(expected)], expected))

    def put_kept(self, rel, readonly=False, twain="twain_32"):
        """A data source of another product or an earlier install: the minimal
        data source with bytes of its own, so that the manager lists it and a
        restore shows."""
        self.put_source(rel, twain)
        with open(self.path(rel, twain), "ab") as f:
            f.write(b"kept " + rel.encode())
        if readonly:
            os.chmod(self.path(rel, twain), 0o444)

    def snapshot(self, rels, twain="twain_32"):
        """The bytes and the read-only attribute of each file."""
        out = {}
        for rel in rels:
            with open(self.path(rel, twain), "rb") as f:
                out[rel] = (f.read(), not os.stat(self.path(rel, twain)).st_mode & 0o222)
        return out

    def no_backup(self, step):
        """The DLL form's backup folders are gone: committed or rolled back."""
        top = os.path.join(self.prefix.windows_dir, "ZULFuncts")
        left = [os.path.join(d, r) for d in (os.listdir(top) if os.path.isdir(top) else [])
                for r in os.listdir(os.path.join(top, d))]
        self.true(not left, "%s: backup folders left: %s" % (step, left))

    def tree(self, twain="twain_32"):
        found = set()
        for top, dirs, files in os.walk(self.path("", twain)):
            rel = os.path.relpath(top, self.path("", twain))
            base = "" if rel == "." else rel.replace(os.sep, "\\") + "\\"
            found.update(base + d + "\\" for d in dirs)
            found.update(base + f for f in files)
        return found

    def path(self, rel, twain="twain_32"):
        return os.path.join(self.prefix.windows_dir, twain, *rel.split("\\"))

    def product_exe(self, folder):
        drive = os.path.join(self.prefix.path, "drive_c")
        # 32-bit components go to Program Files (x86) on a 64-bit system.
        programs = "Program Files (x86)" if os.path.isdir(os.path.join(drive, "Program Files (x86)")) else "Program Files"
        return os.path.join(drive, programs, folder, "ZULFuncts.exe")

    def program_log(self, name):
        return read_log(self.prefix, name) or ""

    # -- checks -----------------------------------------------------------

    def true(self, condition, message):
        if not condition:
            self.failures.append("%s: %s" % (self.case, message))
            print("FAIL: " + message)
        return condition

    def step(self, step, options, status, tree, installed=None, tree64=None):
        """One msiexec run: its exit status, then every entry below twain_32
        (and, with TREE64, below twain_64).

        installed: the product folder whose exe must be there (True) or gone
        (False) after the step, as (folder, bool); None skips that check.
        Each directory's manager must list one source per .ds file of its tree.
        """
        got = self.msiexec(step, options)
        print("%s: msiexec %s -> %d" % (step, options, got))
        self.true(got == status, "%s: msiexec ended with %d, expected %d" % (step, got, status))
        self.contents(step, "twain_32", tree)
        if tree64 is not None:
            self.contents(step, "twain_64", tree64)
        if installed is not None:
            folder, present = installed
            present = present and self.form == "exe"  # the DLL form installs no program
            there = os.path.isfile(self.product_exe(folder))
            self.true(there == present, "%s: the exe in the product folder is %s" % (step, "there" if there else "missing"))

    def contents(self, step, twain, tree):
        found = self.tree(twain)
        self.true(found == tree, "%s: %s holds %s; expected %s; missing %s, extra %s"
                  % (step, twain, sorted(found), sorted(tree), sorted(tree - found), sorted(found - tree)))
        listed = list_data_sources(self.prefix, *self.clients[twain])
        expected = ["Test source " + entry.split("\\")[-1][:-len(".ds")] for entry in tree if entry.endswith(".ds")]
        print("%s: the %s manager lists %s" % (step, twain, ", ".join(listed) or "nothing"))
        self.true(sorted(listed) == sorted(expected), "%s: the %s manager lists %s, expected %s"
                  % (step, twain, listed, sorted(expected)))


def install(msi, properties=""):
    return ('/i "%s" %s' % (windows_path(msi), properties)).strip()


def repair(lab, msi):
    # What `msiexec /f` does (its default mode is omus, and it takes no
    # properties from the command line). Wine 8's msiexec /f cannot repair: it
    # takes a package path for a product code (1605) and refuses a product
    # code ("not implemented").
    return "/i %s REINSTALL=ALL REINSTALLMODE=omus" % lab.product_code(msi)


def uninstall(msi, properties=""):
    return ('/x "%s" %s' % (windows_path(msi), properties)).strip()


def forced_late(lab, msi):
    """RemoveExistingProducts moved after InstallFinalize, which the source's MajorUpgrade did not ask for."""
    tampered(lab, msi, "ZULFuncts-MAddDS.wxs", "late", "UPDATE `InstallExecuteSequence` SET `Sequence` = 6601 "
             "WHERE `Action` = 'RemoveExistingProducts'", "InstallExecuteSequence row RemoveExistingProducts (6601): "
             "not where MajorUpgrade/@Schedule afterInstallValidate puts it (after InstallValidate)")


def tampered(lab, msi, wxs, name, query, refusal):
    """A copy of the package changed by QUERY: msicheck.py must refuse it with REFUSAL."""
    changed = msi.replace(".msi", "-%s.msi" % name)
    shutil.copyfile(msi, changed)
    subprocess.run(["msibuild", changed, "-q", query], check=True)
    source = os.path.join(os.path.dirname(msi), wxs)
    res = subprocess.run([sys.executable, os.path.join(EXAMPLES, "msicheck.py"), changed, source, "-a", lab.arch],
                         stderr=subprocess.PIPE)
    out = res.stderr.decode()
    print(out, end="")
    lab.case = os.path.basename(changed)
    lab.true(res.returncode == 1 and refusal in out, "not refused")


def run_maddds(lab):
    folder = "ZULFuncts MAddDS sample"
    v10 = lab.build("ZULFuncts-MAddDS.wxs")
    v11 = lab.build("ZULFuncts-MAddDS.wxs", "1.1.0")
    failing = lab.build("ZULFuncts-MAddDS.wxs", failing="install")
    failing_v11 = lab.build("ZULFuncts-MAddDS.wxs", "1.1.0", failing="install")
    lab.secure(v10, ["ZULLOGGING", "WIX_UPGRADE_DETECTED"])
    marked, plain = MARKED, PLAIN
    for fault in FAULTS:
        lab.build("ZULFuncts-MAddDS.wxs", fault=fault)
    forced_late(lab, v10)

    # 0000 and 0001 are marked, 0002 is not; 0001 has an inactive data source
    # left over, 0007 is a device long gone.
    lab.start("maddds-life-cycle", [("0000", marked), ("0001", marked), ("0002", plain)],
              [data_source("0001", False), data_source("0007")])
    active = entries(TEMPLATE, data_source("0000"), data_source("0001"), data_source("0007"))
    lab.step("install", install(v10), SUCCESS, active, (folder, True))
    lab.installer_log("install", "_add_ds.log")
    with open(lab.path(data_source("0000")), "rb") as f, open(lab.source, "rb") as t:
        lab.true(f.read() == t.read(), "the data source is not a copy of the template")

    os.unlink(lab.path(data_source("0000")))
    lab.step("repair", repair(lab, v10), SUCCESS, active, (folder, True))

    # The old version goes without its clean-up: even 0007's data source stays.
    lab.step("upgrade", install(v11), SUCCESS, active, (folder, True))

    # Device 0001 is uninstalled before the product: swept with 0007.
    lab.devices([("0000", marked), ("0002", plain)])
    lab.step("uninstall", uninstall(v11), SUCCESS, entries(data_source("0000")), (folder, False))
    lab.installer_log("uninstall", "_remove_ds.log")

    # A first install fails after MAddDS beside another product's data source (0001) and
    # one an earlier uninstall kept (0003). The DLL form puts both back as they
    # were and removes 0000's; the exe form overwrites them with the template
    # and leaves 0000's.
    kept = [data_source("0001"), data_source("0003")]
    lab.start("maddds-failed-install", [("0000", marked), ("0001", marked), ("0002", plain), ("0003", marked)])
    for rel in kept:
        lab.put_kept(rel, readonly=rel == kept[0])
    before = lab.snapshot(kept)
    if lab.form == "dll":
        lab.step("failed-install", install(failing), lab.failed, entries(*kept), (folder, False))
        lab.true(lab.snapshot(kept) == before, "%s not put back as they were" % kept)
        lab.no_backup("failed-install")
    else:
        lab.step("failed-install", install(failing), lab.failed, entries(data_source("0000"), *kept), (folder, False))
        lab.true(all(filecmp.cmp(lab.path(rel), lab.source, shallow=False) for rel in kept),
                 "%s not overwritten by the template" % kept)

    # The DLL form: an uninstall that fails after MRemoveDS puts back what the
    # sweep removed (a read-only .ds among them); a successful install leaves
    # no backup folder.
    if lab.form == "dll":
        failing_uninstall = lab.build("ZULFuncts-MAddDS.wxs", failing="uninstall")
        swept = [data_source("0007"), data_source("0008")]
        lab.start("maddds-failed-uninstall", [("0000", marked)])
        for rel in swept:
            lab.put_kept(rel, readonly=rel == swept[0])
        before = lab.snapshot(swept)
        installed = entries(TEMPLATE, data_source("0000"), *swept)
        lab.step("install", install(failing_uninstall), SUCCESS, installed)
        lab.no_backup("install")
        lab.step("failed-uninstall", uninstall(failing_uninstall), lab.failed, installed)
        lab.true(lab.snapshot(swept) == before, "%s not put back as they were" % swept)
        lab.no_backup("failed-uninstall")
        lab.msiexec("cleanup", uninstall(failing_uninstall, "ZULTESTPASS=1"))

    # An upgrade that fails after MAddDS: the old version is gone (it was
    # removed before the new one began), its data sources are not.
    lab.start("maddds-failed-upgrade", [("0000", marked), ("0002", plain)])
    lab.step("install", install(v10), SUCCESS, entries(TEMPLATE, data_source("0000")), (folder, True))
    lab.step("failed-upgrade", install(failing_v11), lab.failed, entries(data_source("0000")), (folder, False))

    # The feature removed on its own: the sweep runs, MAddDS does not (after RemoveFiles).
    lab.start("maddds-partial-removal", [("0000", marked)], [data_source("0007")])
    lab.step("install", install(v10), SUCCESS, entries(TEMPLATE, data_source("0000"), data_source("0007")),
             (folder, True))
    lab.step("remove-feature", "/i %s REMOVE=DataSources" % lab.product_code(v10), SUCCESS,
             entries(data_source("0000")), (folder, False))
    lab.true(not lab.started("remove-feature", "ZulAddDataSources"), "MAddDS started on the removal")

    # The DLL form: a data source another process holds open cannot be
    # replaced; a silent install cannot be asked to retry, so it fails.
    if lab.form == "dll":
        lab.start("maddds-held-open", [("0000", marked)], [data_source("0000")])
        ready, stop = os.path.join(lab.work, "held.ready"), os.path.join(lab.work, "held.stop")
        for flag in (ready, stop):
            if os.path.exists(flag):
                os.unlink(flag)
        holder = subprocess.Popen(["wine", lab.holder, windows_path(lab.path(data_source("0000"))),
                                   windows_path(ready), windows_path(stop)], env=lab.prefix.env,
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        try:
            for _ in range(300):
                if os.path.exists(ready) or holder.poll() is not None:
                    break
                time.sleep(0.1)
            lab.true(os.path.exists(ready), "the holder did not open the data source")
            status = lab.msiexec("install", install(v10))
        finally:
            open(stop, "w").close()
            holder.wait(timeout=60)
        lab.true(status == INSTALL_FAILURE, "install: msiexec ended with %d, expected %d" % (status, INSTALL_FAILURE))
        lab.true(lab.tree() == entries(data_source("0000")), "install: twain_32 holds %s" % sorted(lab.tree()))
        with open(os.path.join(lab.work, "%s-install.log" % lab.case), encoding="latin-1") as f:
            text = f.read()
        lab.true("ZULFuncts could not install the data source " in text and "(error 32)" in text,
                 "no error message with the sharing violation in the installer's log")

    # A failure Retry cannot help (a directory where the .ds goes: access
    # denied) asks nothing: it says so, and the install fails.
    if lab.form == "dll":
        lab.start("maddds-refused", [("0000", marked)])
        os.makedirs(lab.path(data_source("0000")))
        lab.step("install", install(v10), INSTALL_FAILURE, entries(data_source("0000") + "\\"))
        with open(os.path.join(lab.work, "%s-install.log" % lab.case), encoding="latin-1") as f:
            text = f.read()
        lab.true("(error 5). The installation log says why." in text and "choose Retry" not in text,
                 "the message for a refused data source asks to retry")

    # The same question answered through a user interface: Retry once the
    # file is let go installs it; Cancel fails the install.
    if lab.form == "dll":
        for answer, result in (("retry", 0), ("cancel", INSTALL_FAILURE)):
            lab.start("maddds-answer-" + answer, [("0000", marked)], [data_source("0000")])
            with open(lab.path(data_source("0000")), "wb") as f:
                f.write(b"kept")
            res = subprocess.run(["wine", lab.answer, windows_path(v10), windows_path(lab.path(data_source("0000"))),
                                  answer], env=lab.prefix.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                 timeout=300)
            out = res.stdout.decode("latin-1").strip()
            print("%s: %s" % (answer, out))
            lab.true(out == "questions=1 result=%d" % result, "%s: %s" % (answer, out))
            replaced = filecmp.cmp(lab.path(data_source("0000")), lab.source, shallow=False)
            lab.true(replaced == (answer == "retry"), "%s: the data source %s replaced"
                     % (answer, "was" if replaced else "was not"))
            if answer == "retry":
                lab.msiexec("uninstall", uninstall(v10))

    # A rollback that cannot put a data source back: the answer to the
    # question about 0001 holds 0000's new copy, so the rollback can neither
    # remove it nor move 0000's old one home. The folder stays and the
    # installer's log says so; the next install's commit names it and keeps it.
    if lab.form == "dll":
        kept = [data_source("0000"), data_source("0001")]
        lab.start("maddds-rollback-blocked", [("0000", marked), ("0001", marked)])
        for rel in kept:
            lab.put_kept(rel)
        before = lab.snapshot(kept)
        res = subprocess.run(["wine", lab.answer, windows_path(v10), windows_path(lab.path(kept[1])), "cancel",
                              windows_path(lab.path(kept[0]))], env=lab.prefix.env, stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, timeout=300)
        out = res.stdout.decode("latin-1").lower()
        print(out)
        code = lab.product_code(v10)
        product = os.path.join(lab.prefix.windows_dir, "ZULFuncts", code)
        runs = os.listdir(product) if os.path.isdir(product) else []
        left = os.path.join(product, runs[0]) if len(runs) == 1 else None
        # As the program names them: below GetWindowsDirectory's C:\windows.
        named = ("c:\\windows\\zulfuncts\\%s\\%s" % (code, runs[0])).lower() if left else None
        lab.true("result=%d" % INSTALL_FAILURE in out, "the install did not fail: %s" % out)
        lab.true("rollback failed on c:\\windows\\twain_32\\" + kept[0].lower() in out, "no rollback failure logged")
        lab.true(left is not None and "backup folder left: %s" % named in out,
                 "folder %s left without a line saying so" % runs)
        aside = [open(os.path.join(left, n), "rb").read() for n in os.listdir(left) if n != "record"] if left else []
        lab.true(aside == [before[kept[0]][0]], "0000's data source is not in the folder left")
        lab.msiexec("install", install(v10))
        with open(os.path.join(lab.work, "%s-install.log" % lab.case), encoding="latin-1") as f:
            text = f.read().lower()
        lab.true(left is not None and os.path.isdir(left) and "backup folder left: %s" % named in text,
                 "the commit did not keep and name the folder left")
        lab.msiexec("uninstall", uninstall(v10))
        shutil.rmtree(os.path.join(lab.prefix.windows_dir, "ZULFuncts"), ignore_errors=True)

    # An author's product from the README (the DLL form), the unit included as it stands.
    if lab.form == "dll":
        with open(os.path.join(EXAMPLES, "README.md"), encoding="utf-8") as f:
            minimal = lab.build("Minimal.wxs", text=f.read().split("```xml\n", 1)[1].split("```", 1)[0])
        lab.start("readme-product", [("0000", marked), ("0002", plain)])
        lab.step("install", install(minimal), SUCCESS, entries(TEMPLATE, data_source("0000")))
        lab.devices([("0002", plain)])
        lab.step("uninstall", uninstall(minimal), SUCCESS, set())


def run_addds(lab):
    folder = "ZULFuncts AddDS sample"
    v10 = lab.build("ZULFuncts-AddDS.wxs")
    v11 = lab.build("ZULFuncts-AddDS.wxs", "1.1.0")
    failing = lab.build("ZULFuncts-AddDS.wxs", failing="install")
    lab.secure(v10, ["ZULLOGGING", "WIX_UPGRADE_DETECTED"], ["ZULHARDWAREID", "ZULREMOVEDATASOURCES"])
    ours = [("HardwareID", "USB\\VID_5678&PID_0001")]
    ours_lower = [("HardwareID", "usb\\vid_5678&pid_0002")]
    default = [("HardwareID", "USB\\VID_1234&PID_0001")]  # the package's default identifier
    other = [("HardwareID", "USB\\VID_9999&PID_0001")]  # another product's device, same prefix

    # Installed for VID_5678; 0002 matches only the package's default. The
    # devices' driver packages left the inactive data sources.
    inactive = [data_source(i, False) for i in ("0000", "0001", "0002")]
    lab.start("addds-life-cycle", [("0000", ours), ("0001", ours_lower), ("0002", default), ("0003", other)],
              inactive + [data_source("0003")])
    active = entries(data_source("0000"), data_source("0001"), data_source("0002", False), data_source("0003"))
    lab.step("install", install(v10, "ZULHARDWAREID=VID_5678"), SUCCESS, active, (folder, True))
    lab.installer_log("install", "_add_ds.log")

    # 0000's driver is installed again: its inactive file is back, the .ds gone.
    os.unlink(lab.path(data_source("0000")))
    lab.put_source(data_source("0000", False))
    lab.step("repair", repair(lab, v10), SUCCESS, active, (folder, True))
    # A repair with another identifier: kept from then on, without an uninstall.
    active = entries(*[data_source(i) for i in ("0000", "0001", "0002", "0003")])
    lab.step("repair-new-id", repair(lab, v10) + " ZULHARDWAREID=VID_1234", SUCCESS, active, (folder, True))
    lab.step("upgrade", install(v11), SUCCESS, active, (folder, True))
    log = lab.program_log("_add_ds.log")
    lab.true(log.count("Hardware Identifier:\tVID_5678\r\n") == log.count("Hardware Identifier:\tVID_1234\r\n") == 2,
             "install and repair did not run AddDS with VID_5678, the new repair and the upgrade with VID_1234")

    # Asked for, with 0001 uninstalled first: RemoveDS deletes every other .ds, 0003's too.
    lab.devices([("0000", ours), ("0002", default), ("0003", other)])
    lab.step("uninstall", uninstall(v11, "ZULREMOVEDATASOURCES=1"), SUCCESS, entries(data_source("0001")),
             (folder, False))
    lab.installer_log("uninstall", "_remove_ds.log")

    # By default an uninstall deletes no data source.
    lab.start("addds-kept", [("0000", default), ("0003", other)], [data_source("0000", False), data_source("0003")])
    active = entries(data_source("0000"), data_source("0003"))
    lab.step("install", install(v10), SUCCESS, active, (folder, True))
    lab.step("uninstall", uninstall(v10), SUCCESS, active, (folder, False))

    # The install fails after AddDS: the DLL form renames the data source back,
    # the exe form leaves it active.
    lab.start("addds-rollback", [("0000", default)], [data_source("0000", False)])
    lab.step("failed-install", install(failing), lab.failed,
             entries(data_source("0000", lab.form == "exe")), (folder, False))

    # The DLL form: an uninstall with the opt-in that fails after RemoveDS puts
    # back every .ds it deleted, another product's too.
    if lab.form == "dll":
        failing_uninstall = lab.build("ZULFuncts-AddDS.wxs", failing="uninstall")
        deleted = [data_source("0000"), data_source("0003")]
        lab.start("addds-failed-uninstall", [("0000", default), ("0003", other)])
        for rel in deleted:
            lab.put_kept(rel, readonly=rel == deleted[1])
        before = lab.snapshot(deleted)
        lab.step("install", install(failing_uninstall), SUCCESS, entries(*deleted))
        lab.step("failed-uninstall", uninstall(failing_uninstall, "ZULREMOVEDATASOURCES=1"), lab.failed,
                 entries(*deleted))
        lab.true(lab.snapshot(deleted) == before, "%s not put back as they were" % deleted)
        lab.no_backup("failed-uninstall")
        lab.msiexec("cleanup", uninstall(failing_uninstall, "ZULTESTPASS=1"))

    # Identifiers the launch condition refuses: nothing runs, nothing changes.
    # An empty value on the command line is no value: the default is empty here.
    # Wine's msiexec drops every double quote from a property value on its
    # command line, so the last one is the package's default instead.
    empty = lab.build("ZULFuncts-AddDS.wxs", hardware_id='""')
    quoted = lab.build("ZULFuncts-AddDS.wxs", hardware_id='VID"1234')
    for case, msi, value in (("empty", empty, '""'), ("blank", v10, '" "'), ("blank-inside", v10, '"VID 1234"'),
                             ("double-quote", quoted, None)):
        lab.start("addds-refused-" + case, [("0000", default)], [data_source("0000", False)])
        lab.step("install", install(msi, "ZULHARDWAREID=" + value if value else ""), INSTALL_FAILURE,
                 entries(data_source("0000", False)), (folder, False))
        lab.true(lab.program_log("_add_ds.log") == "", "AddDS ran")


def both_sets(wxs, sets="both"):
    """The text of sample WXS with the sets SETS: twain_64 alone drops the twain_32 template."""
    with open(os.path.join(EXAMPLES, wxs), encoding="utf-8") as f:
        text = f.read()
    if "ZulTwainSets" not in text:
        text = text.replace("<?include ZULFuncts.wxi ?>", "<?define ZulTwainSets = both ?>\n<?include ZULFuncts.wxi ?>")
    text = text.replace("ZulTwainSets = both", "ZulTwainSets = " + sets)
    return text.replace('<ComponentRef Id="ZULFunctsTemplate"/>', "") if sets == "twain_64" else text


def exports(dll, name):
    with open(dll, "rb") as f:
        return name.encode() + b"\0" in f.read()


def run_twain64(lab):
    """Both TWAIN directories, each with its own manager; only the tables without the DLL's twain_64 entry points."""
    both = lab.build("ZULFuncts-MAddDS-Both.wxs")
    failing = lab.build("ZULFuncts-MAddDS-Both.wxs", failing="install", anchor="ZulAddDataSources64")
    only64 = lab.build("Only64.wxs", text=both_sets("ZULFuncts-MAddDS-Both.wxs", "twain_64"), arch="x86")
    addds = lab.build("AddDS64.wxs", text=both_sets("ZULFuncts-AddDS.wxs"))
    # The 64-bit template where the table says, on a 64-bit Windows only.
    folders = {r[0]: (r[1], r[2]) for r in lab.rows(both, "Directory")}
    component = {r[0]: r[1:5] for r in lab.rows(both, "Component")}.get("ZULFunctsTemplate64", [""] * 4)
    lab.true(component[::2] == ["{0C638F39-FFB8-4004-A08C-5D5B1201682E}", "0"] and component[3] == "VersionNT64"
             and folders.get(component[1]) == ("WindowsFolder", "twain_64"), "%s in %s" % (component, folders))
    tampered(lab, both, "ZULFuncts-MAddDS-Both.wxs", "unguarded", "UPDATE `Component` SET `Condition` = '' "
             "WHERE `Component` = 'ZULFunctsTemplate64'", "Component row ZULFunctsTemplate64: condition '' lacks "
             "VersionNT64")
    # Each template of the other bitness is refused, naming its file; one that is no PE image passes.
    placeholder = os.path.join(EXAMPLES, TEMPLATE64_SOURCE)
    for name, templates, refusal in (
            ("Wrong32", (lab.source64, lab.source64), r"qrvgnds2\.tmp \(File ZULFunctsTemplate, installed in "
             r"twain_32\): a PE image for a 64-bit machine"),
            ("Wrong64", (lab.source, lab.source), r"qrvgnds2-64\.tmp \(File ZULFunctsTemplate64, installed in "
             r"twain_64\): a PE image for a 32-bit machine"),
            ("Placeholder64", (lab.source, placeholder), None)):
        lab.build(name + ".wxs", text=both_sets("ZULFuncts-MAddDS-Both.wxs"), templates=templates, refused=refusal)
    exe = both_sets("ZULFuncts-MAddDS-Both.wxs").replace("ZulForm = dll", "ZulForm = exe")
    lab.build("Exe64.wxs", text=exe, refused="twain_64 needs ZulForm = dll")
    if not exports(lab.dll, "ScheduleAddDataSources64"):
        print("the DLL has no entry point ScheduleAddDataSources64: no twain_64 life cycle")
        return SKIPPED

    # 0000 and 0001 marked, 0002 not: a data source of each bitness for each marked device.
    marked, plain = MARKED, PLAIN
    installed = entries(TEMPLATE, data_source("0000"), data_source("0001"))
    lab.start("both-life-cycle", [("0000", marked), ("0001", marked), ("0002", plain)])
    lab.step("install", install(both), SUCCESS, installed, tree64=installed)
    lab.devices([("0000", marked), ("0002", plain)])
    lab.step("uninstall", uninstall(both), SUCCESS, entries(data_source("0000")), tree64=entries(data_source("0000")))

    # The install fails after both sets ran: each directory as it was, byte for byte.
    kept = [data_source("0001"), data_source("0003")]
    lab.start("both-failed-install", [("0000", marked), ("0001", marked), ("0003", marked)])
    for twain in ("twain_32", "twain_64"):
        for rel in kept:
            lab.put_kept(rel, readonly=rel == kept[0], twain=twain)
    before = [lab.snapshot(kept, twain) for twain in ("twain_32", "twain_64")]
    lab.step("failed-install", install(failing), lab.failed, entries(*kept), tree64=entries(*kept))
    lab.true([lab.snapshot(kept, twain) for twain in ("twain_32", "twain_64")] == before, "not put back as they were")
    lab.no_backup("failed-install")

    # AddDS activates the 64-bit data source a driver package left inactive.
    lab.start("addds-twain64", [("0000", [("HardwareID", "USB\\VID_1234&PID_0001")])])
    for twain in ("twain_32", "twain_64"):
        lab.put_source(data_source("0000", False), twain)
    lab.step("install", install(addds), SUCCESS, entries(data_source("0000")), tree64=entries(data_source("0000")))
    lab.msiexec("uninstall", uninstall(addds))

    # A 64-bit-only package (x86) leaves twain_32 alone.
    lab.start("twain64-only", [("0000", marked)])
    lab.step("install", install(only64), SUCCESS, set(), tree64=entries(TEMPLATE, data_source("0000")))
    lab.true(not os.path.exists(lab.path("")), "twain_32 was made")
    lab.step("uninstall", uninstall(only64), SUCCESS, set(), tree64=entries(data_source("0000")))
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True, help="the exe to ship (the i686 build)")
    parser.add_argument("--dll", required=True, help="the DLL to ship (the i686 build)")
    parser.add_argument("--form", choices=("dll", "exe"), default="dll", help="which the samples use")
    parser.add_argument("--holder", required=True, help="holdopen.exe, which holds a file open")
    parser.add_argument("--answer", required=True, help="answer.exe, which answers Retry or Cancel")
    parser.add_argument("--package", choices=("maddds", "addds", "twain64"), required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--arch", choices=("x86", "x64"), default="x86", help="the package's platform")
    parser.add_argument("--prefix", help="Wine prefix (default: a temporary one)")
    parser.add_argument("--source", required=True, help="the minimal data source (tests/client)")
    parser.add_argument("--lister", required=True, help="the lister of tests/client")
    parser.add_argument("--dsm", required=True, help="the TWAIN Data Source Manager")
    parser.add_argument("--source64", help="twain64: the minimal data source built for x86_64")
    parser.add_argument("--lister64", help="twain64: the lister built for x86_64")
    parser.add_argument("--dsm64", help="twain64: the 64-bit TWAIN Data Source Manager")
    args = parser.parse_args()

    os.makedirs(args.work, exist_ok=True)
    with WinePrefix(args.prefix) as prefix:
        lab = Lab(args, prefix)
        try:
            status = {"maddds": run_maddds, "addds": run_addds, "twain64": run_twain64}[args.package](lab)
        finally:
            lab.remove_products()
            prefix.clean_dirs()
    if lab.failures:
        print("%d check(s) failed:\n  %s" % (len(lab.failures), "\n  ".join(lab.failures)))
        return 1
    print("all checks passed")
    return status or 0


if __name__ == "__main__":
    sys.exit(main())
