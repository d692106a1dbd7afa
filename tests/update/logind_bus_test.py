#!/usr/bin/env python3
"""The login manager as tslflash meets it, on a private bus this test starts:
a dbus-daemon of its own and python3-dbusmock's fake logind on it, with
DBUS_SYSTEM_BUS_ADDRESS pointing there. Checks the inhibitor lock over a
whole update run, the run without a login manager, and the reboot request
with its fallback to a command (fake commands only: nothing reboots).

    logind_bus_test.py TSLFLASH REBOOT_PROBE DEMO_JSON

Exit 77 (skipped) when dbus-daemon cannot start at all."""

import json
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

TSLFLASH, PROBE, DEMO = sys.argv[1:4]
MANAGER = "org.freedesktop.login1.Manager"
WHAT = ("shutdown:sleep:idle:handle-lid-switch:handle-power-key:handle-suspend-key:"
        "handle-hibernate-key")
LOCK = (WHAT, "tslflash", "Writing drive firmware", "block")
NOT_BLOCKED = "Sleep and shutdown are not blocked during the update."
NOBODY = "unix:path=/nonexistent/tslflash-test-bus"  # an address with nothing behind it
LIMIT = 60  # seconds any one program may take


def start_bus():
    """A private bus daemon and its address; None when it cannot start."""
    try:
        daemon = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                                  stdout=subprocess.PIPE, text=True)
    except OSError as error:
        return None, str(error)
    address = daemon.stdout.readline().strip()
    if not address:
        daemon.wait()
        return None, "dbus-daemon printed no address"
    return daemon, address


class FakeLogind:
    """dbusmock's logind template on the bus, and a connection to look at it."""

    def __init__(self, address):
        import dbus  # pylint: disable=import-outside-toplevel
        import dbusmock  # pylint: disable=import-outside-toplevel
        env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=address)
        self.process = subprocess.Popen(
            [sys.executable, "-m", "dbusmock", "--template", "logind"], env=env,
            stdout=subprocess.DEVNULL)
        self.bus = dbus.bus.BusConnection(address)
        deadline = time.monotonic() + LIMIT
        while not self.bus.name_has_owner("org.freedesktop.login1"):
            if time.monotonic() > deadline or self.process.poll() is not None:
                raise RuntimeError("the fake logind did not appear on the bus")
            time.sleep(0.05)
        proxy = self.bus.get_object("org.freedesktop.login1", "/org/freedesktop/login1")
        self.manager = dbus.Interface(proxy, MANAGER)
        self.mock = dbus.Interface(proxy, dbusmock.MOCK_IFACE)

    def close(self):
        self.process.terminate()
        self.process.wait(LIMIT)
        self.bus.close()

    def locks(self):
        return [tuple(str(field) for field in lock[:4]) for lock in self.manager.ListInhibitors()]

    def calls(self, method):
        return [[arg for arg in call[2]] for call in self.mock.GetCalls() if call[1] == method]


