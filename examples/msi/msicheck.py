#!/usr/bin/env python3
"""Checks the tables of a built package and names each row that breaks a rule.

  msicheck.py PACKAGE.msi SOURCE.wxs [-a x86|x64] [-D name=value]... [-I DIR]...

wixl-build runs it on every package it builds; it also checks a package built
by the WiX toolset from the same source. The rules:

- every InstallExecuteSequence and InstallUISequence row is a standard action,
  has a CustomAction row, or (UI sequence) a Dialog row; a CustomAction's file
  or binary is in the package: no action is lost;
- RemoveExistingProducts sits where ICE63 allows it and where the source's
  MajorUpgrade/@Schedule puts it (default afterInstallValidate);
- every deferred, rollback and commit action lies between InstallInitialize
  and InstallFinalize (ICE77), none in the UI sequence;
- what an included unit declares in a comment that starts with "msicheck"
  (the source and every file it includes are read as written, since the
  preprocessor drops comments), one rule a line:
      component ID...          32-bit in an x64 package
      search ID...             a registry search that reads the 32-bit view in an x64 package
      condition ACTION: TERMS  the action's condition has each AND-ed term (as in the table)
      component-condition COMPONENT: TERMS
                               the component's condition has each AND-ed term
      rollback ROLLBACK ACTION [with BINARY]
                               a rollback action, sequenced before the action it undoes
                               (with BINARY: when the Binary table holds BINARY)
"""

import argparse
import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ET

WIX = "{http://schemas.microsoft.com/wix/2006/wi}"

# CustomAction Type bits.
ROLLBACK = 0x100
COMMIT = 0x200
IN_SCRIPT = 0x400
COMPONENT_64BIT = 0x100  # Component Attributes
LOCATOR_64BIT = 0x10  # RegLocator Type

STANDARD_ACTIONS = set("""
    ADMIN ADVERTISE AllocateRegistrySpace AppSearch BindImage CCPSearch CostFinalize CostInitialize
    CreateFolders CreateShortcuts DeleteServices DisableRollback DuplicateFiles ExecuteAction FileCost
    FindRelatedProducts ForceReboot INSTALL InstallAdminPackage InstallExecute InstallExecuteAgain
    InstallFiles InstallFinalize InstallInitialize InstallODBC InstallServices InstallSFPCatalogFile
    InstallValidate IsolateComponents LaunchConditions LockPermissions MigrateFeatureStates MoveFiles
    MsiConfigureServices MsiPublishAssemblies MsiUnpublishAssemblies PatchFiles ProcessComponents
    PublishComponents PublishFeatures PublishProduct RegisterClassInfo RegisterComPlus
    RegisterExtensionInfo RegisterFonts RegisterMIMEInfo RegisterProduct RegisterProgIdInfo
    RegisterTypeLibraries RegisterUser RemoveDuplicateFiles RemoveEnvironmentStrings
    RemoveExistingProducts RemoveFiles RemoveFolders RemoveIniValues RemoveODBC RemoveRegistryValues
    RemoveShortcuts ResolveSource RMCCPSearch ScheduleReboot SelfRegModules SelfUnregModules SEQUENCE
    SetODBCFolders StartServices StopServices UnpublishComponents UnpublishFeatures UnregisterClassInfo
    UnregisterComPlus UnregisterExtensionInfo UnregisterFonts UnregisterMIMEInfo UnregisterProgIdInfo
    UnregisterTypeLibraries ValidateProductID WriteEnvironmentStrings WriteIniValues WriteRegistryValues
""".split())

# MajorUpgrade/@Schedule: the action RemoveExistingProducts follows.
SCHEDULES = {"afterInstallValidate": "InstallValidate", "afterInstallInitialize": "InstallInitialize",
             "afterInstallExecute": "InstallExecute", "afterInstallExecuteAgain": "InstallExecuteAgain",
             "afterInstallFinalize": "InstallFinalize"}


class CheckError(Exception):
    pass


