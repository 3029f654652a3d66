#!/usr/bin/env python3
"""The Debian package's hardened unit on the emulated ARM board, systemd as init.

The host checks of the package (tests/dist/check_deb.sh) read the unit; only
a running systemd shows that the daemon works under it: the package's user
reaching the line through dialout and uinput through the udev rule, the
module loaded by modules-load.d, the system-call filter letting the static
ARM daemon through, READY=1 ending the start. This driver boots the board of
arm_board_test.py with Debian's armhf systemd, udev and kmod (and the
libraries they need, as apt resolves them) as its init, downloaded into the
board's cache and never installed on the host. The package's files come
from the host's .deb, unpacked at the root as dpkg would; we build no armhf
package, so the bundle's static daemon takes the unit's ExecStart path. The
board's check script (board-systemd/check) starts, kills, stops and fails
ps2linkd@dev-ttyAMA1.service, and the host types through the line.

Usage: systemd_board_test.py --kernel K --kernel-release V --dtb D --modules M
       --busybox B --daemon P --event-reader R --deb F --plan L --debs C --out DIR
(M: the kernel's evdev.ko and uinput.ko; P: the static ARM ps2linkd; F: the
host's ps2link .deb; L: board/board.steps as `run_transcript --plan` prints
it; C: where the armhf packages are downloaded)
"""

import argparse
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time

import arm_board_test as arm
from arm_board_test import board, check, lines_of, report, tap, wait_until

HERE = os.path.dirname(os.path.abspath(__file__))
UNIT = "ps2linkd@dev-ttyAMA1.service"

# The board's init and what it runs on; apt adds the libraries.
ROOTS = ("systemd", "udev", "kmod", "mount")
# What the board never reads.
UNPACK_EXCLUDES = ("./usr/share/doc", "./usr/share/man", "./usr/share/locale",
                   "./usr/share/bash-completion", "./usr/share/zsh", "./lib/udev/hwdb.d")

# Both devices found; the package's key map declares no key above 255.
DEVICES = ["kbd bus 0013", "kbd keys above 255", "mouse bus 0013",
           "mouse keys above 255 272 273 274"]
# -M, then the lights as the console keeps them, at each start.
START_COMMANDS = b"ek\xed\x00"


def board_packages(debs):
    """The .deb files of ROOTS and of the libraries they depend on, for
    armhf; the missing ones are downloaded into DEBS."""
    names, wanted = set(), set(ROOTS)
    while wanted:
        names |= wanted
        said = subprocess.run(["apt-cache", "depends", "--no-recommends", "--no-suggests",
                               "--no-conflicts", "--no-breaks", "--no-replaces", "--no-enhances"]
                              + [name + ":armhf" for name in sorted(wanted)],
                              check=True, capture_output=True, text=True).stdout
        found, alternative = set(), False
        for line in said.splitlines():
            kind, _, name = line.strip().partition(": ")
            # Of alternatives ("|Depends: a" then "Depends: b") the first.
            if kind.lstrip("|") in ("Depends", "PreDepends") and not alternative:
                found.add(name.split(":")[0])
            alternative = kind.startswith("|")
        wanted = {name for name in found if name.startswith("lib")} - names
    missing = [name for name in sorted(names)
               if not glob.glob(os.path.join(debs, f"{name}_*_armhf.deb"))]
    if missing:
        print(f"downloading {' '.join(missing)} (armhf) into {debs}")
        subprocess.run(["apt-get", "download", "-q"] + [name + ":armhf" for name in missing],
                       cwd=debs, check=True, stdout=subprocess.DEVNULL)
    return sorted(glob.glob(os.path.join(debs, f"{name}_*_armhf.deb"))[-1] for name in names)


def unpacked(packages, cache):
    """The packages unpacked into one tree, kept in CACHE until they change."""
    listing = "".join(os.path.basename(p) + "\n" for p in packages)
    tree, marker = os.path.join(cache, "tree"), os.path.join(cache, "packages")
    if os.path.exists(marker) and open(marker).read() == listing:
        return tree
    shutil.rmtree(cache, ignore_errors=True)
    os.makedirs(tree)
    excludes = [f"--exclude={path}" for path in UNPACK_EXCLUDES]
    for package in packages:
        data = subprocess.run(["dpkg-deb", "--fsys-tarfile", package], check=True,
                              capture_output=True).stdout
        subprocess.run(["tar", "-x", "-C", tree] + excludes, input=data, check=True)
    with open(marker, "w") as f:
        f.write(listing)
    return tree


def make_root(args, workdir):
    rootfs = os.path.join(workdir, "rootfs")
    tree = unpacked(board_packages(args.debs), os.path.join(args.debs, "..", "systemd-root"))
    shutil.copytree(tree, rootfs, symlinks=True)
    subprocess.run(["dpkg-deb", "-x", args.deb, rootfs], check=True)
    modules = f"lib/modules/{args.kernel_release}/kernel/drivers/input"
    for path, source in [("bin/busybox", args.busybox),
                         ("usr/sbin/ps2linkd", args.daemon),
                         ("usr/bin/event_reader", args.event_reader),
                         (f"{modules}/evdev.ko", os.path.join(args.modules, "evdev.ko")),
                         (f"{modules}/misc/uinput.ko", os.path.join(args.modules, "uinput.ko")),
                         ("usr/share/board/check", os.path.join(HERE, "board-systemd/check")),
                         ("etc/systemd/system/board.target",
                          os.path.join(HERE, "board-systemd/board.target")),
                         ("etc/systemd/system/board-check.service",
                          os.path.join(HERE, "board-systemd/board-check.service"))]:
        os.makedirs(os.path.dirname(os.path.join(rootfs, path)), exist_ok=True)
        shutil.copy(source, os.path.join(rootfs, path))
    # The board's module tree holds these two modules and nothing built in.
    for index in ("modules.order", "modules.builtin", "modules.builtin.modinfo"):
        open(os.path.join(rootfs, "lib/modules", args.kernel_release, index), "w").close()
    subprocess.run(["depmod", "-b", rootfs, args.kernel_release], check=True)
    # A machine that has booted before: no first-boot questions on the console.
    with open(os.path.join(rootfs, "etc/machine-id"), "w") as f:
        f.write("0123456789abcdef0123456789abcdef\n")
    return arm.pack_initrd(rootfs, workdir)


