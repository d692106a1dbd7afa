#!/usr/bin/env python3
"""A copy of tslflash given a capability and started by an unprivileged user
never loads a Qt plugin the environment points at; the same copy without the
capability does (the control row: it proves a loaded plugin is seen).

Usage: plugin_guard_test.py TSLFLASH TRACE_PLUGIN DEMO_JSON
Needs root and setcap on a filesystem that keeps security attributes;
exits 77 (skipped) otherwise."""
import os
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77
USER = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
REFUSAL = "tslflash: started with raised privileges; the window is not offered, using the terminal."


def skip(why):
    print(f"SKIP: {why}")
    sys.exit(SKIP)


def run_row(work, privileged):
    """Runs the copy as nobody; returns (output, exit status, whether the trace appeared)."""
    marker = os.path.join(work, "traces", "privileged" if privileged else "ordinary")
    env = {
        "PATH": "/usr/bin:/bin",
        "HOME": work,
        "QT_QPA_PLATFORM": "offscreen",
        "QT_PLUGIN_PATH": os.path.join(work, "plugins"),
        "QT_QPA_GENERIC_PLUGINS": "tsltrace",
        "TSLFLASH_TRACE_FILE": marker,
    }
    # No option that asks for the terminal: only the privileges may refuse
    # the window. Input is closed so the terminal front end ends at once.
    command = USER + [os.path.join(work, "tslflash"), "--emulate", os.path.join(work, "demo.json")]
    process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    # The window stays open until closed: end it once the trace appears or
    # the wait is over; the terminal front end ends by itself.
    deadline = time.monotonic() + 20
    while process.poll() is None and not os.path.exists(marker) and time.monotonic() < deadline:
        time.sleep(0.1)
    if process.poll() is None:
        time.sleep(0.5)
        process.kill()
    output, _ = process.communicate()
    return output, process.returncode, os.path.exists(marker)


def main():
    tslflash, plugin, demo = sys.argv[1:4]
    if os.geteuid() != 0:
        skip("needs root to give a copy a capability and run it as another user")
    for tool in ("setcap", "setpriv"):
        if shutil.which(tool) is None:
            skip(f"{tool} is not installed")
    work = tempfile.mkdtemp(prefix="tsl-plugin-guard-")
    try:
        os.chmod(work, 0o755)
        os.makedirs(os.path.join(work, "plugins", "generic"))
        shutil.copy(plugin, os.path.join(work, "plugins", "generic", "libtsltrace.so"))
        shutil.copy(demo, os.path.join(work, "demo.json"))
        traces = os.path.join(work, "traces")
        os.mkdir(traces)
        os.chmod(traces, 0o777)
        copy = os.path.join(work, "tslflash")
        shutil.copy(tslflash, copy)
        os.chmod(copy, 0o755)

        failures = []
        # The control row first, while the copy has no capability.
        output, _, traced = run_row(work, privileged=False)
        if not traced:
            failures.append(f"ordinary run: the plugin left no trace\n{output}")
        if REFUSAL in output:
            failures.append(f"ordinary run: the window was refused\n{output}")

        set_cap = subprocess.run(["setcap", "cap_sys_rawio+ep", copy], capture_output=True, text=True)
        if set_cap.returncode != 0:
            skip(f"setcap failed on {work} (no security attributes?): {set_cap.stderr.strip()}")
        output, status, traced = run_row(work, privileged=True)
        if status < 0:
            failures.append(f"privileged run: did not end by itself (signal {-status})\n{output}")
        if REFUSAL not in output:
            failures.append(f"privileged run: no refusal line\n{output}")
        if "=== " not in output:
            failures.append(f"privileged run: the terminal front end did not run\n{output}")
        if traced:
            failures.append(f"privileged run: the plugin was loaded\n{output}")

        for failure in failures:
            print(f"FAIL: {failure}")
        if not failures:
            print("ok: the privileged copy loaded no plugin; the ordinary copy did")
        return 1 if failures else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
