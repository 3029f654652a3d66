#!/usr/bin/env python3
"""System test of the static ARM ps2linkd on an emulated ARM board.

Unit tests under a user-mode emulator say nothing about the real kernel
devices the daemon lives on: a UART, a framebuffer, the console keyboard
layout. This driver boots a real ARM Linux kernel on QEMU's vexpress-a9 with
a small initramfs (busybox, the install bundle unpacked at its root, the
board's init script), types adapter frames into the board's second UART
through a host pseudo-terminal, reads the adapter commands that come back,
takes screenshots of the board's display through QMP, and checks what the
handheld's software would see. First the bundle's init script starts,
queries and stops the daemon, as on the handheld; the later runs start the
bundle's daemon directly: twice in uinput mode (-u), with the bundle's key
map and the board's event reader on its devices, then with the board's own
key maps.
Under strace on the board it also counts the daemon's system calls per frame:
the handheld's kernel has no user-space clock, so every call costs. Then the
bundle's ps2trace reads the line while the host types, and its trace is
checked.
Last, it replays the transcripts of tests/transcripts on the board and
compares every device's bytes with theirs.

Usage: arm_board_test.py --kernel K --dtb D --busybox B --strace-tree T
                         --bundle Z --plan F --modules M --event-reader R --out DIR
(T: strace, its loader and C library at their paths in a root file system;
M: the kernel's evdev.ko and uinput.ko; R: the board's event reader;
Z: the install bundle, ps2link-VERSION-armv5te.tar.gz;
F: the transcripts and board/board.steps as `run_transcript --plan` prints
them)
"""

import argparse
import gzip
import json
import os
import select
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time
import tty
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
BOARD_FILES = os.path.join(HERE, "board")

COLUMNS, ROWS = 480, 640

# A guard against a hung board, not a measurement: no check depends on it.
HANG_GUARD_S = 60

class Failed(Exception):
    """The board cannot go on: it stopped, hung, or answered nonsense."""


# ---------------------------------------------------------------- frames --

# The adapter input of the board's own runs by step name, from the plan:
# board/board.steps in the simulator's script language, printed as bytes by
# `run_transcript --plan`.
STEPS = {}

# ------------------------------------------------------- expected results --

SIGNAL_MESSAGE = b"SIGNAL(15) " + "を受けたのでポートを閉じて終了します。\n".encode("euc_jp")

# The calibration in board/pointercal (2000 0 -7000 0 3000 11000 1000) maps
# a panel point (x, y) to column 2x - 7 and row 3y + 11; a touch line
# carries the inverse, x = (column + 7) / 2 and y = (row - 11) / 3,
# truncated toward zero.

# Each step: legend, frames typed, then the key events (between brackets:
# the text line without its newline), touch lines and adapter commands
# that the step adds.
# Each step's input is named in board/board.steps.
CONSOLE_STEPS = [
    ("pointer to column 200, row 100: a touch line, no cursor in console mode",
     "pointer", [], ["0 103 29 0"], b""),
    ("F1, a key of the console key map only",
     "f1", [" 59 1 ", " 59 0 "], [], b""),
]

# Plain, wrapped and E0 keys, the lights, the joystick and a bad checksum
# are the transcripts' (keys_plain, wrapped, lights, joystick, frames), which
# the board replays; here the board's own key map and screen.
MAIN_STEPS = [
    ("pointer moves: button, negative steps, the clamp at 0, rounding toward zero",
     "pointer-moves", [], ["0 103 29 0", "500 113 36 0", "500 108 3 0", "0 3 -3 0",
                           "0 123 81 0", "0 123 103 0"], b""),
    # Frames are handled in order: once this key is out, the cursor is drawn.
    ("a, after the pointer",
     "a", [" 30 1 ", " 30 0 "], [], b""),
]

CURSOR_ANCHOR = (240, 320)  # (column, row) after MAIN_STEPS

# The runs of the init script, with the bundle's own key maps (a is key 30
# in both).
SCRIPT_STEPS = [
    ("pointer to column 200, row 100: a touch line",
     "pointer", [], ["0 103 29 0"], b""),
    ("a pressed and released, after the pointer",
     "a", [" 30 1 ", " 30 0 "], [], b""),
]
SCRIPT_CURSOR_ANCHOR = (200, 100)  # after SCRIPT_STEPS, when not in console mode

# The bundle's ps2trace on the line, with the board's key map: what it shows
# for a and a mouse frame (the host build prints the same for these bytes).
TRACE_STEPS = ("a", "pointer")
TRACE_LINES = [
    "4B 01 1C 00 00 1D  key 1  1C        press   'a'         |  kbd \" 30 1 \\n\"  line 6: 1c a - 1e",
    "4B 02 F0 1C 00 0E  key 2  F0 1C     release 'a'         |  kbd \" 30 0 \\n\"  line 6: 1c a - 1e",
    "4D 00 00 64 C8 2C  mouse  x +100 y +200  no button      |  dropped: the daemon runs without -M",
]

