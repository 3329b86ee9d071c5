#!/usr/bin/env python3
"""One end-to-end scenario of the Windows exe under Wine.

The real exe runs from a scenario folder with the stand-in setupapi.dll and
hid.dll beside it (WINEDLLOVERRIDES makes Wine load those instead of its own),
which serve the HID interfaces of the folder's testbed (see
standin_testbed.h), and with the stand-in updater tool, which cmd.exe finds
in the current folder. The scenario checks the exact bytes on standard output,
the exit status as Wine's caller sees it (-1 is 255), the tool's command
lines, and from the stand-ins' log how the exe used SetupAPI and the HID
library.

Usage: e2e_windows.py --wine WINE --exe EXE --standins DIR --work DIR SCENARIO
"""
import argparse
import os
import shutil
import subprocess
import sys
import time

STANDIN_FILES = ["setupapi.dll", "hid.dll", "lighthouse_watchman_update.exe"]
HOLDER = "hold_device.exe"

# The record sizes of 64-bit Windows, where these tests run.
INTERFACE_DATA_SIZE = 32
DETAIL_FIXED_SIZE = 8
READ_WRITE_ACCESS = 0x12019F  # GENERIC_READ | GENERIC_WRITE, as a file grants them
PRESENT_INTERFACES = "0x12"   # DIGCF_PRESENT | DIGCF_DEVICEINTERFACE

OTHER_VENDOR = "046D C52B"
CONTROLLER = "28DE 2300"
BOOTLOADER = "28DE 2301"

INFO_UP_TO_DATE = (b"Lighthouse Watchman Update Tool\r\n"
                   b"Hardware revision:  84020006\r\n"
                   b"Bootloader version: 1526361203\r\n")
INFO_OLD = (b"Lighthouse Watchman Update Tool\n"
            b"Hardware revision:  84020006\r\n"
            b"Bootloader version: 1480000000\n")
INFO_UNSUPPORTED = (b"Lighthouse Watchman Update Tool\r\n"
                    b"Hardware revision:  84020005\r\n"
                    b"Bootloader version: 1526361203\r\n")
# Progress with bare CRs, a CR LF pair and percent signs that are no format.
FLASH = b"Writing %s: 0%\r50%\r100%\r\nVerify %d%% OK\nDone."
FLASH_SHOWN = b"Writing %s: 0%\r50%\r100%\r\nVerify %d%% OK\r\nDone."

ONLY = b"Korrind (2018) only.\r\n"
UP_TO_DATE = b"All have been update to the latest verison."
CANNOT_CHANGE = b"Cannot change the mode.\r\n"
CANNOT_RESUME = b"Cannot resume the device. Please re-plug USB again.\r\n"

WHOLE_CYCLE = ["-bw3", "-aw3", "-Rw3"]

