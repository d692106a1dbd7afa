#!/usr/bin/env python3
"""The login manager as tslflash meets it, on a private bus this test starts:
a dbus-daemon of its own and python3-dbusmock's fake logind on it, with
DBUS_SYSTEM_BUS_ADDRESS pointing there. Checks the run shield's inhibitor
lock from Raise to Lower (with the process still alive after Lower), the
shield without a login manager, an emulated update that asks for no lock,
and the reboot request with its fallback to a command (fake commands only:
nothing reboots).

    logind_bus_test.py TSLFLASH REBOOT_PROBE RUN_SHIELD_PROBE DEMO_JSON

Exit 77 (skipped) when dbus-daemon cannot start at all."""

import os
import subprocess
import sys
import tempfile
import time
import unittest

TSLFLASH, PROBE, SHIELD_PROBE, DEMO = sys.argv[1:5]
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

    def shield(self, bus_address):
        """The run shield with its sleep lock, in a process of its own."""
        env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=bus_address)
        return subprocess.Popen([SHIELD_PROBE], env=env, stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, text=True)

    @staticmethod
    def say(shield, word):
        shield.stdin.write(word + "\n")
        shield.stdin.flush()
        return shield.stdout.readline().strip()

    def wait_for_locks(self, wanted, seconds=10):
        """The locks once they are `wanted`, or as they are after `seconds`."""
        deadline = time.monotonic() + seconds
        while self.logind.locks() != wanted and time.monotonic() < deadline:
            time.sleep(0.05)
        return self.logind.locks()

    def test_the_lock_is_held_from_raise_to_lower(self):
        shield = self.shield(self.address)
        try:
            self.assertEqual(self.logind.locks(), [])
            self.assertEqual(self.say(shield, "raise"), "blocked")
            self.assertEqual(self.logind.locks(), [LOCK])
            self.assertEqual(self.say(shield, "lower"), "lowered")
            # Given back by Lower itself: the process is still there, as
            # tslflash is at its menu after a run.
            self.assertEqual(self.wait_for_locks([]), [])
            self.assertIsNone(shield.poll())
        finally:
            shield.stdin.close()
            self.assertEqual(shield.wait(LIMIT), 0)
            shield.stdout.close()
        self.assertEqual(len(self.logind.calls("Inhibit")), 1)

    def test_without_a_login_manager_the_shield_says_sleep_is_not_blocked(self):
        for name, address in [("no bus", NOBODY), ("a bus without logind", None)]:
            with self.subTest(name):
                if address is None:  # the bus is up, nobody owns logind's name
                    self.logind.close()
                    self.logind = None
                    address = self.address
                shield = self.shield(address)
                said = self.say(shield, "raise")
                shield.stdin.close()
                self.assertEqual(shield.wait(LIMIT), 0)
                shield.stdout.close()
                self.assertEqual(said, "not blocked")

    def test_an_emulated_update_asks_for_no_lock_and_says_nothing_of_it(self):
        # Emulated drives lose nothing when the machine sleeps.
        for name, address in [("logind there", self.address), ("no bus", NOBODY)]:
            with self.subTest(name):
                tool = subprocess.run(
                    [TSLFLASH, "--terminal", "--emulate", DEMO, "--select", "1", "--upgrade",
                     "--answer", "ok", "--answer", "ok", "--answer", "cancel",
                     "--non-interactive", "--skip-waits"],
                    env=dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=address),
                    stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=LIMIT,
                    check=False)
                self.assertEqual(tool.returncode, 0, tool.stderr)
                self.assertIn("\nDone\n", tool.stdout)
                self.assertNotIn(NOT_BLOCKED, tool.stdout)
        self.assertEqual(self.logind.calls("Inhibit"), [])

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