# The uinput runs: the reader's lines of both devices, "TAG TYPE CODE VALUE".
# A key event is its scan code (EV_MSC MSC_SCAN), the key, a SYN_REPORT.
SYN, MOUSE_SYN = "kbd 0 0 0", "mouse 0 0 0"


def key_event(scan, code, value):
    return [f"kbd 4 4 {scan}", f"kbd 1 {code} {value}", SYN]


def tap(scan, code):
    return key_event(scan, code, 1) + key_event(scan, code, 0)


# The keyboard declares the key map's code above 255 (BTN_MODE, 316), the
# mouse its three buttons.
UINPUT_FOUND = ("the reader finds both devices, on the RS-232 bus, with their codes above 255",
                None, ["kbd bus 0013", "kbd keys above 255 316",
                       "mouse bus 0013", "mouse keys above 255 272 273 274"], [], b"")
# Shift held over a key, Pause and E0 75 on the input device are the unit
# test uinput_form.events_of_frames'; here, what needs a real kernel: the
# devices made, the record size, repeats, the lights and the destroy.
UINPUT_STEPS = [
    UINPUT_FOUND,
    ("h and i typed", "hi", tap(0x33, 35) + tap(0x43, 23), [], b""),
    # The kernel passes value 2 on, and would drop a second 1 for a key down.
    ("a held across three make codes: values 1, 2, 2, 0", "a-held",
     sum((key_event(0x1C, 30, v) for v in (1, 2, 2, 0)), []), [], b""),
    ("mouse: a move with Y upward, left button, a frame that changes nothing, release",
     "uinput-mouse",
     ["mouse 2 0 5", "mouse 2 1 -3", MOUSE_SYN,
      "mouse 2 0 -4", "mouse 2 1 7", "mouse 1 272 1", MOUSE_SYN,
      "mouse 1 272 0", MOUSE_SYN], [], b""),
]
# NumLock (LED 0) and Caps Lock (LED 1) written in one batch: one command.
# The reader sees the written events too: the kernel passes them on to every
# reader of the device.
UINPUT_LIGHTS = ("lights written to the keyboard device reach the adapter once",
                 None, ["kbd 17 0 1", "kbd 17 1 1", SYN], [], b"k\xed\x06")
UINPUT_HELD = ("shift and a held", "shift-a-held",
               key_event(0x12, 42, 1) + key_event(0x1C, 30, 1), [], b"")