def typed(run, frames, keys):
    """Types FRAMES once the board reads the run's devices; their events."""
    # Typed once the reader has found both devices: events before its open
    # would pass unseen.
    wait_until(lambda: len(lines_of("kbd", run)) >= len(DEVICES), f"the {run} run's devices")
    arm.type_frames(frames)
    wait_until(lambda: len(lines_of("kbd", run)) >= len(keys), f"the keys of the {run} run")
    board["commands"] += START_COMMANDS
    arm.drain_adapter()
    check(f"{run}: the keys typed on the line come out of the daemon's devices; "
          f"-M and the lights reach the adapter",
          (lines_of("kbd", run)[:len(keys)], board["from_adapter"]), (keys, board["commands"]))
    os.write(board["control"], b"next\n")


def state(step):
    return (report(f"state {step}") or "").split()[2:]


def run_checks():
    wait_until(lambda: report("line"), "systemd's start of the board's checks")
    board["up"] = float(report("up").split()[1])
    check("boot: udev gave /dev/uinput to the package's group, modules-load.d loaded uinput; "
          "the line is dialout's",
          (report("uinput"), report("line")), ("uinput ps2link 660 module 1", "line dialout 660"))
    wait_until(lambda: report("credentials"), "the unit's start")
    _, status, began, ended = report("start").split()
    board["start_s"] = float(ended) - float(began)
    check(f"start: systemctl start exits 0 once the daemon is ready; the unit runs",
          (status, state("start")),
          ("0", ["ActiveState=active", "NRestarts=0", "Result=success", "SubState=running"]))
    check("start: the daemon runs as the package's user, reaching the line through dialout",
          report("credentials"), "credentials user ps2link group ps2link groups dialout ps2link")
    typed("start", arm.STEPS["hi"], DEVICES + tap(0x33, 35) + tap(0x43, 23))
    wait_until(lambda: report("state restart"), "the restart after SIGKILL")
    check("SIGKILL: the unit starts the daemon again (Restart=on-failure)",
          state("restart"),
          ["ActiveState=active", "NRestarts=1", "Result=success", "SubState=running"])
    typed("restart", arm.STEPS["a"], DEVICES + tap(0x1C, 30))
    wait_until(lambda: report("state stop"), "the stop")
    # The daemon ends a stop with status 1 (the existing board test checks
    # that); the unit counts it a success.
    check("stop: systemctl stop exits 0; the unit is inactive, its result a success",
          (report("stop"), state("stop")),
          ("stop 0", ["ActiveState=inactive", "NRestarts=0", "Result=success", "SubState=dead"]))
    wait_until(lambda: report("done"), "the failed start and the start limit")
    check("no uinput: the module unloaded and blocked", report("blocked"), "blocked 0 module 0")
    check("no uinput: systemctl start exits non-zero, Result=protocol",
          (report("failed-start") != "failed-start 0", "Result=protocol" in state("failed-start")),
          (True, True))
    check("no uinput: after the start limit the unit is failed",
          state("limit")[:1], ["ActiveState=failed"])
    print(f"  note: after the start limit: {report('state limit')}")
    for line in arm.reports_starting("journal "):
        print(f"  journal: {line}")
    _, began, ended = report("limited").split()
    board["limit_s"] = float(ended) - float(began)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for name in ("kernel", "kernel-release", "dtb", "modules", "busybox", "daemon",
                 "event-reader", "deb", "plan", "debs", "out"):
        parser.add_argument("--" + name, required=True)
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    arm.read_plan(args.plan)
    # Emulated systemd with udev boots slower than busybox; still a hang guard.
    arm.HANG_GUARD_S = 180
    workdir = tempfile.mkdtemp(prefix="ps2link-systemd-")
    started = time.monotonic()
    try:
        initrd = make_root(args, workdir)
        print(f"board: root file system packed in {time.monotonic() - started:.1f} s")
        arm.power_on(args, workdir, initrd,
                     f"rdinit=/lib/systemd/systemd systemd.unit=board.target quiet "
                     f"systemd.show_status=error")
        run_checks()
        print(f"board: systemd started the checks {board['up']:.1f} s after power-on "
              f"(board time); systemctl start took {board['start_s']:.1f} s, "
              f"the failed starts up to the limit {board['limit_s']:.1f} s; "
              f"whole run {time.monotonic() - started:.1f} s")
    except arm.Failed as failure:
        print(f"  FAIL  {failure}")
        arm.failures.append(str(failure))
    finally:
        arm.power_off(workdir)
    return arm.verdict(args.out, "console.log")


if __name__ == "__main__":
    sys.exit(main())
