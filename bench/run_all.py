#!/usr/bin/env python3
"""Runs every benchmark of the project and prints one table of figures,
baselines and ratios. Usage: run_all.py BUILD_DIR [--quick]

Times are medians of repetitions taken in this one run: the benchmarks'
CPU time (a shared machine's other work stretches wall time, not that), the
tool's start-up as whole runs in wall time. Only ratios are meant to be
compared between machines. --quick runs each measurement once,
so none can rot; its figures mean little.

Without --quick, the SG_IO row comes from running tools/ci/vm-test.sh when
QEMU is installed; with --quick, or without QEMU, from the figures the last
VM test run left in build-vm/vm/sg-io-bench.txt, if any."""
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
IMAGE_SIZE = 2 * 1024 * 1024
DRIVE = {"drives": [{"vendor": "VARN", "product": "DVD RW LPX-650A", "revision": "1.02",
                     "medium": "absent", "imageType": "3120", "imageSizeKiB": 2048,
                     "parameterBlocks": {"02": [5, 0, 18, 52], "24": [5, 0, 18, 52]}}]}
THREE_DRIVES = os.path.join(ROOT, "emulator", "drives", "demo.json")
# The transfers run twice. Once glibc keeps freed memory instead of handing
# it back: each transfer reuses warm pages, and the kernel's first-touch cost
# of fresh ones drops out. Once every block from 128 KiB up is a fresh
# mapping: that cost is in every transfer. Either way the same in every run,
# whatever the other benchmarks left glibc's adaptive thresholds at.
KEEP_HEAP = "glibc.malloc.trim_threshold=1000000000:glibc.malloc.mmap_threshold=1000000000"
FRESH_PAGES = "glibc.malloc.mmap_threshold=131072"
VM_FIGURES = os.path.join(ROOT, "build-vm", "vm", "sg-io-bench.txt")
CHILD_LIMIT_S = 120


def run_benchmarks(build, quick, bench_filter=None, env=None):
    args = [os.path.join(build, "bench", "tslflash_bench"), "--benchmark_format=json"]
    # Short repetitions in random order: a co-runner's burst then lands on
    # both sides of a ratio instead of on one benchmark's whole run.
    args += ["--benchmark_min_time=0.001"] if quick else [
        "--benchmark_repetitions=15", "--benchmark_min_time=0.1",
        "--benchmark_enable_random_interleaving=true", "--benchmark_report_aggregates_only=true"]
    if bench_filter:
        args.append(f"--benchmark_filter={bench_filter}")
    report = json.loads(subprocess.run(args, check=True, capture_output=True, text=True,
                                       env=env, timeout=CHILD_LIMIT_S * 5).stdout)
    medians = {}
    for entry in report["benchmarks"]:
        if entry.get("error_occurred"):
            sys.exit(f"{entry['name']}: {entry.get('error_message')}")
        name = entry.get("run_name", entry["name"])
        if quick or entry.get("aggregate_name") == "median":
            medians[name] = entry
    return medians


def child(args, env=None):
    """Wall time in ms of one run; exits when the run fails or hangs."""
    start = time.perf_counter()
    with subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, env=env) as proc:
        try:
            proc.wait(timeout=CHILD_LIMIT_S)
        except subprocess.TimeoutExpired:
            proc.kill()
            sys.exit(f"{args[0]} did not end within {CHILD_LIMIT_S} s")
    elapsed = (time.perf_counter() - start) * 1000
    if proc.returncode != 0:
        sys.exit(f"{' '.join(args)} ended with status {proc.returncode}")
    return elapsed


def peak_kib(args):
    """Peak resident KiB of one run, read from wait4."""
    with subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL) as proc:
        _, status, usage = os.wait4(proc.pid, 0)
        proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        sys.exit(f"{' '.join(args)} ended with status {proc.returncode}")
    return usage.ru_maxrss


def qt_environment():
    """The environment both Qt programs start in, and its platform plugin's
    name: the one the session names or its display's, offscreen without a
    display."""
    named = os.environ.get("QT_QPA_PLATFORM")
    if named:
        return dict(os.environ), named
    if os.environ.get("WAYLAND_DISPLAY"):
        return dict(os.environ), "wayland"
    if os.environ.get("DISPLAY"):
        return dict(os.environ), "xcb"
    return dict(os.environ, QT_QPA_PLATFORM="offscreen"), "offscreen"