# The traced run: a stream of frames typed in one go, each making one key
# event. A byte should cost one read and a key event one write, nothing else;
# only a read that brought nothing (the line fell idle) may be followed by a
# clock read and a pause before the next read.
STREAM_FRAMES = 40  # of the step "stream"
STREAM_KEYS = [" 30 1 ", " 30 0 "] * (STREAM_FRAMES // 2)

# The cursor as the handheld's users know it, stored row by stored row:
# B black, W white, . transparent. Stored row k lands in column
# anchor_column - 1 - k, stored column j in row anchor_row + j.
CURSOR_PICTURE = [
    "BBBBBBBBB.......",
    "BWWWWWWWB.......",
    "BWWWWWWWB.......",
    "BWWWWWWWB.......",
    "BWWWWWWWB.......",
    "BWWWWWWWB.......",
    "BWWWWWWWB.......",
    "BWWWWWWWWB......",
    "BBBBBWWWWWB.....",
    ".....BWWWWWB....",
    "......BWWWWWB...",
    ".......BWWWWWB..",
    "........BWWWWWB.",
    ".........BWWWB..",
    "..........BWB...",
    "...........B....",
]

# ----------------------------------------------------------- transcripts --

# What `run_transcript --plan` prints for each transcript, as a dict: name,
# options (text), keymap, input and, when present, pointercal (bytes), and
# expect: bytes per device.
TRANSCRIPT_DEVICES = ("kbd", "keypipe", "ts", "adapter", "stdout")


def read_plan(path):
    plan, current = [], None
    with open(path) as f:
        for line in f:
            word, _, rest = line.rstrip("\n").partition(" ")
            if word == "transcript":
                current = {"name": rest, "expect": {}}
            elif word == "options":
                current["options"] = rest
            elif word in ("keymap", "pointercal", "input"):
                current[word] = bytes.fromhex(rest)
            elif word == "expect":
                device, _, hex_bytes = rest.partition(" ")
                current["expect"][device] = bytes.fromhex(hex_bytes)
            elif word == "step":
                name, _, hex_bytes = rest.partition(" ")
                STEPS[name] = bytes.fromhex(hex_bytes)
            elif word == "end":
                if sorted(current["expect"]) != sorted(TRANSCRIPT_DEVICES):
                    raise Failed(f"{path}: {current['name']}: not every device expected")
                plan.append(current)
            else:
                raise Failed(f"{path}: a line the plan has no place for: {line!r}")
    return plan


def put_transcripts(rootfs, plan):
    """Each transcript's files where the board's init looks for them."""
    folder = os.path.join(rootfs, "usr/share/board/transcripts")
    os.makedirs(folder)
    with open(os.path.join(folder, "list"), "w") as f:
        f.write("".join(t["name"] + "\n" for t in plan))
    for t in plan:
        files = {"options": t["options"].encode() + b"\n", "keymap": t["keymap"],
                 "input_size": f"{len(t['input'])}\n".encode()}
        if "pointercal" in t:
            files["pointercal"] = t["pointercal"]
        os.makedirs(os.path.join(folder, t["name"]))
        for name, data in files.items():
            with open(os.path.join(folder, t["name"], name), "wb") as f:
                f.write(data)


# ------------------------------------------------------------ the screen --


def background_pixel(column, row):
    """RGB565 of the picture the board's init puts on the screen: every
    pixel differs from its neighbours, so a pixel restored from the wrong
    place shows."""
    red = column * 31 // (COLUMNS - 1)
    green = row * 63 // (ROWS - 1)
    blue = (column ^ row) & 0x1F
    return red << 11 | green << 5 | blue


def background_file():
    pixels = bytearray()
    for row in range(ROWS):
        for column in range(COLUMNS):
            pixels += struct.pack("<H", background_pixel(column, row))
    return bytes(pixels)


def rgb_of(pixel565):
    """The colour QEMU's display shows for an RGB565 pixel."""
    return ((pixel565 >> 11) << 3, ((pixel565 >> 5) & 0x3F) << 2, (pixel565 & 0x1F) << 3)


def expected_screen(cursor_anchor=None):
    screen = [[rgb_of(background_pixel(c, r)) for c in range(COLUMNS)] for r in range(ROWS)]
    if cursor_anchor:
        anchor_column, anchor_row = cursor_anchor
        for k, stored_row in enumerate(CURSOR_PICTURE):
            for j, value in enumerate(stored_row):
                column, row = anchor_column - 1 - k, anchor_row + j
                if value != "." and 0 <= column < COLUMNS and 0 <= row < ROWS:
                    screen[row][column] = rgb_of(0x0000 if value == "B" else 0xFFFF)
    return screen


def read_png(path):
    """Rows of (r, g, b) from an 8-bit RGB, non-interlaced PNG."""
    with open(path, "rb") as f:
        data = f.read()
    position, compressed = 8, b""
    while position < len(data):
        length, kind = struct.unpack(">I4s", data[position:position + 8])
        body = data[position + 8:position + 8 + length]
        position += 12 + length
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if (depth, colour, interlace) != (8, 2, 0):
                raise Failed(f"{path}: not an 8-bit RGB PNG")
        elif kind == b"IDAT":
            compressed += body
    raw = zlib.decompress(compressed)
    stride, rows, previous = width * 3, [], bytearray(width * 3)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for x in range(stride):
            left = line[x - 3] if x >= 3 else 0
            up = previous[x]
            up_left = previous[x - 3] if x >= 3 else 0
            if kind == 1:
                line[x] = (line[x] + left) & 0xFF
            elif kind == 2:
                line[x] = (line[x] + up) & 0xFF
            elif kind == 3:
                line[x] = (line[x] + (left + up) // 2) & 0xFF
            elif kind == 4:
                guess = left + up - up_left
                nearest = min((abs(guess - left), 0, left), (abs(guess - up), 1, up),
                              (abs(guess - up_left), 2, up_left))[2]
                line[x] = (line[x] + nearest) & 0xFF
        rows.append([tuple(line[x:x + 3]) for x in range(0, stride, 3)])
        previous = line
    return rows


# ------------------------------------------------------------- the board --


board = {}  # the running board: process, QMP stream, adapter line, reports


def start_board(args, workdir, plan):
    rootfs = os.path.join(workdir, "rootfs")
    shutil.copytree(args.strace_tree, rootfs, symlinks=True)
    # Installed as the handheld's users install it: unpacked at the root.
    subprocess.run(["tar", "-xzf", os.path.abspath(args.bundle), "-C", rootfs], check=True)
    put_transcripts(rootfs, plan)
    # The board's key maps wait beside the bundle's until its init script
    # has had its runs.
    for path, source in [("bin/busybox", args.busybox),
                         ("init", os.path.join(BOARD_FILES, "init")),
                         ("etc/pointercal", os.path.join(BOARD_FILES, "pointercal")),
                         ("usr/share/board/ser_code_vantor_console.ini",
                          os.path.join(BOARD_FILES, "ser_code_vantor_console.ini")),
                         ("usr/share/board/ser_code_vantor.ini",
                          os.path.join(BOARD_FILES, "ser_code_vantor.ini")),
                         ("usr/bin/event_reader", args.event_reader),
                         ("usr/share/board/modules/evdev.ko",
                          os.path.join(args.modules, "evdev.ko")),
                         ("usr/share/board/modules/uinput.ko",
                          os.path.join(args.modules, "uinput.ko"))]:
        os.makedirs(os.path.dirname(os.path.join(rootfs, path)), exist_ok=True)
        shutil.copy(source, os.path.join(rootfs, path))
    os.chmod(os.path.join(rootfs, "init"), 0o755)
    os.makedirs(os.path.join(rootfs, "usr/share/board"), exist_ok=True)
    with open(os.path.join(rootfs, "usr/share/board/background.rgb565"), "wb") as f:
        f.write(background_file())
    with open(os.path.join(rootfs, "usr/share/board/stream_frames"), "w") as f:
        f.write(f"{STREAM_FRAMES}\n")
    power_on(args, workdir, pack_initrd(rootfs, workdir),
             "quiet consoleblank=0 vt.global_cursor_default=0")


def pack_initrd(rootfs, workdir):
    """The initramfs of ROOTFS, every file owned by root; its path."""
    names = subprocess.run(["find", "."], cwd=rootfs, check=True, capture_output=True).stdout
    archive = subprocess.run(["cpio", "-o", "-H", "newc", "-R", "0:0", "--quiet"], cwd=rootfs,
                             input=names, check=True, capture_output=True).stdout
    initrd = os.path.join(workdir, "initrd.gz")
    with gzip.open(initrd, "wb", compresslevel=1) as f:
        f.write(archive)
    return initrd


def power_on(args, workdir, initrd, append):
    """Boots the board (kernel, device tree, INITRD, the kernel's command
    line APPEND after its console) with its UARTs and QMP connected."""
    qmp_path = os.path.join(workdir, "qmp.sock")
    board["console_log"] = os.path.join(args.out, "console.log")
    command = ["qemu-system-arm", "-M", "vexpress-a9", "-m", "256",
               "-kernel", args.kernel, "-dtb", args.dtb, "-initrd", initrd,
               "-append", "console=ttyAMA0 " + append,
               "-display", "none", "-monitor", "none", "-no-reboot",
               "-serial", "file:" + board["console_log"], "-serial", "pty", "-serial", "pty",
               "-qmp", f"unix:{qmp_path},server=on,wait=off", "-S"]
    environment = dict(os.environ, QEMU_AUDIO_DRV="none")
    board["qemu"] = subprocess.Popen(command, env=environment, stdout=subprocess.DEVNULL)
    guard = time.monotonic() + HANG_GUARD_S
    while not os.path.exists(qmp_path):
        if board["qemu"].poll() is not None or time.monotonic() > guard:
            raise Failed("QEMU did not start: " + " ".join(command))
        time.sleep(0.05)
    connection = socket.socket(socket.AF_UNIX)
    connection.connect(qmp_path)
    board["qmp"] = connection.makefile("rw")
    board["qmp"].readline()  # greeting
    qmp("qmp_capabilities")
    # The adapter line: the board's second UART, a host pseudo-terminal; the
    # third is where the host tells the board's init to go on.
    ptys = {c["label"]: c["filename"][4:] for c in qmp("query-chardev")}
    for name, label in [("adapter", "serial1"), ("control", "serial2")]:
        board[name] = os.open(ptys[label], os.O_RDWR | os.O_NOCTTY)
        tty.setraw(board[name])
    board["from_adapter"], board["commands"] = b"", b""
    board["console"], board["console_rest"], board["reports"] = open(
        board["console_log"], "rb"), b"", []
    qmp("cont")
    board["started"] = time.monotonic()


def qmp(command, **arguments):
    request = {"execute": command}
    if arguments:
        request["arguments"] = arguments
    board["qmp"].write(json.dumps(request) + "\n")
    board["qmp"].flush()
    while True:
        line = board["qmp"].readline()
        if not line:
            raise Failed(f"QMP {command}: QEMU closed the connection")
        answer = json.loads(line)
        if "error" in answer:
            raise Failed(f"QMP {command}: {answer['error']}")
        if "return" in answer:
            return answer["return"]


def pump():
    """Collects what the board sent: adapter commands and "@@ " reports."""
    ready, _, _ = select.select([board["adapter"]], [], [], 0.05)
    if ready:
        try:
            board["from_adapter"] += os.read(board["adapter"], 4096)
        except OSError:
            pass  # the board has closed the line (powered off)
    board["console_rest"] += board["console"].read()
    *lines, board["console_rest"] = board["console_rest"].split(b"\n")
    for line in lines:
        line = line.rstrip(b"\r").decode("latin-1")
        if line.startswith("@@ "):
            board["reports"].append(line[3:])


def drain_adapter():
    """Everything the line holds now."""
    while select.select([board["adapter"]], [], [], 0)[0]:
        try:
            data = os.read(board["adapter"], 4096)
        except OSError:
            return
        if not data:
            return
        board["from_adapter"] += data


def wait_until(condition, what):
    guard = time.monotonic() + HANG_GUARD_S
    while not condition():
        if board["qemu"].poll() is not None:
            raise Failed(f"the board stopped while waiting for {what}")
        if time.monotonic() > guard:
            raise Failed(f"no {what} from the board; its last reports: {board['reports'][-8:]}"
                         f"; adapter commands so far: {board['from_adapter']!r}")
        pump()


def reports_starting(prefix):
    return [r[len(prefix):] for r in board["reports"] if r.startswith(prefix)]


def lines_of(kind, run):
    """Key event or touch lines of a run, without their brackets."""
    return [r[1:-1] for r in reports_starting(f"{kind} {run} ")]


def bytes_of(kind, run):
    return bytes.fromhex(" ".join(reports_starting(f"{kind} {run} ")))


def report(name):
    found = [r for r in board["reports"] if r.startswith(name + " ") or r == name]
    return found[-1] if found else None


def type_frames(data):
    while data:
        _, writable, _ = select.select([], [board["adapter"]], [], 1)
        if writable:
            data = data[os.write(board["adapter"], data):]


def screenshot(path):
    qmp("screendump", filename=os.path.abspath(path), format="png")
    return read_png(path)


# ---------------------------------------------------------------- checks --

failures = []


def check(legend, actual, expected):
    if actual == expected:
        print(f"  ok    {legend}")
    else:
        print(f"  FAIL  {legend}\n        expected {expected!r}\n        actual   {actual!r}")
        failures.append(legend)


def check_screen(legend, rows, expected):
    if (len(rows[0]), len(rows)) != (COLUMNS, ROWS):
        check(legend + ": screenshot size", (len(rows[0]), len(rows)), (COLUMNS, ROWS))
        return
    wrong = [(c, r, rows[r][c], expected[r][c]) for r in range(ROWS) for c in range(COLUMNS)
             if rows[r][c] != expected[r][c]]
    check(legend, f"{len(wrong)} pixels off; the first as (column, row, seen, wanted): "
          f"{wrong[:3]}" if wrong else "every pixel as expected", "every pixel as expected")


def play(run, steps, keys=()):
    """Types the steps' frames and checks each step's output, after the
    key events KEYS. The adapter commands are counted over the whole boot:
    a daemon sends its first one before it is ready."""
    keys, touches = list(keys), []
    for legend, frames, new_keys, new_touches, new_commands in steps:
        keys, touches = keys + new_keys, touches + new_touches
        board["commands"] += new_commands
        type_frames(STEPS[frames] if frames else b"")
        wait_until(lambda: len(lines_of("kbd", run)) >= len(keys)
                   and len(lines_of("ts", run)) >= len(touches)
                   and len(board["from_adapter"]) >= len(board["commands"]),
                   f"the output of '{legend}'")
        check(f"{run}: {legend}",
              (lines_of("kbd", run), lines_of("ts", run), board["from_adapter"]),
              (keys, touches, board["commands"]))
    return keys


def stop_run(run, keys):
    type_frames(STEPS["f12"])
    wait_until(lambda: report(f"exit {run}"), f"the end of the {run} run")
    check(f"{run}: F12 is the last key pressed; SIGTERM ends the daemon with status 1, "
          f"its exit releasing F12",
          (lines_of("kbd", run)[len(keys):], report(f"exit {run}")),
          ([" 88 1 ", " 88 0 "], f"exit {run} 1"))


def script_run(run, out, console_mode):
    """The bundle's daemon started, queried and stopped by the bundle's init
    script (the board reports each call's exit status and output, and the
    ps2linkd processes it finds itself); keys and the pointer in between."""
    wait_until(lambda: report(f"ready {run}") or report(f"unready {run}"),
               f"the {run} daemon's readiness")
    board.setdefault("first_ready", (run, time.monotonic() - board["started"]))
    processes = report(f"running {run}").split()[2:]
    pid = processes[0].split(":")[0] if processes else "none"
    check(f"{run}: start exits 0 naming the one ps2linkd process that now runs",
          (report(f"start {run}"), len(processes)),
          (f"start {run} 0 ps2linkd started (pid {pid})", 1))
    check(f"{run}: status exits 0 with that pid",
          reports_starting(f"status {run} ")[:1], [f"0 ps2linkd is running (pid {pid})"])
    check(f"{run}: the daemon reads the adapter line", report(f"ready {run}") is not None, True)
    layouts = ("ps2", "zeta") if console_mode else ("zeta", "zeta")
    check(f"{run}: start-up layout", report(f"layout {run} running"),
          f"layout {run} running {layouts[0]}")
    board["commands"] += b"e"  # -M
    keys = play(run, SCRIPT_STEPS) if report(f"ready {run}") else []
    if not console_mode:
        check_screen(f"{run}: the cursor is drawn at column 200, row 100",
                     screenshot(os.path.join(out, f"{run}.png")),
                     expected_screen(SCRIPT_CURSOR_ANCHOR))
    os.write(board["control"], b"next\n")
    wait_until(lambda: report(f"layout {run} after"), f"the end of the {run} run")
    check(f"{run}: stop exits 0 once no ps2linkd process is left",
          (report(f"stop {run}"), report(f"left {run}")),
          (f"stop {run} 0 ps2linkd stopped", f"left {run}"))
    check(f"{run}: status then exits 3", reports_starting(f"status {run} ")[1:],
          ["3 ps2linkd is not running"])
    check(f"{run}: no key event or touch line after the typed ones",
          (lines_of("kbd", run), lines_of("ts", run)),
          (keys, [line for step in SCRIPT_STEPS for line in step[3]]))
    check(f"{run}: the " + ("stop restored the built-in layout" if console_mode
                            else "layout is left alone"),
          report(f"layout {run} after"), f"layout {run} after {layouts[1]}")
    if not console_mode:
        check_screen(f"{run}: the stop erased the cursor",
                     screenshot(os.path.join(out, f"{run}-after.png")), expected_screen())


def uinput_run(run, signal, steps, lights=None):
    """The daemon's own input devices as a program on the board reads
    them: the steps, then the lights, then the daemon stopped by SIGNAL
    while keys are held; what the reader saw after that is returned."""
    wait_until(lambda: report(f"ready {run}") or report(f"unready {run}"), f"the {run} daemon")
    check(f"{run}: the daemon starts and waits on the adapter line",
          report(f"ready {run}"), f"ready {run}")
    keys = []
    if report(f"ready {run}"):
        # -M, then the lights as the console keeps them (all off), sent once.
        board["commands"] += b"ek\xed\x00"
        keys = play(run, steps)
        if lights:
            os.write(board["control"], f"led {lights[0]}\n".encode())
            keys = play(run, [lights[1]], keys)
        keys = play(run, [UINPUT_HELD], keys)
    os.write(board["control"], f"stop {signal}\n".encode())
    wait_until(lambda: report(f"inputs {run}"), f"the end of the {run} run")
    check(f"{run}: no ps2link device is left", "ps2link" in report(f"inputs {run}"), False)
    return lines_of("kbd", run)[len(keys):]


def uinput_runs():
    after = uinput_run("uinput", "TERM", UINPUT_STEPS, ("0 1 1 1", UINPUT_LIGHTS))
    check("uinput: SIGTERM releases the held keys, then both devices go",
          (sorted(after[:-2]), after[1:-2:2], sorted(after[-2:])),
          (sorted(["kbd 1 42 0", "kbd 1 30 0", SYN, SYN]), [SYN, SYN], ["kbd gone", "mouse gone"]))
    check("uinput: standard output holds the signal message only; exit status 1",
          (bytes_of("stdout", "uinput"), bytes_of("stderr", "uinput"), report("exit uinput")),
          (SIGNAL_MESSAGE, b"", "exit uinput 1"))
    after = uinput_run("uinput-kill", "KILL", [UINPUT_FOUND])
    print(f"  note: SIGKILL with shift and a held: the reader saw {after}; "
          f"{report('exit uinput-kill')}")


def console_run(out):
    wait_until(lambda: report("ready console") or report("exit console"),
               "the daemon's readiness (console mode)")
    check("console: the daemon starts and waits on the adapter line",
          report("ready console") is not None, True)
    check("console: start-up loaded the console layout", report("layout console running"),
          "layout console running ps2")
    board["commands"] += b"e"  # -M
    keys = play("console", CONSOLE_STEPS)
    check_screen("console: no cursor drawn in console mode",
                 screenshot(os.path.join(out, "console-run.png")), expected_screen())
    stop_run("console", keys)
    check("console: the exit restored the built-in layout", report("layout console after"),
          "layout console after zeta")
    check("console: standard output holds the signal message only",
          bytes_of("stdout", "console"), SIGNAL_MESSAGE)
    check("console: nothing on standard error", bytes_of("stderr", "console"), b"")


def main_run(out):
    wait_until(lambda: report("ready main") or report("exit main"), "the daemon's readiness")
    check("main: the daemon starts and waits on the adapter line",
          report("ready main") is not None, True)
    check("main: the layout is left alone", report("layout main running"),
          "layout main running zeta")
    board["commands"] += b"e"  # -M
    keys = play("main", MAIN_STEPS)
    check_screen("main: the cursor is drawn at column 240, row 320 and nowhere else",
                 screenshot(os.path.join(out, "screenshot.png")), expected_screen(CURSOR_ANCHOR))
    stop_run("main", keys)
    check_screen("main: the exit erased the cursor",
                 screenshot(os.path.join(out, "after-exit.png")), expected_screen())
    check("main: standard output: the -i message, the signal message",
          bytes_of("stdout", "main"), b"DTR set to HIGH\n" + SIGNAL_MESSAGE)
    check("main: nothing on standard error", bytes_of("stderr", "main"), b"")
    check("main: the layout is still the built-in one", report("layout main after"),
          "layout main after zeta")


def traced_run():
    wait_until(lambda: report("tracing traced") or report("exit traced"),
               "strace on the ready daemon")
    type_frames(STEPS["stream"])
    wait_until(lambda: report("counted traced"), "the system-call counts")
    check("traced: one key event a frame", lines_of("kbd", "traced"), STREAM_KEYS)
    # "NAME COUNT" from the first read that brought a byte to the last write;
    # reads and writes with their device, reads with their result.
    calls = {}
    for line in reports_starting("calls traced "):
        name, count = line.rsplit(" ", 1)
        calls[name] = int(count)
    one_byte = calls.pop("read(/dev/ttyAMA1)=1", 0)
    empty = calls.pop("read(/dev/ttyAMA1)=0", 0)
    writes = {}
    for name in [c for c in calls if c.startswith(("write(", "writev("))]:
        device = name[name.index("(") + 1:-1]
        writes[device] = writes.get(device, 0) + calls.pop(name)
    idle = {c[len("idle "):]: calls.pop(c) for c in list(calls) if c.startswith("idle ")}
    frames, sent = STREAM_FRAMES, len(STEPS["stream"])
    print(f"  calls per frame ({frames} frames of {sent // frames} bytes): "
          f"one-byte reads {one_byte / frames:g}, writes {sum(writes.values()) / frames:g} "
          f"{writes}, others {sum(calls.values()) / frames:g} {calls}; "
          f"empty reads in all {empty}, the calls after them {idle}")
    check("traced: a read per byte, a write per key event, nothing else",
          (one_byte, writes, calls), (sent, {"/dev/kbd": frames}, {}))
    # Idle moments are the emulated line's timing, not the daemon's doing.
    if empty:
        print(f"  note: the line fell idle {empty} time(s) during the stream")
    clock_reads = sum(n for name, n in idle.items() if name.startswith("clock_gettime"))
    pauses = sum(n for name, n in idle.items() if "sleep" in name)
    check("traced: after each empty read one clock read, at most one pause, nothing else",
          (clock_reads, min(pauses, empty), clock_reads + pauses),
          (empty, pauses, sum(idle.values())))
    stop_run("traced", STREAM_KEYS)


def trace_run():
    """The bundle's ps2trace (static musl, as the daemon) reads the adapter
    line while the host types frames; SIGTERM ends it once it has read
    them, with status 0. It sends nothing down the line."""
    wait_until(lambda: report("ready trace") or report("unready trace"),
               "the bundle's ps2trace on the line")
    data = b"".join(STEPS[step] for step in TRACE_STEPS)
    if report("ready trace"):
        type_frames(data)
    os.write(board["control"], f"next {len(data)}\n".encode())
    wait_until(lambda: report("exit trace"), "the end of the trace")
    check("trace: ps2trace -p on the line decodes each frame as it comes; SIGTERM ends it",
          (report("ready trace"), report("stalled trace"), lines_of("trace", "out"),
           bytes_of("stderr", "trace"), report("exit trace")),
          ("ready trace", None, TRACE_LINES,
           b"ps2trace: reading /dev/ttyAMA1 (a daemon started now finds it locked)\n",
           "exit trace 0"))
    wait_until(lambda: report("transcripts"), "the transcripts' start")
    drain_adapter()
    check("boot: adapter commands of all runs, nothing at the exits",
          board["from_adapter"], board["commands"])


def replay_transcript(t):
    """One transcript on the board: its daemon waits for the host's go, the
    host types the input once it is ready, the board stops it once it has
    read all of it and reports what each device received."""
    run = "t-" + t["name"]
    start = len(board["from_adapter"])
    os.write(board["control"], b"next\n")
    wait_until(lambda: report(f"ready {run}") or report(f"exit {run}"), f"the {run} daemon")
    if report(f"ready {run}"):
        type_frames(t["input"])
    wait_until(lambda: report(f"exit {run}"), f"the end of the {run} run")
    # The daemon's exit waited until its commands had left the UART; the
    # pseudo-terminal hands them on a moment later. Fewer than expected after
    # a short guard is for the check to show, not a hung board.
    guard = time.monotonic() + 2
    while (len(board["from_adapter"]) - start < len(t["expect"]["adapter"])
           and time.monotonic() < guard):
        pump()
    drain_adapter()
    received = {device: bytes_of(device, run) for device in ("kbd", "keypipe", "ts")}
    received["adapter"] = board["from_adapter"][start:]
    received["stdout"] = bytes_of("stdout", run)
    received["ready"] = report(f"ready {run}") is not None
    received["stalled"] = report(f"stalled {run}")
    received["exit"] = report(f"exit {run}")
    # Standard error is no device of a transcript (it holds the warning about
    # a missing calibration file); the board reports it all the same.
    expected = dict(t["expect"], ready=True, stalled=None, exit=f"exit {run} 1")
    # What was printed before the stop, then the stop's own message.
    expected["stdout"] += SIGNAL_MESSAGE
    wrong = sorted(k for k in expected if received[k] != expected[k])
    check(f"transcript {t['name']} ({t['options'] or 'no options'}, {len(t['input'])} bytes "
          f"in): every device byte for byte",
          {k: received[k] for k in wrong}, {k: expected[k] for k in wrong})


def transcripts_run(plan):
    began = float(report("transcripts").split()[-1])
    for t in plan:
        replay_transcript(t)
    wait_until(lambda: report("done"), "the board's end")
    board["transcript_time"] = float(report("done").split()[-1]) - began


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for name in ("kernel", "dtb", "busybox", "strace-tree", "bundle", "plan", "modules",
                 "event-reader", "out"):
        parser.add_argument("--" + name, required=True)
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    workdir = tempfile.mkdtemp(prefix="ps2link-arm-")
    try:
        plan = read_plan(args.plan)
        start_board(args, workdir, plan)
        wait_until(lambda: report("layouts"), "the board's start")
        print(f"board: kernel up after {board['reports'][0].split()[-1]} s of board time")
        check("board: the display is a 480 x 640 RGB565 framebuffer", report("fb"),
              "fb 0 CLCD FB size 480,640 bpp 16 stride 960")
        check("board: the two layouts made for console mode differ", report("layouts"),
              "layouts differ")
        script_run("script-console", args.out, console_mode=True)
        script_run("script-main", args.out, console_mode=False)
        uinput_runs()
        console_run(args.out)
        main_run(args.out)
        traced_run()
        trace_run()
        transcripts_run(plan)
        board["qmp"].write('{"execute": "quit"}\n')  # no answer to wait for
        board["qmp"].flush()
        board["qemu"].wait(timeout=HANG_GUARD_S)
        first, ready_after = board["first_ready"]
        print(f"board: the first daemon ({first}) ready {ready_after:.1f} s after power-on "
              f"({report('ready ' + first).split()[-1]} s of board time), "
              f"whole run {time.monotonic() - board['started']:.1f} s")
        print(f"board: {len(plan)} transcripts replayed in {board['transcript_time']:.1f} s "
              f"of board time")
    except Failed as failure:
        print(f"  FAIL  {failure}")
        failures.append(str(failure))
    finally:
        power_off(workdir)
    return verdict(args.out, "console.log, script-main.png, script-main-after.png, "
                   "screenshot.png, console-run.png, after-exit.png")


def power_off(workdir):
    """The board stopped, if it still runs, and its work directory gone."""
    if "qemu" in board and board["qemu"].poll() is None:
        board["qemu"].kill()
        board["qemu"].wait()
    shutil.rmtree(workdir, ignore_errors=True)


def verdict(out, artefacts):
    """Where the artefacts are and how the checks went; the exit status."""
    print(f"artefacts: {out} ({artefacts})")
    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