# devices: name -> text; holders: (device, shared); files: testbed file -> bytes;
# searches: how many device searches the run makes; seconds: (least, most).
SCENARIOS = {
    "up_to_date": dict(
        # Another vendor's device, the same vendor with another product, the
        # device held open (shared) by another program, and a second match.
        devices={"hid0": OTHER_VENDOR, "hid1": "28DE 2302", "hid2": CONTROLLER,
                 "hid3": CONTROLLER},
        holders=[("hid2", True)],
        files={"info": INFO_UP_TO_DATE},
        stdout=UP_TO_DATE, status=0, calls=WHOLE_CYCLE, searches=125),
    "needs_flash": dict(
        devices={"hid0": CONTROLLER},
        files={"info": INFO_OLD, "flash": FLASH},
        stdout=FLASH_SHOWN + b"\r\n", status=0,
        calls=WHOLE_CYCLE + ["--target=bootloader zandor_korrind_bootloader.fw"], searches=126),
    "unsupported_hardware": dict(
        devices={"hid0": CONTROLLER},
        files={"info": INFO_UNSUPPORTED},
        stdout=ONLY, status=255, calls=WHOLE_CYCLE, searches=125),
    # Wine's own setupapi.dll and hid.dll, which know no HID device.
    "wine_dlls_no_device": dict(
        standins=False, devices={}, stdout=ONLY, status=255, calls=None, searches=None,
        seconds=(4.5, 30)),
    "no_device": dict(
        devices={}, stdout=ONLY, status=255, calls=None, searches=5, seconds=(4.5, 30)),
    "unusable_interfaces": dict(
        # Every interface that could be the device fails one step, and one is
        # the device in bootloader mode: no match, so a run without a device.
        devices={"hid0": CONTROLLER + " nosize", "hid1": CONTROLLER + " zerosize",
                 "hid2": CONTROLLER, "hid3": CONTROLLER + " faildetail",
                 "hid4": CONTROLLER + " failattributes", "hid5": BOOTLOADER,
                 "hid6": CONTROLLER + " tinysize"},
        holders=[("hid2", False)],
        stdout=ONLY, status=255, calls=None, searches=5, seconds=(4.5, 30)),
    "enumeration_fails": dict(
        devices={"hid0": CONTROLLER}, files={"fail_enum": b""},
        stdout=ONLY, status=255, calls=None, searches=5, seconds=(4.5, 30)),
    "no_device_set": dict(
        devices={"hid0": CONTROLLER}, files={"fail_classdevs": b""},
        stdout=ONLY, status=255, calls=None, searches=5, seconds=(4.5, 30)),
    "cannot_change_mode": dict(
        devices={"hid0": CONTROLLER}, files={"boot_delay": b"never\n"},
        stdout=CANNOT_CHANGE, status=255, calls=["-bw3"], searches=65, seconds=(59, 120)),
    "cannot_resume": dict(
        devices={"hid0": CONTROLLER}, files={"info": INFO_UP_TO_DATE, "resume_delay": b"never\n"},
        stdout=CANNOT_RESUME, status=255, calls=WHOLE_CYCLE, searches=125, seconds=(59, 120)),
}