def rows(msi, table):
    """The rows of a table as dicts by column name; [] when the package has no such table."""
    res = subprocess.run(["msiinfo", "export", msi, table], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if res.returncode != 0:
        return []
    lines = res.stdout.decode("utf-8").replace("\r\n", "\n").split("\n")
    return [dict(zip(lines[0].split("\t"), line.split("\t"))) for line in lines[3:] if line]


def platform(msi):
    out = subprocess.run(["msiinfo", "suminfo", msi], stdout=subprocess.PIPE, check=True).stdout.decode()
    found = re.search(r"^Template: ([^;\n]*)", out, re.M)
    return found.group(1) if found else ""


class Declarations:
    """The rules units declare in their msicheck comments."""

    def __init__(self):
        self.components, self.searches, self.conditions, self.rollbacks = set(), set(), {}, {}
        self.component_conditions = {}

    def read(self, path, include_dirs, seen=None):
        """Reads PATH and, recursively, the files it includes, found as wixl finds them."""
        seen = set() if seen is None else seen
        path = os.path.abspath(path)
        if path in seen:
            return
        seen.add(path)
        with open(path, encoding="utf-8") as f:
            text = f.read()
        for comment in re.findall(r"<!--\s*msicheck\b(.*?)-->", text, re.S):
            for line in comment.split("\n")[1:]:
                self.rule(path, line.strip())
        for name in re.findall(r"<\?include\s+([^?$\s]+)\s*\?>", text):
            for folder in [os.path.dirname(path)] + include_dirs:
                if os.path.isfile(os.path.join(folder, name)):
                    self.read(os.path.join(folder, name), include_dirs, seen)
                    break

    def rule(self, path, line):
        word, _, rest = line.partition(" ")
        if not line:
            return
        if word == "component":
            self.components.update(rest.split())
        elif word == "search":
            self.searches.update(rest.split())
        elif word == "condition" and ":" in rest:
            action, terms = rest.split(":", 1)
            self.conditions[action.strip()] = conjuncts(terms)
        elif word == "component-condition" and ":" in rest:
            component, terms = rest.split(":", 1)
            self.component_conditions[component.strip()] = conjuncts(terms)
        elif word == "rollback" and (len(rest.split()) == 2 or (len(rest.split()) == 4 and rest.split()[2] == "with")):
            words = rest.split()
            self.rollbacks[words[0]] = (words[1], words[3] if len(words) == 4 else None)
        else:
            raise CheckError("%s: not an msicheck rule: %r" % (path, line))


def conjuncts(condition):
    return [" ".join(term.split()) for term in re.split(r"\s+AND\s+", condition.strip()) if term.strip()]


def sequence_rows(msi, table):
    """[(number, action, condition)] in the order Windows Installer runs them."""
    return sorted((int(r["Sequence"]), r["Action"], r.get("Condition", "")) for r in rows(msi, table)
                  if r.get("Sequence", "").lstrip("-").isdigit())


def check_lost(msi, custom, failures):
    dialogs = {r["Dialog"] for r in rows(msi, "Dialog")}
    for table in ("InstallExecuteSequence", "InstallUISequence"):
        for number, action, _ in sequence_rows(msi, table):
            if action not in STANDARD_ACTIONS and action not in custom and not (
                    table == "InstallUISequence" and action in dialogs):
                failures.append("%s row %s (%d): no CustomAction row, and not a standard action%s"
                                % (table, action, number, " or dialog" if table == "InstallUISequence" else ""))
    files = {r["File"] for r in rows(msi, "File")}
    binaries = {r["Name"] for r in rows(msi, "Binary")}
    for action, row in sorted(custom.items()):
        base, source = int(row["Type"]) & 0x3f, row["Source"]
        if base in (1, 2, 5, 6) and source not in binaries:
            failures.append("CustomAction row %s: its Binary row %s is missing" % (action, source))
        elif base in (17, 18, 21, 22) and source not in files:
            failures.append("CustomAction row %s: its File row %s is missing" % (action, source))


def check_remove_existing(seq, custom, schedule, failures):
    """ICE63, and the place MajorUpgrade/@Schedule asks for."""
    number = {action: n for n, action, _ in seq}
    order = [action for _, action, _ in seq]
    if "RemoveExistingProducts" not in number:
        if schedule:
            failures.append("InstallExecuteSequence: no RemoveExistingProducts row, though the source has a "
                            "MajorUpgrade")
        return
    rep = number["RemoveExistingProducts"]
    row = "InstallExecuteSequence row RemoveExistingProducts (%d)" % rep

    def between(low, high):
        return low in number and high in number and number[low] < rep < number[high]

    def right_after(anchor, script_free):
        if anchor not in number or number[anchor] > rep:
            return False
        gap = order[order.index(anchor) + 1:order.index("RemoveExistingProducts")]
        return not gap or script_free and all(a in custom and not int(custom[a]["Type"]) & IN_SCRIPT for a in gap)

    allowed = {
        "afterInstallValidate": between("InstallValidate", "InstallInitialize"),
        "afterInstallInitialize": right_after("InstallInitialize", False),
        "afterInstallExecute": right_after("InstallExecute", True),
        "afterInstallExecuteAgain": right_after("InstallExecuteAgain", True),
        "afterInstallFinalize": "InstallFinalize" in number and rep > number["InstallFinalize"],
    }
    if not any(allowed.values()):
        failures.append("%s: where ICE63 does not allow it (between InstallValidate and InstallInitialize, "
                        "right after InstallInitialize, InstallExecute or InstallExecuteAgain, or after "
                        "InstallFinalize)" % row)
    elif schedule and not allowed[schedule]:
        failures.append("%s: not where MajorUpgrade/@Schedule %s puts it (after %s)"
                        % (row, schedule, SCHEDULES[schedule]))


def check_script(msi, custom, declared, failures):
    """ICE77, and each declared rollback action before the action it undoes."""
    for table in ("InstallExecuteSequence", "InstallUISequence"):
        seq = sequence_rows(msi, table)
        number = {action: n for n, action, _ in seq}
        first, last = number.get("InstallInitialize"), number.get("InstallFinalize")
        for n, action, _ in seq:
            kind = int(custom[action]["Type"]) if action in custom else 0
            if not kind & IN_SCRIPT:
                continue
            what = "rollback" if kind & ROLLBACK else "commit" if kind & COMMIT else "deferred"
            if table == "InstallUISequence" or first is None or last is None or not first < n < last:
                failures.append("%s row %s (%d): a %s action outside InstallInitialize..InstallFinalize (ICE77)"
                                % (table, action, n, what))
        binaries = {row.get("Name") for row in rows(msi, "Binary")}
        for rollback, (action, binary) in sorted(declared.rollbacks.items()):
            if action not in number or (binary and binary not in binaries):
                continue
            if rollback not in number:
                failures.append("%s: no row for %s, the rollback of %s (%d)" % (table, rollback, action, number[action]))
            elif number[rollback] > number[action]:
                failures.append("%s row %s (%d): the rollback of %s (%d) comes after it"
                                % (table, rollback, number[rollback], action, number[action]))
    for rollback in sorted(declared.rollbacks):
        kind = int(custom[rollback]["Type"]) if rollback in custom else 0
        if rollback in custom and (kind & (IN_SCRIPT | ROLLBACK | COMMIT)) != IN_SCRIPT | ROLLBACK:
            failures.append("CustomAction row %s: type %d is not a rollback action" % (rollback, kind))


def check_unit(msi, declared, failures):
    if platform(msi) in ("x64", "Arm64", "Intel64"):
        for row in rows(msi, "Component"):
            if row["Component"] in declared.components and int(row["Attributes"] or 0) & COMPONENT_64BIT:
                failures.append("Component row %s: 64-bit (Attributes %s) in an x64 package; the unit's "
                                "components are 32-bit" % (row["Component"], row["Attributes"]))
        for row in rows(msi, "RegLocator"):
            if row["Signature_"] in declared.searches and int(row["Type"] or 0) & LOCATOR_64BIT:
                failures.append("RegLocator row %s: reads the 64-bit registry view (Type %s); the unit's "
                                "32-bit component writes the value" % (row["Signature_"], row["Type"]))
    for row in rows(msi, "Component"):
        missing = [term for term in declared.component_conditions.get(row["Component"], [])
                   if term not in conjuncts(row.get("Condition", ""))]
        if missing:
            failures.append("Component row %s: condition %r lacks %s"
                            % (row["Component"], row.get("Condition", ""), " AND ".join(missing)))
    for table in ("InstallExecuteSequence", "InstallUISequence"):
        for n, action, condition in sequence_rows(msi, table):
            have = conjuncts(condition)
            missing = [term for term in declared.conditions.get(action, []) if term not in have]
            if missing:
                failures.append("%s row %s (%d): condition %r lacks %s"
                                % (table, action, n, condition, " AND ".join(missing)))


def check(msi, schedule, declared):
    """The rules' failures for the package, one text each naming its row; [] when it passes."""
    failures = []
    custom = {r["Action"]: r for r in rows(msi, "CustomAction")}
    check_lost(msi, custom, failures)
    check_remove_existing(sequence_rows(msi, "InstallExecuteSequence"), custom, schedule, failures)
    check_script(msi, custom, declared, failures)
    check_unit(msi, declared, failures)
    return failures


def schedule_of(root):
    """MajorUpgrade/@Schedule of a preprocessed source, None without a MajorUpgrade."""
    upgrade = root.find(".//%sMajorUpgrade" % WIX)
    if upgrade is None:
        return None
    schedule = upgrade.get("Schedule", "afterInstallValidate")
    if schedule not in SCHEDULES:
        raise CheckError("MajorUpgrade/@Schedule %r is none of %s" % (schedule, ", ".join(SCHEDULES)))
    return schedule


def main():
    parser = argparse.ArgumentParser(description="the tables of a package against Windows Installer's rules")
    parser.add_argument("package")
    parser.add_argument("source")
    parser.add_argument("-a", "--arch", choices=("x86", "x64"), default="x86")
    parser.add_argument("-D", dest="defines", action="append", default=[], metavar="NAME=VALUE")
    parser.add_argument("-I", dest="includes", action="append", default=[], metavar="DIR")
    args = parser.parse_args()
    includes = args.includes + [os.path.dirname(os.path.abspath(__file__))]
    command = ["wixl", "-E", "-a", args.arch] + [o for d in includes for o in ("-I", d)]
    command += [o for d in args.defines for o in ("-D", d)] + [args.source]
    res = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        if res.returncode != 0:
            raise CheckError("wixl could not preprocess %s" % args.source)
        declared = Declarations()
        declared.read(args.source, includes)
        failures = check(os.path.abspath(args.package), schedule_of(ET.fromstring(res.stdout)), declared)
    except CheckError as e:
        print("msicheck: %s" % e, file=sys.stderr)
        return 2
    for failure in failures:
        print("msicheck: %s: %s" % (os.path.basename(args.package), failure), file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
