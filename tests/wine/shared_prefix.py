#!/usr/bin/env python3
"""One Wine prefix for the tests of this directory and tests/msi, made fresh
at the start of a run and removed at its end (a prefix takes ~1.3 GB).

  shared_prefix.py create DIR | remove DIR
"""

import os
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "winetest"))
from zulwine import WinePrefix  # noqa: E402


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("create", "remove"):
        print("usage: shared_prefix.py create|remove DIR", file=sys.stderr)
        return 2
    path = os.path.abspath(sys.argv[2])
    if os.path.isdir(path):
        prefix = WinePrefix(path)
        prefix.server_running = True  # a server left by an interrupted run must end too
        prefix.stop_server()
        shutil.rmtree(path)
    if sys.argv[1] == "create":
        WinePrefix(path).open().close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