def windows_path(path):
    """The path as a Wine program names it, on the drive that maps /."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def parse(line):
    """'verb key=value ... -> result' as (verb, {key: value}, result)."""
    head, _, result = line.partition(" -> ")
    words = head.split()
    fields = dict(word.split("=", 1) for word in words[1:])
    return words[0], fields, result


def check_log(lines, problems):
    """The rules of the search, over the stand-ins' log of one run. Returns
    the events as (verb, fields, result) and the number of searches."""
    events = [parse(line) for line in lines]
    searches = 0
    open_set = None      # the set of the search under way
    next_index = None    # the member index its next enumeration call must ask for
    ended = False        # its enumeration has ended: only the release may follow
    detail_need = None   # (index, size) the last size query reported
    opened = None        # device whose detail was fetched, not yet queried
    unknown_blocks = 0   # detail buffers not found on a process heap
    for number, (verb, fields, result) in enumerate(events, 1):
        where = f"log line {number}: {lines[number - 1]}"
        if verb == "leak":
            problems.append(f"a device handle was not closed before the search went on: {where}")
        elif verb == "unfreed":
            problems.append(f"a detail buffer was not freed before the search went on: {where}")
        elif verb == "classdevs":
            searches += 1
            if open_set is not None:
                problems.append(f"a new search began before set {open_set} was released: {where}")
            if (fields["guid"], fields["enumerator"], fields["parent"], fields["flags"]) != (
                    "hid", "null", "null", PRESENT_INTERFACES):
                problems.append(f"not the present HID interfaces: {where}")
            if result.startswith("set="):
                open_set = result.split()[0].split("=")[1]
                next_index, ended, detail_need, opened = 0, False, None, None
        elif verb == "enum":
            if fields["set"] != open_set or ended:
                problems.append(f"enumeration outside a live search: {where}")
            if int(fields["index"]) != next_index:
                problems.append(f"member index {fields['index']}, expected {next_index}: {where}")
            if (fields["info"], fields["guid"], fields.get("cbSize"), fields.get("rest")) != (
                    "null", "hid", str(INTERFACE_DATA_SIZE), "zero"):
                problems.append(f"interface record not cleared and sized, or wrong filter: {where}")
            if result == "bad":
                problems.append(f"the stand-in refused the call: {where}")
            next_index = (next_index or 0) + 1
            ended = not result.startswith("ok")
            detail_need, opened = None, None
        elif verb == "detail":
            if fields["set"] != open_set or ended or fields["info"] != "null":
                problems.append(f"detail query outside a live search or with an info record: {where}")
            index = int(fields.get("index", -1))
            if fields["buffer"] == "null":
                if fields["size"] != "0" or fields["required"] != "set":
                    problems.append(f"the size query must pass size 0 and ask for the size: {where}")
                detail_need = (index, int(result.split("=")[1])) if result.startswith("need=") else (
                    index, 0)
            else:
                if detail_need is None or detail_need[0] != index:
                    problems.append(f"detail fetched without asking its size first: {where}")
                elif detail_need[1] < 4:
                    problems.append(f"detail fetched though the size reported cannot hold the "
                                    f"record's size field: {where}")
                elif int(fields["size"]) != detail_need[1]:
                    problems.append(f"size {fields['size']} passed, {detail_need[1]} asked: {where}")
                if fields["block"] == "unknown":
                    unknown_blocks += 1
                elif detail_need is not None and int(fields["block"]) != detail_need[1]:
                    problems.append(f"buffer of {fields['block']} bytes allocated: {where}")
                if (fields["cbSize"], fields["rest"]) != (str(DETAIL_FIXED_SIZE), "zero"):
                    problems.append(f"detail record not zero-filled with the fixed size: {where}")
                if result in ("bad", "badsize", "short"):
                    problems.append(f"the stand-in refused the call: {where}")
                detail_need = None
                opened = fields["device"] if result == "ok" else None
        elif verb == "attributes":
            if opened is None or fields["device"] != opened:
                problems.append(f"attributes of a device whose path was not just fetched: {where}")
            if (fields["size"], fields["rest"]) != ("0", "zero"):
                problems.append(f"attribute record not zeroed: {where}")
            if int(fields["access"], 16) != READ_WRITE_ACCESS or fields["overlapped"] != "yes":
                problems.append(f"device not opened read/write and overlapped: {where}")
            opened = None
        elif verb == "destroy":
            if fields["set"] != open_set or result != "ok":
                problems.append(f"released a set that is not the live one: {where}")
            open_set = None
        elif verb == "exit":
            if fields["sets_open"] != "0":
                problems.append(f"sets left unreleased at exit: {where}")
    if open_set is not None:
        problems.append(f"set {open_set} never released")
    if unknown_blocks:
        problems.append(f"{unknown_blocks} detail buffers not from the heap: sizes unchecked")
    if not events or events[-1][0] != "exit":
        problems.append("the log does not end with the exe's exit")
    return events, searches


def by_search(events):
    """The events of each search, from its classdevs call on."""
    searches = []
    for event in events:
        if event[0] == "classdevs":
            searches.append([])
        if searches:
            searches[-1].append(event)
    return searches


def check_scenario(name, events, problems):
    """What each scenario's interfaces must make the search do."""
    searches = by_search([event for event in events if event[0] not in ("hidguid", "exit")])
    if name == "up_to_date":
        for search in searches:
            asked = [e[1]["device"] for e in search if e[0] == "attributes"]
            if "hid3" in asked or any(e[0] == "enum" and e[1]["index"] == "4" for e in search):
                problems.append("the search went on past the first matching interface")
            if any(e[0] == "detail" and e[1]["buffer"] == "null" and e[1].get("device") == "hid3"
                   for e in search):
                problems.append("the second matching interface was looked at")
            if "hid2" not in asked:
                problems.append("the device held open shared by another program was not queried")
    if name == "no_device":
        if any(e[0] in ("detail", "attributes") for e in events):
            problems.append("with no interface present, something was fetched or opened")
    if name == "unusable_interfaces":
        for search in searches:
            fetched = [e[1]["device"] for e in search if e[0] == "detail" and e[1]["buffer"] == "set"]
            asked = [e[1]["device"] for e in search if e[0] == "attributes"]
            if "hid0" in fetched or "hid1" in fetched or "hid6" in fetched:
                problems.append("a detail buffer was used though the size query reported none")
            if fetched != ["hid2", "hid3", "hid4", "hid5"]:
                problems.append(f"details fetched: {fetched}")
            if asked != ["hid4", "hid5"]:
                problems.append(f"attributes asked of {asked}: the held device must not open")
            if [e[1]["index"] for e in search if e[0] == "enum"] != [str(i) for i in range(8)]:
                problems.append("the search did not go through every interface once")
    if name == "enumeration_fails":
        for search in searches:
            if [e[0] for e in search] != ["classdevs", "enum", "destroy"]:
                problems.append(f"after the first enumeration call failed: {[e[0] for e in search]}")
                break
    if name == "no_device_set":
        if any(e[0] not in ("hidguid", "classdevs", "exit") for e in events):
            problems.append("the search went on after the set could not be made")


