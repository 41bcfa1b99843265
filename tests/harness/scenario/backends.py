"""Where a scenario runs: natively, a fresh sysroot per scenario; under Wine,
one prefix per invocation, reset before each scenario."""

import os

from ..machine import NativeMachine, WineMachine
from ..wine import WinePrefix, remove_tree
from .format import ScenarioError


def padded_path(base, length):
    """A path under base exactly length bytes long (components of at most 200 bytes)."""
    path = os.path.abspath(base)
    need = length - len(path)
    if need < 2:
        raise ScenarioError("cannot make a %d-byte path under %s" % (length, path))
    while need > 0:
        # Each component costs its length plus the "/" before it; avoid a last one of 1 byte.
        take = min(need - 1, 200)
        take -= 1 if need - (take + 1) == 1 else 0
        path += "/" + "p" * take
        need -= take + 1
    return path


class NativeBackend:
    name = "native"
    complete = ["windows", "temp", "cwd"]

    def __init__(self, program, work):
        if not os.access(program, os.X_OK):
            raise OSError("program not found or not executable: %s" % program)
        self.program = program

    @staticmethod
    def skip_reason(scn):
        return None

    def prepare(self, scn, scratch):
        sysroot = os.path.join(scratch, "sysroot")
        sys_opt = scn.options.get("native-sysroot", "")
        if sys_opt.startswith("long:"):
            sysroot = padded_path(scratch, int(sys_opt[5:]) - len("/windows"))
        if scn.options.get("native-tmpdir") == "missing":
            temp = os.path.join(scratch, "no-such-temp")
        else:
            temp = os.path.join(scratch, "temp")
            os.makedirs(temp)
        machine = NativeMachine(self.program, sysroot, temp, scn.options.get("native-window-station"),
                                sys_opt != "unset")
        if scn.registry is not None:
            machine.set_registry(scn.registry)
        return machine

    def close(self):
        pass


class WineBackend:
    name = "wine"
    complete = ["windows/twain_32", "temp", "cwd"]

    def __init__(self, program, work, launcher):
        for what in (program, launcher):
            if not os.path.isfile(what):
                raise OSError("not found: %s" % what)
        self.machine = WineMachine(program, WinePrefix(os.path.join(work, "prefix"), launcher))
        self.seeded_outside = []

    @staticmethod
    def skip_reason(scn):
        return "native-only option" if scn.options else None

    def prepare(self, scn, scratch):
        m = self.machine
        for path in self.seeded_outside:
            remove_tree(path)
        m.set_registry(scn.registry or "")
        m.clean()
        # What a scenario seeds in the Windows directory beside twain_32 goes before the next one.
        tops = {"/".join(e.path.split("/")[:2]) for e in scn.before if e.path.startswith("windows/")}
        self.seeded_outside = [os.path.join(m.windows_dir, top[len("windows/"):]) for top in tops
                               if top != "windows/twain_32" and not os.path.lexists(
                                   os.path.join(m.windows_dir, top[len("windows/"):]))]
        return m

    def close(self):
        self.machine.close()