def tool_runs(build, quick):
    tool = os.path.join(build, "app", "tslflash")
    runs = 1 if quick else 11
    figures = {}
    with tempfile.TemporaryDirectory() as tmp:
        image, package, drive = (os.path.join(tmp, n) for n in ("img.bin", "pkg.bin", "drive.json"))
        tslpkg = os.path.join(build, "tools", "tslpkg")
        subprocess.run([tslpkg, "synth", "--size", str(IMAGE_SIZE), "--seed", "1", "-o", image],
                       check=True, capture_output=True)
        subprocess.run([tslpkg, "build", "-o", package, "--image", image, "--inquiry-id",
                        "VARN    DVD RW LPX-650A 1.07", "--alt-name-nul", "TK300B",
                        "--variant-mark", "TW", "--revision-pattern", "1.**", "--protocol", "0"],
                       check=True, capture_output=True)
        with open(drive, "w") as out:
            json.dump(DRIVE, out)
        # The first answer is the start-up warning's; --select 0 selects
        # nothing, so the tool shows the drive list and ends.
        listing = [tool, "--terminal", "--emulate", THREE_DRIVES, "--answer", "ok", "--select",
                   "0", "--non-interactive"]
        figures["terminal_ms"] = statistics.median(child(listing) for _ in range(runs))
        window = os.path.join(build, "bench", "tslflash_qt_startup")
        floor = os.path.join(build, "bench", "tslflash_qt_floor")
        if os.path.exists(window) and os.path.exists(floor):
            env, figures["qt_platform"] = qt_environment()
            # Alternated, so a burst of other work lands on both.
            window_runs, floor_runs = [], []
            for _ in range(runs):
                window_runs.append(child([window, THREE_DRIVES], env))
                floor_runs.append(child([floor], env))
            figures["window_ms"] = statistics.median(window_runs)
            figures["floor_ms"] = statistics.median(floor_runs)
        stop = [tool, "--terminal", "--emulate", drive, "--package", package, "--answer", "ok",
                "--select", "0", "--non-interactive"]
        update = [tool, "--terminal", "--emulate", drive, "--package", package, "--select", "1",
                  "--upgrade", "--answer", "ok", "--answer", "ok", "--answer", "ok",
                  "--non-interactive", "--skip-waits"]
        figures["stop_kib"] = statistics.median(peak_kib(stop) for _ in range(runs))
        figures["update_kib"] = statistics.median(peak_kib(update) for _ in range(runs))
    return figures


def vm_figures(quick):
    """The guest's BENCH figures as a dict, and where they came from."""
    source = "last VM test run"
    if not quick and shutil.which("qemu-system-x86_64"):
        result = subprocess.run(["bash", os.path.join(ROOT, "tools", "ci", "vm-test.sh")],
                                cwd=ROOT, capture_output=True, text=True)
        if result.returncode != 0:
            return None, "the VM test failed: run tools/ci/vm-test.sh"
        source = "VM test run now"
    if not os.path.exists(VM_FIGURES):
        return None, "not measured: run tools/ci/vm-test.sh"
    with open(VM_FIGURES) as text:
        pairs = (field.split("=", 1) for field in text.read().split())
        return {key: float(value) for key, value in pairs}, source