class LogindTest(unittest.TestCase):
    address = None

    def setUp(self):
        self.logind = FakeLogind(self.address)
        self.dir = tempfile.TemporaryDirectory()

    def tearDown(self):
        if self.logind:
            self.logind.close()
        self.dir.cleanup()

    def path(self, name):
        return os.path.join(self.dir.name, name)

    def slow_demo(self):
        """The demo's drives, the first one slow enough to stop in each step."""
        with open(DEMO, encoding="utf-8") as demo:
            drives = json.load(demo)
        drives["drives"][0]["commandDelayMs"] = 40
        path = self.path("slow.json")
        with open(path, "w", encoding="utf-8") as out:
            json.dump(drives, out)
        return path

    def upgrade(self, bus_address, restart_answer_typed=False):
        """With restart_answer_typed, the restart offer waits for a typed answer."""
        env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=bus_address)
        answers = ["--answer", "ok", "--answer", "ok"]
        if not restart_answer_typed:
            answers += ["--answer", "ok", "--non-interactive"]
        return subprocess.Popen(
            [TSLFLASH, "--terminal", "--emulate", self.slow_demo(), "--select", "1", "--upgrade",
             *answers, "--skip-waits", "--trace"],
            env=env, stdin=subprocess.PIPE if restart_answer_typed else subprocess.DEVNULL,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def test_the_lock_is_held_from_the_checks_to_the_end_of_the_run(self):
        # Stopped at each line, the program holds exactly our lock: from the
        # announcement (before the checks' first write) through the transfer
        # to "Done" (after the last page).
        # After "Done" the run waits for the restart offer's typed answer, so
        # the program cannot have ended before the lock is looked at.
        steps = [" ==> New firmware Version : 1.07", "Don't turn off the power!!", "Done"]
        tool = self.upgrade(self.address, restart_answer_typed=True)
        seen = {}
        for line in tool.stdout:
            line = line.rstrip("\n")
            if line in steps:
                tool.send_signal(signal.SIGSTOP)
                seen[line] = self.logind.locks()
                tool.send_signal(signal.SIGCONT)
            if line == "Done":
                tool.stdin.write("cancel\n")
                tool.stdin.close()
        err = tool.stderr.read()
        tool.stdout.close()
        tool.stderr.close()
        self.assertEqual(tool.wait(LIMIT), 0, err)
        self.assertEqual(seen, {step: [LOCK] for step in steps})
        self.assertEqual(len(self.logind.calls("Inhibit")), 1)
        # Closed at the end of the run; the fake drops it when it sees that.
        deadline = time.monotonic() + LIMIT
        while self.logind.locks() and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertEqual(self.logind.locks(), [])
        self.assertIn("ToDrive 16384", err)  # pages were written under the lock

    def test_without_a_login_manager_the_run_says_so_once_and_goes_on(self):
        for name, address in [("no bus", NOBODY), ("a bus without logind", None)]:
            with self.subTest(name):
                if address is None:  # the bus is up, nobody owns logind's name
                    self.logind.close()
                    self.logind = None
                    address = self.address
                tool = self.upgrade(address)
                out, err = tool.communicate(timeout=LIMIT)
                self.assertEqual(tool.returncode, 0, err)
                self.assertEqual(out.count(NOT_BLOCKED + "\n"), 1, out)
                self.assertLess(out.index(NOT_BLOCKED), out.index(" ==> New firmware Version"))
                self.assertIn("\nDone\n", out)

    def fake_command(self, name, status):
        """A stand-in for systemctl: records its arguments and environment."""
        path = self.path(name)
        with open(path, "w", encoding="utf-8") as script:
            script.write(f"#!/bin/sh\necho \"$0 $*\" >> {self.path('ran')}\n"
                         f"env >> {self.path('ran')}\nexit {status}\n")
        os.chmod(path, 0o755)
        return path

    def probe(self, bus_address, *commands):
        env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=bus_address,
                   PATH=self.dir.name + ":" + os.environ.get("PATH", ""))
        done = subprocess.run([PROBE, *commands], env=env, capture_output=True, text=True,
                              timeout=LIMIT, check=False)
        ran = ""
        if os.path.exists(self.path("ran")):
            with open(self.path("ran"), encoding="utf-8") as log:
                ran = log.read()
            os.remove(self.path("ran"))
        return done.stdout.strip(), ran

    def test_the_reboot_asks_logind_interactively_and_runs_no_command(self):
        command = self.fake_command("systemctl", 0)
        self.assertEqual(self.probe(self.address, command), ("granted", ""))
        self.assertEqual(self.logind.calls("Reboot"), [[True]])

    def test_the_reboot_falls_back_to_the_command_by_its_path_alone(self):
        self.logind.mock.AddMethod(
            MANAGER, "Reboot", "b", "",
            'raise dbus.exceptions.DBusException("no", name="org.freedesktop.DBus.Error.AccessDenied")')
        granting = self.fake_command("systemctl", 0)
        refusing = self.fake_command("refusing", 1)
        missing = self.path("missing")
        cases = [
            ("logind refuses", self.address, [granting], "granted", granting),
            ("no bus", NOBODY, [granting], "granted", granting),
            ("the first command missing", NOBODY, [missing, granting], "granted", granting),
            ("the command refuses", NOBODY, [refusing, granting], "refused", refusing),
        ]
        for name, address, commands, answer, ran_command in cases:
            with self.subTest(name):
                said, ran = self.probe(address, *commands)
                self.assertEqual(said, answer)
                lines = ran.splitlines()
                self.assertEqual(lines[0], ran_command + " reboot")
                # Only the clean PATH: nothing of the caller's environment,
                # whose PATH leads to a fake systemctl first.
                env = sorted(line for line in lines[1:] if not line.startswith(("PWD=", "SHLVL=", "_=")))
                self.assertEqual(env, ["PATH=/usr/sbin:/usr/bin:/sbin:/bin"])
        self.assertEqual(len(self.logind.calls("Reboot")), 1)


def main():
    daemon, address = start_bus()
    if daemon is None:
        print(f"SKIP: dbus-daemon cannot start: {address}")
        return 77
    LogindTest.address = address
    try:
        result = unittest.main(argv=[sys.argv[0]], exit=False, verbosity=2).result
    finally:
        daemon.terminate()
        daemon.wait(LIMIT)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