def run(arguments):
    scenario = SCENARIOS[arguments.scenario]
    folder = os.path.join(arguments.work, arguments.scenario)
    shutil.rmtree(folder, ignore_errors=True)
    testbed = os.path.join(folder, "testbed")
    os.makedirs(os.path.join(testbed, "devices"))
    exe = os.path.join(folder, os.path.basename(arguments.exe))
    shutil.copy2(arguments.exe, exe)
    standins = scenario.get("standins", True)
    for name in STANDIN_FILES if standins else STANDIN_FILES[2:]:
        shutil.copy2(os.path.join(arguments.standins, name), folder)
    for device, text in scenario["devices"].items():
        with open(os.path.join(testbed, "devices", device), "w") as file:
            file.write(text + "\n")
    for name, data in scenario.get("files", {}).items():
        with open(os.path.join(testbed, name), "wb") as file:
            file.write(data)

    environment = dict(os.environ)
    for variable in ("DISPLAY", "WAYLAND_DISPLAY"):
        environment.pop(variable, None)
    environment["WINEDEBUG"] = "-all"
    # Without the override Wine would load its own setupapi.dll and hid.dll.
    environment["WINEDLLOVERRIDES"] = ("setupapi,hid=n,b;" if standins else "") + "mscoree,mshtml="

    holders = []
    problems = []
    try:
        for device, shared in scenario.get("holders", []):
            holder = subprocess.Popen(
                [arguments.wine, os.path.join(arguments.standins, HOLDER),
                 windows_path(os.path.join(testbed, "devices", device)), "300"]
                + (["shared"] if shared else []),
                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, env=environment)
            holders.append(holder)
            if holder.stdout.readline().strip() != b"held":
                raise RuntimeError(f"hold_device could not hold {device}")
        started = time.monotonic()
        completed = subprocess.run([arguments.wine, exe], cwd=folder, env=environment,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, timeout=170)
        seconds = time.monotonic() - started
    finally:
        for holder in holders:
            holder.kill()
            holder.wait()

    if completed.stdout != scenario["stdout"]:
        problems.append(f"stdout {completed.stdout!r}, expected {scenario['stdout']!r}")
    if completed.returncode != scenario["status"]:
        problems.append(f"exit status {completed.returncode}, expected {scenario['status']}")
    least, most = scenario.get("seconds", (0, 60))
    if not least <= seconds <= most:
        problems.append(f"took {seconds:.1f} s, expected {least} to {most} s")

    calls_path = os.path.join(testbed, "calls")
    calls = open(calls_path).read().splitlines() if os.path.exists(calls_path) else None
    if calls != scenario["calls"]:
        problems.append(f"tool calls {calls}, expected {scenario['calls']}")

    log_path = os.path.join(testbed, "log")
    if not standins:
        lines = []
        if os.path.exists(log_path):
            problems.append("a stand-in DLL was loaded")
        events, searches = [], None
    elif not os.path.exists(log_path):
        problems.append("no stand-in log: Wine did not load the stand-in DLLs")
        lines = []
    else:
        lines = open(log_path).read().splitlines()
    if standins:
        events, searches = check_log(lines, problems)
    if searches != scenario["searches"]:
        problems.append(f"{searches} searches, expected {scenario['searches']}")
    check_scenario(arguments.scenario, events, problems)

    print(f"{arguments.scenario}: status {completed.returncode}, {seconds:.1f} s, "
          f"{searches} searches, {len(lines)} stand-in calls, stdout {completed.stdout!r}")
    for problem in problems[:40]:
        print(f"FAIL: {problem}")
    return 1 if problems else 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine", required=True)
    parser.add_argument("--exe", required=True)
    parser.add_argument("--standins", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("scenario", choices=sorted(SCENARIOS))
    return run(parser.parse_args())


if __name__ == "__main__":
    sys.exit(main())
