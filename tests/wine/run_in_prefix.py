#!/usr/bin/env python3
"""Runs a Windows test program in an existing Wine prefix and exits with its status.

  run_in_prefix.py --prefix DIR EXE [ARGUMENTS...]
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "winetest"))
from zulwine import WinePrefix, windows_path  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--prefix", required=True)
    parser.add_argument("exe")
    parser.add_argument("arguments", nargs="*")
    args = parser.parse_args()
    with WinePrefix(args.prefix) as prefix:
        sys.stdout.flush()
        return prefix.run(args.exe, " ".join('"%s"' % windows_path(a) if os.path.exists(a) else a
                                             for a in args.arguments))


if __name__ == "__main__":
    sys.exit(main())