def emulated_drive_kib(image_size):
    """What the emulated drive holds at the end of a whole update, which a
    real drive holds instead of the tool: every byte in its download memory,
    a bit a byte saying which arrived (emulator/download_memory.h), and the
    image it accepted, copied out of that memory (emulator/firmware_receiver.cpp).
    Its command trace, some tens of bytes a command, is left on the tool's
    side, so the figure errs against the tool."""
    return (image_size + image_size // 8 + image_size) // 1024


def row(name, figure, baseline, ratio, target, met):
    return (name, figure, baseline, ratio, target, "-" if met is None else ("yes" if met else "NO"))


def ms(entry):
    factor = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[entry["time_unit"]]
    return entry["cpu_time"] * factor


def mbs(entry):
    return f"{entry['bytes_per_second'] / 1e6:.0f} MB/s"


def command_path_rows(kept, fresh):
    ours, direct = kept["BM_TransferViaRegistry"], kept["BM_TransferDirect"]
    per_transfer = ours["allocs_per_transfer"]
    added = per_transfer - direct["allocs_per_transfer"]
    r = ms(ours) / ms(direct)
    rows = [row("1 command path via registry, 2 MiB", f"{ms(ours):.2f} ms",
                f"straight to emulator {ms(direct):.2f} ms", f"{r:.2f}", "<= 1.05", r <= 1.05)]
    # The emulator allocates for its own model (trace, download memory, the
    # accepted image) on both paths; the difference is what the tool adds.
    commands = per_transfer / ours["allocs_per_command"]
    rows.append(row("1 allocations the tool's path adds", f"+{added:.0f} per transfer",
                    f"emulator's own {direct['allocs_per_transfer']:.0f}",
                    f"{added / commands:.3f}/command", "0 per command", added <= 2))
    ours, direct = fresh["BM_TransferViaRegistry"], fresh["BM_TransferDirect"]
    r = ms(ours) / ms(direct)
    rows.append(row("1 same, fresh heap pages each transfer", f"{ms(ours):.2f} ms",
                    f"straight to emulator {ms(direct):.2f} ms", f"{r:.2f}", "(reported)", None))
    return rows


def table(b, kept, fresh, tools, vm, vm_source):
    rows = command_path_rows(kept, fresh)
    stage, rotated = b["BM_CheckAndStage"], b["BM_RotatedPass"]
    r = ms(stage) / ms(rotated)
    rows.append(row("2 check+stage 2 MiB", f"{ms(stage):.2f} ms {mbs(stage)}",
                    f"one rotated pass {ms(rotated):.2f} ms", f"{r:.2f}", "<= 1.3", r <= 1.3))
    copy = b["BM_TwoMemcpy"]
    r = ms(stage) / ms(copy)
    rows.append(row("2 same against 2x memcpy", f"{ms(stage):.2f} ms",
                    f"2x memcpy {ms(copy):.2f} ms", f"{r:.2f}", "(reported)", None))
    whole, byte, zlib = (b["BM_InflateImage/whole_input"], b["BM_InflateImage/byte_per_call"],
                         b["BM_ZlibUncompress"])
    r = ms(whole) / ms(zlib)
    rows.append(row("3 inflate whole input", f"{ms(whole):.2f} ms", f"uncompress {ms(zlib):.2f} ms",
                    f"{r:.2f}", "<= 1.2", r <= 1.2))
    r = ms(byte) / ms(zlib)
    rows.append(row("3 inflate byte per call", f"{ms(byte):.2f} ms",
                    f"uncompress {ms(zlib):.2f} ms", f"{r:.2f}", "(reported)", None))
    start = tools["terminal_ms"]
    rows.append(row("4 start-up to terminal drive list", f"{start:.1f} ms (whole run)", "-",
                    "-", "< 150 ms", start < 150))
    # The dialog first painted against an empty Qt dialog of its size, on the
    # same platform plugin in the same run: the toolkit's own floor.
    if "window_ms" in tools:
        start, floor = tools["window_ms"], tools["floor_ms"]
        r = start / floor
        rows.append(row("4 start-up to Qt dialog shown",
                        f"{start:.1f} ms (whole run, {tools['qt_platform']})",
                        f"empty Qt dialog {floor:.1f} ms", f"{r:.2f}", "<= 1.5", r <= 1.5))
    else:
        rows.append(row("4 start-up to Qt dialog shown", "not built without Qt", "-", "-",
                        "<= 1.5", None))
    limit = 4608  # 4.5 MiB
    update_kib, stop_kib = tools["update_kib"], tools["stop_kib"]
    diff = update_kib - stop_kib
    rows.append(row("5 peak RSS, 2 MiB update", f"{update_kib:.0f} KiB",
                    f"stop after list {stop_kib:.0f} KiB", f"+{diff:.0f} KiB", "(reported)",
                    None))
    drive_kib = emulated_drive_kib(IMAGE_SIZE)
    rows.append(row("5 same, less the emulated drive's memory", f"+{diff - drive_kib:.0f} KiB",
                    f"drive {drive_kib} KiB", "-", f"+<= {limit} KiB", diff - drive_kib <= limit))
    if vm is None:
        rows.append(row("6 SG_IO vs sg_write_buffer, 16 KiB", vm_source, "-", "-", "<= 1.0", None))
    else:
        rows.append(row("6 SG_IO vs sg_write_buffer, 16 KiB",
                        f"{vm['sg_io_us']:.1f} us/command ({vm_source})",
                        f"sg_write_buffer {vm['peer_us']:.1f} us/command", f"{vm['ratio']:.2f}",
                        "<= 1.0", vm["ratio"] <= 1.0))
    return rows


def main():
    build = sys.argv[1]
    quick = "--quick" in sys.argv[2:]
    benchmarks = run_benchmarks(build, quick, "-BM_Transfer")
    kept, fresh = (run_benchmarks(build, quick, "BM_Transfer", dict(os.environ, GLIBC_TUNABLES=t))
                   for t in (KEEP_HEAP, FRESH_PAGES))
    tools = tool_runs(build, quick)
    vm, vm_source = vm_figures(quick)
    rows = table(benchmarks, kept, fresh, tools, vm, vm_source)
    if quick:
        print("Quick mode: each measurement ran once; the figures mean little.")
    head = ("measurement", "figure", "baseline", "ratio", "target", "met?")
    widths = [max(len(r[i]) for r in rows + [head]) for i in range(len(head))]
    for r in [head] + rows:
        print("  ".join(c.ljust(w) for c, w in zip(r, widths)).rstrip())


if __name__ == "__main__":
    main()
