#!/usr/bin/env python3
"""Stand-in for the port's setup script.

It builds nothing: it prints the installer's "@@" line protocol the way a
scenario tells it to, so that the installer can be exercised end to end.

Choosing what it does:

  VELKOR_STANDIN_PLAN=<file>      a JSON plan (see below) - wins over the rest
  VELKOR_STANDIN_SCRIPT=<name>    one of the built-in scenarios (SCENARIOS)
  neither                         "check" when --check is given, else "demo"

  VELKOR_STANDIN_RECORD=<file>    also write {"argv", "cwd", "env"} as JSON
                                  to this file before doing anything else
  VELKOR_STANDIN_SPEED=<factor>   divide every pause by this factor (demo)

A plan is a JSON list of actions, run in order:

  {"line": "text"}        print text and a line feed
  {"raw": "text"}         print text as it is (no line feed), flushed at once
  {"sleep": seconds}      pause
  {"exit": code}          end with this exit status
  {"hang": true}          wait until killed
  {"signal": "KILL"}      send this signal to itself (KILL, TERM, ...)
  {"echo_args": true}     print one line per argument: "arg[<i>]=<value>"
  {"touch": "relative/path"}  create an empty file below the working folder

Without an "exit" action the script ends with status 0.
"""

import json
import os
import shutil
import signal
import sys
import time


def _speed():
    try:
        factor = float(os.environ.get("VELKOR_STANDIN_SPEED", "1"))
        return factor if factor > 0 else 1.0
    except ValueError:
        return 1.0


def _arg_after(name, default=""):
    args = sys.argv[1:]
    for i, arg in enumerate(args[:-1]):
        if arg == name:
            return args[i + 1]
    return default


def _demo():
    """About 20 seconds through the nine install steps."""
    play = _arg_after("--play-dir", os.path.join(os.getcwd(), "dist"))
    details = [
        "Python 3, compilers, build tools",
        "reading the game files",
        "XenonRecomp and XenosRecomp",
        "libraries of the port",
        "recompiling the game code",
        "building the game",
        "subtitles and extras",
        "play folder",
        "assets for modding",
    ]
    plan = []
    for number, detail in enumerate(details, start=1):
        plan.append({"line": f"@@step {number} | {detail}"})
        plan.append({"line": f"step {number}: {detail}"})
        if number == 2:
            total = 48 * 1048576
            for part in range(1, 5):
                plan.append({"line": f"@@download game files {part * total // 4} {total}"})
                plan.append({"sleep": 0.4})
        elif number == 5:
            plan.append({"line": "@@hint This is the longest step; it takes a few minutes on a real machine."})
            for tenth in range(1, 11):
                plan.append({"line": f"@@progress {tenth / 10:.1f}"})
                plan.append({"sleep": 0.5})
        else:
            for quarter in range(1, 5):
                plan.append({"line": f"@@progress {quarter / 4:.2f}"})
                plan.append({"sleep": 0.45})
        if number == 8:
            plan.append({"line": f"@@game-ready {play}"})
    plan.append({"line": f"@@finished {play}"})
    plan.append({"line": "All done."})
    return plan


def _check():
    """What a real check reports: the interpreter, two tools, one package."""
    plan = [{"line": "@@prereq ok Python 3.11+ | " + sys.executable}]
    for tool in ("git", "cmake"):
        found = shutil.which(tool)
        plan.append({"line": f"@@prereq ok {tool} | {found}" if found else f"@@prereq missing {tool}"})
    plan.append({"line": "@@pypkg ok tomli>=2.0"})
    plan.append({"line": "@@toolchain bundled"})
    return plan


SCENARIOS = {
    # Every marker once, then success.
    "ok": lambda: [
        {"line": "preparing"},
        {"line": "@@step 1 | checking | twice"},
        {"line": "@@progress 0.25"},
        {"line": "@@step 2 | game files"},
        {"line": "@@download game data 52428800 104857600"},
        {"line": "@@hint keep the window open"},
        {"line": "@@step 8"},
        {"line": "@@game-ready /games/velkor play"},
        {"line": "@@unknown marker"},
        {"line": "@@finished /games/velkor final"},
        {"line": "done"},
        {"exit": 0},
    ],
    # A failure with its own text.
    "error": lambda: [
        {"line": "@@step 5 | recompiling"},
        {"line": "@@error The recompiler ran out of memory."},
        {"exit": 3},
    ],
    # A failure without a text.
    "fail": lambda: [{"line": "@@step 3"}, {"line": "something broke"}, {"exit": 1}],
    # Output in pieces, CR LF line ends, a lone CR and no final line feed.
    "pieces": lambda: [
        {"raw": "@@st"}, {"sleep": 0.05}, {"raw": "ep 4 | li"}, {"sleep": 0.05},
        {"raw": "braries\r\n"}, {"raw": "first\rhalf"}, {"sleep": 0.05},
        {"raw": "\n"}, {"raw": "no line feed at the end"},
    ],
    # Waits until it is killed (cancellation tests).
    "hang": lambda: [{"line": "@@step 6 | building"}, {"hang": True}],
    # Kills itself with SIGKILL.
    "killed": lambda: [{"line": "@@step 6 | building"}, {"signal": "KILL"}],
    # Prints its arguments.
    "args": lambda: [{"echo_args": True}],
    "check": _check,
    "demo": _demo,
}


def _write_record(path):
    names = ["PYTHONUTF8", "PYTHONIOENCODING", "PYTHONDONTWRITEBYTECODE", "PYTHONHOME", "PYTHONPATH"]
    record = {
        "argv": sys.argv[1:],
        "cwd": os.getcwd(),
        "env": {name: os.environ.get(name) for name in names},
    }
    with open(path, "w", encoding="utf-8") as f:
        json.dump(record, f)


def _load_plan():
    plan_file = os.environ.get("VELKOR_STANDIN_PLAN")
    if plan_file:
        with open(plan_file, encoding="utf-8") as f:
            return json.load(f)
    name = os.environ.get("VELKOR_STANDIN_SCRIPT")
    if not name:
        name = "check" if "--check" in sys.argv[1:] else "demo"
    if name not in SCENARIOS:
        print(f"@@error unknown stand-in scenario {name}")
        sys.exit(2)
    return SCENARIOS[name]()


def main():
    record = os.environ.get("VELKOR_STANDIN_RECORD")
    if record:
        _write_record(record)
    speed = _speed()
    out = sys.stdout
    for action in _load_plan():
        if "line" in action:
            out.write(action["line"] + "\n")
            out.flush()
        elif "raw" in action:
            out.write(action["raw"])
            out.flush()
        elif "sleep" in action:
            time.sleep(float(action["sleep"]) / speed)
        elif "exit" in action:
            out.flush()
            sys.exit(int(action["exit"]))
        elif action.get("hang"):
            while True:
                time.sleep(3600)
        elif "signal" in action:
            out.flush()
            os.kill(os.getpid(), getattr(signal, "SIG" + action["signal"]))
            time.sleep(10)
        elif action.get("echo_args"):
            for i, arg in enumerate(sys.argv[1:]):
                out.write(f"arg[{i}]={arg}\n")
            out.flush()
        elif "touch" in action:
            path = os.path.join(os.getcwd(), action["touch"])
            os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
            open(path, "a").close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
