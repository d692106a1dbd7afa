#!/usr/bin/env python3
"""tslflash --json as a script reads it: the built program run on emulated
drives, each run's standard output one JSON document that the schema in
docs/json accepts, with the exit status and the members that show the case.
The schema is also shown to reject documents that break it, so a schema that
accepts anything fails here.

    json_output_test.py TSLFLASH SCHEMA DRIVES_DIR TSLPKG

DRIVES_DIR is emulator/drives (demo.json, default.json); TSLPKG makes the
packages a case needs."""

import copy
import json
import os
import subprocess
import sys
import tempfile
import unittest

import jsonschema

TSLFLASH, SCHEMA, DRIVES, TSLPKG = sys.argv[1:5]
LIMIT = 60  # seconds any one run may take
NOT_ALLOWED = "The drive is not allowed to be updated."
IMAGE_SUM_LINEAR = 56  # the header's sum of the image bytes, little-endian


def drive_file(folder, name, **changes):
    """default.json's one drive (the package's model at 1.02) with changes."""
    with open(os.path.join(DRIVES, "default.json"), encoding="utf-8") as f:
        description = json.load(f)
    description["drives"][0].update(changes)
    path = os.path.join(folder, name)
    with open(path, "w", encoding="utf-8") as f:
        json.dump(description, f)
    return path


def package_with_image_sum_off(folder):
    """The built-in package's recipe with its header's image sum one off and
    the trailer sealed over that header: the package as a whole checks, its
    image does not."""
    image, package = (os.path.join(folder, name) for name in ("image.bin", "sum-off.bin"))
    for args in (["synth", "--size", "131072", "--seed", "1107", "-o", image],
                 ["build", "-o", package, "--image", image, "--tag", "KOVA", "--protocol", "0",
                  "--inquiry-id", "VARN    DVD RW LPX-650A 1.07", "--alt-name-nul", "TK300B",
                  "--variant-mark", "TW", "--revision-pattern", "1.**"]):
        subprocess.run([TSLPKG, *args], capture_output=True, timeout=LIMIT, check=True)
    with open(package, "rb") as f:
        data = bytearray(f.read())
    data[IMAGE_SUM_LINEAR] ^= 0x01
    body = data[:-4]
    rotated = 0
    for byte in body:
        rotated = (((rotated >> 1) | (rotated << 15)) + byte) & 0xFFFF
    data[-4:] = (sum(body) & 0xFFFF).to_bytes(2, "little") + rotated.to_bytes(2, "little")
    with open(package, "wb") as f:
        f.write(data)
    return package


def leaves(errors):
    """The errors inside each "null or ..." choice, past the null that did not fit."""
    found = []
    for error in errors:
        inner = [e for e in error.context or [] if e.validator_value != "null"]
        found.extend(leaves(inner) if inner else [error])
    return found


class JsonOutputTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(SCHEMA, encoding="utf-8") as f:
            schema = json.load(f)
        jsonschema.Draft202012Validator.check_schema(schema)
        cls.validator = jsonschema.Draft202012Validator(schema)
        # Each command's own part, to say what is wrong with a document that names it.
        cls.parts = {command: jsonschema.Draft202012Validator(
            {"$ref": f"#/$defs/{command}Document", "$defs": schema.get("$defs", {})})
            for command in ("drives", "check", "upgrade", "error", "version", "about", "help")}

    def setUp(self):
        scratch = tempfile.TemporaryDirectory()  # pylint: disable=consider-using-with
        self.addCleanup(scratch.cleanup)
        self.dir = scratch.name
        self.demo = os.path.join(DRIVES, "demo.json")
        # The package's model at a newer revision: updating it is a downgrade.
        self.newer = drive_file(self.dir, "newer.json", revision="1.09")
        # Every WRITE BUFFER from the second page on fails.
        self.failing = drive_file(self.dir, "failing.json", faults=[
            {"kind": "fail", "opcode": "3B", "fromOccurrence": 2, "times": "always"}])

    def run_json(self, args):
        """Runs tslflash; returns its exit status and its one JSON document."""
        run = subprocess.run([TSLFLASH] + args, stdin=subprocess.DEVNULL, capture_output=True,
                             text=True, timeout=LIMIT, check=False)
        try:
            document = json.loads(run.stdout)
        except json.JSONDecodeError as error:
            self.fail(f"standard output is not one JSON document ({error}):\n{run.stdout}"
                      f"\nstandard error:\n{run.stderr}")
        self.assertIsInstance(document, dict, run.stdout)
        return run.returncode, document, run.stderr

    def assert_valid(self, document):
        errors = list(self.validator.iter_errors(document))
        if errors:
            part = self.parts.get(document.get("command"))
            found = (list(part.iter_errors(document)) if part else []) or errors
            self.fail("the schema rejects the document:\n" + "\n".join(
                f"  {'/'.join(map(str, e.absolute_path)) or '(top)'}: {e.message[:300]}"
                for e in leaves(found)))

    # The drives' received images; the emulated drives' history lies beside them.
    def images(self):
        return sorted(name for name in os.listdir(os.path.join(self.dir, "received"))
                      if name.endswith(".bin"))

    def test_each_run_prints_one_valid_document(self):
        received = ["--received-images", os.path.join(self.dir, "received")]

        def emulate(description, *more):
            return ["--json", "--emulate", description, "--skip-waits", *more]

        def would_update(doc):
            return [d["wouldUpdate"] for d in doc["drives"]]

        def refusals(doc):
            return [d["refusal"] and d["refusal"]["text"] for d in doc["drives"]]

        def ended(doc):
            return doc["completed"], doc["outcome"] and doc["outcome"]["code"]

        def took_all(doc):
            progress = doc["progress"]
            return ended(doc), progress["sent"] == progress["total"]

        def passed(doc, check):
            return [c["result"] == "passed" for c in doc["drives"][0]["checks"]
                    if c["check"] == check]

        sum_off = package_with_image_sum_off(self.dir)
        version_line = subprocess.run([TSLFLASH, "--version"], capture_output=True, text=True,
                                      timeout=LIMIT, check=True).stdout.splitlines()[0]

        # name, arguments, exit status, command, what shows the case, its value, images written
        cases = [
            ("the drive list", emulate(self.demo), 0, "drives",
             lambda d: [(x["number"], x["greyed"]) for x in d["drives"]],
             [(1, False), (2, True), (3, True)], []),
            ("a check of every drive", emulate(self.demo, "--check"), 16, "check",
             lambda d: (would_update(d), refusals(d)),
             ([True, False, False], [None, NOT_ALLOWED, NOT_ALLOWED]), []),
            ("a check of the drive the package is for", emulate(self.demo, "--check", "--select", "1"),
             0, "check", lambda d: (would_update(d), d["drives"][0]["plan"]["confirmations"]),
             ([True], ["update"]), []),
            ("a check of a greyed drive", emulate(self.demo, "--check", "--select", "2"), 16, "check",
             lambda d: (would_update(d), d["drives"][0]["refusal"]["code"]), ([False], 6), []),
            ("a check that names the downgrade's box", emulate(self.newer, "--check"), 0, "check",
             lambda d: (would_update(d), "older" in d["drives"][0]["plan"]["confirmations"]),
             ([True], True), []),
            # The Upgrade checks pass; the run would refuse before sending anything.
            ("a check of a package whose image sum is off",
             emulate(os.path.join(DRIVES, "default.json"), "--package", sum_off, "--check"), 13,
             "check",
             lambda d: (would_update(d), d["drives"][0]["refusal"]["code"], d["drives"][0]["plan"],
                        passed(d, "package-sums"), passed(d, "transfer")),
             ([False], 3, None, [True], [False]), []),
            # The demo's drive keeps reporting its old revision until a power cycle.
            ("an upgrade that completes",
             emulate(self.demo, "--select", "1", "--upgrade", "--yes", *received), 0, "upgrade",
             lambda d: (took_all(d), d["confirmation"], d["reportedRevision"]),
             (((True, None), True), "written-not-active", "1.02"), ["drive-1.bin"]),
            ("an upgrade with no drive selected",
             emulate(self.demo, "--select", "0", "--upgrade", "--yes", *received), 4, "upgrade",
             lambda d: (ended(d), d["drive"]), ((False, None), None), []),
            ("a downgrade without --allow-older",
             emulate(self.newer, "--select", "1", "--upgrade", "--yes", *received), 5, "upgrade",
             ended, (False, 2), []),
            ("a downgrade with --allow-older",
             emulate(self.newer, "--select", "1", "--upgrade", "--yes", "--allow-older", *received),
             0, "upgrade", took_all, ((True, None), True), ["drive-1.bin"]),
            ("a transfer that fails",
             emulate(self.failing, "--select", "1", "--upgrade", "--yes", *received), 15, "upgrade",
             lambda d: (ended(d), d["failure"]["unit"], d["failure"]["index"], d["progress"]["sent"],
                        d["confirmation"]),
             ((False, 5), "page", 2, 1, "interrupted"), []),
            ("the history of the runs above", emulate(self.demo, "--history", *received), 0,
             "history", lambda d: (len(d["records"]) >= 2, d["records"][0]["completed"],
                                   d["records"][0]["confirmation"]),
             # Each later start found the first drive still on its old revision.
             (True, True, "not-confirmed"), []),
            ("a check of a drive that is not there",
             emulate(self.demo, "--check", "--select", "7"), 2, "error",
             lambda d: "drive 7" in d["error"], True, None),
            ("an upgrade of a drive that is not there",
             emulate(self.demo, "--select", "7", "--upgrade", "--yes", *received), 2, "error",
             lambda d: "drive 7" in d["error"], True, []),
            ("the start-up warning declined", emulate(self.demo, "--answer", "cancel"), 1, "error",
             lambda d: "start-up ended" in d["error"], True, None),
            ("a bad option", ["--json", "--no-such-option"], 2, "error",
             lambda d: "--no-such-option" in d["error"], True, None),
            ("the version", ["--json", "--version"], 0, "version",
             lambda d: f"tslflash {d['version']}", version_line, None),
            ("the About box", ["--json", "--about"], 0, "about",
             lambda d: (d["caption"], len(d["lines"])), ("About Tessel Flash Tool", 2), None),
            ("the help", ["--json", "--help"], 0, "help",
             lambda d: d["text"].startswith("Usage: tslflash"), True, None),
            ("a description that is not there",
             emulate(os.path.join(self.dir, "missing.json"), "--check"), 2, "error",
             lambda d: "missing.json" in d["error"], True, None),
        ]
        for name, args, status, command, show, expected, images in cases:
            with self.subTest(name):
                os.makedirs(os.path.join(self.dir, "received"), exist_ok=True)
                code, document, err = self.run_json(args)
                self.assertEqual(code, status, err)
                self.assertEqual(document.get("command"), command)
                self.assertEqual(document.get("exitStatus"), code)
                self.assert_valid(document)
                self.assertEqual(show(document), expected)
                if images is not None:
                    self.assertEqual(self.images(), images)
                for image in self.images():
                    os.remove(os.path.join(self.dir, "received", image))

    def test_the_schema_rejects_documents_that_break_the_shape(self):
        _, check, _ = self.run_json(["--json", "--emulate", self.demo, "--check"])
        _, upgrade, _ = self.run_json(["--json", "--emulate", self.demo, "--skip-waits", "--select",
                                       "1", "--upgrade", "--yes"])
        self.assert_valid(check)
        self.assert_valid(upgrade)

        def drop(key):
            return lambda d: d.pop(key)

        def put(*path_and_value):
            *path, key, value = path_and_value

            def change(document):
                for step in path:
                    document = document[step]
                document[key] = value
            return change

        # name, the valid document, what breaks it
        cases = [
            ("no schemaVersion", check, drop("schemaVersion")),
            ("schemaVersion 2", check, put("schemaVersion", 2)),
            ("an unknown command", check, put("command", "flash")),
            ("another command's shape", check, put("command", "upgrade")),
            ("an unknown member", check, put("verdict", "ok")),
            ("an unknown member in a drive", check, put("drives", 0, "drive", "serial", "X")),
            ("a greyed drive without a reason", check, put("drives", 1, "drive", "reason", None)),
            ("a drive that would update without a plan", check, put("drives", 0, "plan", None)),
            ("status 0 though a drive would not update", check, put("exitStatus", 0)),
            ("a check that is not one of the checks", check,
             put("drives", 0, "checks", [{"check": "colour", "result": "passed"}])),
            ("a digest in capitals", check, put("package", "sha256", "AB" * 32)),
            ("no log", upgrade, drop("log")),
            ("completed with a failing status", upgrade, put("exitStatus", 15)),
            ("completed without what the drive accepted", upgrade, put("progress", None)),
            ("not completed with status 0", upgrade, put("completed", False)),
            ("a completed update that was cut off", upgrade, put("confirmation", "interrupted")),
            ("no confirmation", upgrade, drop("confirmation")),
            ("an outcome code out of range", upgrade, put("outcome", {"code": 12, "text": "x"})),
            ("an error of two lines", {"schemaVersion": 1, "command": "error", "exitStatus": 2,
                                       "error": "tslflash: bad\nsecond line"}, lambda d: None),
        ]
        for name, valid, breaks in cases:
            with self.subTest(name):
                document = copy.deepcopy(valid)
                breaks(document)
                self.assertFalse(self.validator.is_valid(document), json.dumps(document)[:400])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
