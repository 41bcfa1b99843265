"""The test harness: a Wine prefix (wine), the machine the program runs on,
natively or under Wine (machine), the registry text of imaging devices
(devices) and the scenario runner (scenario). Its path, tests/, is set once:
by CMake for the tests, by the bash entry points for the rest."""
