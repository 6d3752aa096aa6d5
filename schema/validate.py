#!/usr/bin/python3
"""Check pimbridge's answers against the JSON Schemas beside this file.

  validate.py answers FILE...   check run records, one JSON object a line:
                                {"test": name, "args": [...], "status": int, "out": "stdout text"}
  validate.py selftest          check the schemas on answers known to be good or bad

Which schema an answer must meet, and at which exit statuses a command may
print nothing, comes from `x-pimbridge-outcomes` in pimbridge.schema.json.
A run that ends with status 3 and prints nothing is the simulated platform
(Linux builds) refusing a broken world file: no answer, so it is let through
but not counted as checked. Exit status 1 when any check fails, and when the
files hold no answer to check.

Needs the jsonschema module (Debian: python3-jsonschema, run with /usr/bin/python3).
"""

import json
import re
import sys
import tempfile
from pathlib import Path
from urllib.parse import urljoin

try:
    from jsonschema import Draft202012Validator
except ImportError:
    sys.exit(
        "validate.py: the Python module jsonschema is missing; install the Debian package "
        "python3-jsonschema and run this script with /usr/bin/python3"
    )
try:
    # jsonschema 4.18 and later resolve references through `referencing` and
    # deprecate RefResolver; Debian 12's 4.10 has only RefResolver.
    from referencing import Registry
    from referencing.jsonschema import DRAFT202012
except ImportError:
    from jsonschema import RefResolver

    Registry = None

HERE = Path(__file__).resolve().parent
INDEX = "pimbridge.schema.json"
# At most this many schema errors are printed for one answer, each cut to a
# line: a message may quote the whole offending value, megabytes of it.
ERRORS_SHOWN = 5
MESSAGE_SHOWN = 200
# The simulated platform (Linux builds) ends a run whose world file is broken
# with this status and nothing on standard output, before any command runs.
SIMULATED_PLATFORM_STOP = 3


def refuse_remote(uri):
    raise LookupError(f"schema {uri} is not beside validate.py; nothing is fetched")


class Schemas:
    """The schema files of one folder, and the outcome table of its index."""

    def __init__(self, folder=HERE):
        self.files = {}
        for path in sorted(folder.glob("*.schema.json")):
            schema = json.loads(path.read_text(encoding="utf-8"))
            Draft202012Validator.check_schema(schema)
            self.files[path.name] = schema
        if INDEX not in self.files:
            raise LookupError(f"{INDEX} is missing from {folder}")
        self.index = self.files[INDEX]
        self.base = self.index["$id"][: -len(INDEX)]
        for name, schema in self.files.items():
            # Relative references between the files resolve only when every
            # $id is the file's own name under one base.
            if schema.get("$id") != self.base + name:
                raise ValueError(f"{name}: $id must be {self.base + name}")
        if Registry:
            # A registry without a retrieve function fetches nothing.
            self.registry = Registry().with_resources(
                (schema["$id"], DRAFT202012.create_resource(schema)) for schema in self.files.values())
        else:
            self.resolver = RefResolver(
                base_uri=self.index["$id"],
                referrer=self.index,
                store={schema["$id"]: schema for schema in self.files.values()},
                handlers={"http": refuse_remote, "https": refuse_remote},
            )
        outcomes = self.index["x-pimbridge-outcomes"]
        self.no_word = outcomes["noWord"]
        self.commands = outcomes["commands"]
        self.other_words = outcomes["otherWords"]
        self.validators = {}
        for table in [*self.commands.values(), self.other_words]:
            for allowed in table.values():
                for ref in allowed:
                    if ref is not None:
                        self.validator(ref)  # resolves now, so that a dangling reference fails at once

    def validator(self, ref):
        """A validator for a reference relative to the index, such as `#/$defs/error` or `error.schema.json`."""
        if ref not in self.validators:
            absolute = urljoin(self.index["$id"], ref)
            if Registry:
                self.registry.resolver().lookup(absolute)
                self.validators[ref] = Draft202012Validator({"$ref": absolute}, registry=self.registry)
            else:
                self.resolver.resolve(absolute)
                self.validators[ref] = Draft202012Validator({"$ref": absolute}, resolver=self.resolver)
        return self.validators[ref]


def strict_object(pairs):
    keys = [key for key, _ in pairs]
    if len(keys) != len(set(keys)):
        raise ValueError(f"a key occurs twice in one object: {sorted(k for k in set(keys) if keys.count(k) > 1)}")
    return dict(pairs)


def refuse_constant(name):
    raise ValueError(f"{name} is not JSON")


def parse_line(out):
    """The one JSON value of standard output, or a reason why there is none."""
    if not out.endswith("\n"):
        return None, "standard output does not end in a line feed"
    if out.count("\n") != 1:
        return None, f"standard output holds {out.count(chr(10))} lines, not one"
    line = out[:-1]
    if line != line.strip(" \t\r"):
        return None, "the line has white space around the JSON object"
    try:
        return json.loads(line, object_pairs_hook=strict_object, parse_constant=refuse_constant), None
    except ValueError as error:
        return None, f"standard output is not JSON: {error}"


def describe(error):
    where = "/" + "/".join(str(step) for step in error.absolute_path)
    message = error.message if len(error.message) <= MESSAGE_SHOWN else error.message[:MESSAGE_SHOWN] + " ..."
    return f"at {where}: {message}"


def simulated_platform_stop(status, out):
    return status == SIMULATED_PLATFORM_STOP and out == ""


def check_run(schemas, args, status, out):
    """Every way in which one run's exit status and standard output break the contract."""
    word = args[0] if args else schemas.no_word
    table = schemas.commands.get(word, schemas.other_words)
    shown = f"`{word}`" if word in schemas.commands else f"the unknown word {word!r}"
    if simulated_platform_stop(status, out):
        return []
    allowed = table.get(str(status))
    if allowed is None:
        return [f"{shown} never ends with exit status {status}"]
    refs = [ref for ref in allowed if ref is not None]
    if out == "":
        if None in allowed:
            return []
        return [f"{shown} with exit status {status} always prints an answer, but standard output is empty"]
    if not refs:
        return [f"{shown} with exit status {status} prints nothing, but standard output holds {len(out)} characters"]
    value, problem = parse_line(out)
    if problem:
        return [problem]
    failures = []
    for ref in refs:
        errors = sorted(schemas.validator(ref).iter_errors(value), key=lambda e: list(e.absolute_path))
        if not errors:
            return []
        failures.append(f"does not meet {ref}:")
        failures += ["  " + describe(error) for error in errors[:ERRORS_SHOWN]]
        if len(errors) > ERRORS_SHOWN:
            failures.append(f"  ... and {len(errors) - ERRORS_SHOWN} more")
    return failures


def read_records(path):
    """(test name, args, status, out, problem) for every record line of a file."""
    with open(path, encoding="utf-8") as lines:
        for number, line in enumerate(lines, 1):
            if not line.strip():
                continue
            where = f"{path}:{number}"
            try:
                record = json.loads(line)
            except ValueError as error:
                yield where, None, None, None, f"the record is not JSON: {error}"
                continue
            if not isinstance(record, dict):
                yield where, None, None, None, "the record is not an object"
                continue
            test = record.get("test")
            args, status, out = record.get("args"), record.get("status"), record.get("out")
            name = test if isinstance(test, str) else where
            if not (isinstance(test, str)
                    and isinstance(args, list) and all(isinstance(a, str) for a in args)
                    and type(status) is int and isinstance(out, str)):
                yield name, None, None, None, (
                    f"{where}: a record needs test (text), args (texts), status (integer) and out (text)")
                continue
            yield name, args, status, out, None


def check_files(schemas, paths, report=print):
    """Check every record of the files; returns (answers checked, failed records)."""
    checked = failed = 0
    for path in paths:
        for test, args, status, out, problem in read_records(path):
            checked += problem is not None or not simulated_platform_stop(status, out)
            problems = [problem] if problem else check_run(schemas, args, status, out)
            if problems:
                failed += 1
                report(f"FAIL {test}: pimbridge {' '.join(map(repr, args or []))} -> status {status}")
                for line in problems:
                    report("    " + line)
    return checked, failed


def answers(paths):
    schemas = Schemas()
    checked, failed = check_files(schemas, paths)
    print(f"validate.py: {checked} answers checked, {failed} failed")
    if checked == 0:
        print("validate.py: no answer to check; a run that checks nothing does not pass")
        return 1
    return 1 if failed else 0


# ---------------------------------------------------------------------------
# Self-test


def readme_examples(readme=HERE.parent / "README.md"):
    """(args, status, out) for every `$ pimbridge ...` line of the README and the answer below it."""
    lines = readme.read_text(encoding="utf-8").splitlines()
    examples = []
    for prompt, answer in zip(lines, lines[1:]):
        match = re.match(r"^\$ pimbridge((?: [^ #]+)*)\s*(?:#.*)?$", prompt)
        if not match:
            continue
        value = json.loads(answer)
        refused = "error" in value or value.get("ok") is False
        examples.append((match.group(1).split(), 2 if refused else 0, answer + "\n"))
    return examples


def reminder(**changes):
    row = {"id": "r1", "title": "Milk", "list": "Home", "due": "2024-03-05T14:30:00Z", "completed": False}
    row.update(changes)
    return {key: value for key, value in row.items() if value is not ...}


def contact(**changes):
    row = {"id": "c1", "name": "Ada", "phones": ["+44 1"], "emails": []}
    row.update(changes)
    return row


NOT_DETERMINED = {"reminders": "not_determined", "contacts": "not_determined"}

# (what it shows, args, exit status, standard output, accepted?)
# Standard output is given as a value, printed as the tool would, or as raw text.
RUNS = [
    ("each store's own state words", ["authorization"], 0, {"reminders": "write_only", "contacts": "limited"}, True),
    ("no command word answers authorization", [], 0, {"contacts": "unknown", "reminders": "authorized"}, True),
    ("lists with any text as identifier", ["reminder-lists"], 0, {"lists": [{"id": "", "title": "a/b"}]}, True),
    ("no lists", ["reminder-lists"], 0, {"lists": []}, True),
    ("due as a date, or null", ["reminders", "A"], 0,
     {"reminders": [reminder(), reminder(due=None, completed=True)]}, True),
    ("500 contacts", ["contacts"], 0, {"contacts": [contact()] * 500}, True),
    ("access granted, with a state short of authorized", ["request-reminders"], 0,
     {"ok": True, "authorization": "write_only"}, True),
    ("access refused", ["request-contacts"], 2, {"ok": False, "authorization": "denied"}, True),
    ("no decision on reminders within the wait", ["request-reminders"], 0, "", True),
    ("no decision on contacts within the wait", ["request-contacts"], 0, "", True),
    ("permission_required from a reading command", ["contacts"], 2, {"error": "permission_required"}, True),
    ("unknown_command for the empty word", [""], 2, {"error": "unknown_command"}, True),
    ("unknown_command for a capitalised word", ["Reminders"], 2, {"error": "unknown_command"}, True),
    ("an answer that standard output could not take", ["reminders"], 1, "", True),
    ("the simulated platform refusing its world", ["contacts"], 3, "", True),

    ("an extra key in the answer", ["authorization"], 0, {**NOT_DETERMINED, "x": "y"}, False),
    ("an extra key in a reminder", ["reminders"], 0, {"reminders": [reminder(notes="n")]}, False),
    ("an extra key in a list", ["reminder-lists"], 0, {"lists": [{"id": "a", "title": "A", "n": "1"}]}, False),
    ("an extra key in a contact", ["contacts"], 0, {"contacts": [contact(nickname="A")]}, False),
    ("a number for completed", ["reminders"], 0, {"reminders": [reminder(completed=0)]}, False),
    ("limited for reminders", ["authorization"], 0, {"reminders": "limited", "contacts": "denied"}, False),
    ("write_only for contacts", ["authorization"], 0, {"reminders": "denied", "contacts": "write_only"}, False),
    ("limited from request-reminders", ["request-reminders"], 0, {"ok": True, "authorization": "limited"}, False),
    ("write_only from request-contacts", ["request-contacts"], 0, {"ok": True, "authorization": "write_only"}, False),
    ("a state word the tool has not", ["authorization"], 0, {"reminders": "Authorized", "contacts": "denied"}, False),
    ("a missing due", ["reminders"], 0, {"reminders": [reminder(due=...)]}, False),
    ("a due with fractional seconds", ["reminders"], 0, {"reminders": [reminder(due="2024-03-05T14:30:00.5Z")]}, False),
    ("a due with an offset", ["reminders"], 0, {"reminders": [reminder(due="2024-03-05T14:30:00+00:00")]}, False),
    ("a due without seconds", ["reminders"], 0, {"reminders": [reminder(due="2024-03-05T14:30Z")]}, False),
    ("a due in other digits", ["reminders"], 0, {"reminders": [reminder(due="٢٠٢٤-03-05T14:30:00Z")]}, False),
    ("a due ending in a line feed", ["reminders"], 0, {"reminders": [reminder(due="2024-03-05T14:30:00Z\n")]}, False),
    ("a number as a phone", ["contacts"], 0, {"contacts": [contact(phones=["+1", 5550100])]}, False),
    ("a text for emails", ["contacts"], 0, {"contacts": [contact(emails="a@b")]}, False),
    ("501 contacts", ["contacts"], 0, {"contacts": [contact()] * 501}, False),
    ("ok as a text", ["request-reminders"], 0, {"ok": "true", "authorization": "authorized"}, False),
    ("an error word the tool has not", ["nonsense"], 2, {"error": "encoding"}, False),
    ("an empty object", ["authorization"], 0, {}, False),
    ("an empty object as an error", ["nonsense"], 2, {}, False),
    ("a top-level array", ["reminders"], 0, [], False),
    ("another command's answer", ["reminder-lists"], 0, {"reminders": []}, False),

    ("ok true with status 2", ["request-reminders"], 2, {"ok": True, "authorization": "authorized"}, False),
    ("ok false with status 0", ["request-contacts"], 0, {"ok": False, "authorization": "denied"}, False),
    ("permission_required from authorization", ["authorization"], 2, {"error": "permission_required"}, False),
    ("permission_required from an access request", ["request-reminders"], 2, {"error": "permission_required"}, False),
    ("permission_required for an unknown word", ["remind"], 2, {"error": "permission_required"}, False),
    ("unknown_command for a command word", ["reminders"], 2, {"error": "unknown_command"}, False),
    ("an answer with status 1", ["reminders"], 1, {"reminders": []}, False),
    ("an error with status 0", ["nonsense"], 0, {"error": "unknown_command"}, False),
    ("nothing from a reading command", ["reminders"], 0, "", False),
    ("nothing with status 2", ["request-reminders"], 2, "", False),
    ("a status the tool never ends with", ["authorization"], 4, "", False),
    ("output from the simulated platform's stop", ["contacts"], 3, {"contacts": []}, False),
    ("two lines", ["contacts"], 0, '{"contacts":[]}\n{"contacts":[]}\n', False),
    ("no final line feed", ["contacts"], 0, '{"contacts":[]}', False),
    ("a carriage return", ["contacts"], 0, '{"contacts":[]}\r\n', False),
    ("a key twice", ["reminder-lists"], 0, '{"lists":[],"lists":[]}\n', False),
    ("NaN", ["reminders"], 0, '{"reminders":NaN}\n', False),
    ("invalid JSON", ["reminders"], 0, '{"reminders":[}\n', False),
]

# Each file on its own, for a reader who takes one schema without the index:
# (schema, value, accepted?)
DOCUMENTS = [
    ("error.schema.json", {"error": "encoding"}, False),
    ("error.schema.json", {"error": "permission_required"}, True),
    ("access.schema.json", {"ok": True, "authorization": "limited"}, True),
    ("access.schema.json", {"ok": True, "authorization": "write_only"}, True),
    ("access.schema.json", {"ok": True, "authorization": "allowed"}, False),
    ("access.schema.json", {"ok": True}, False),
    ("pimbridge.schema.json", {"contacts": []}, True),
    ("pimbridge.schema.json", {"contacts": [], "reminders": []}, False),
    ("pimbridge.schema.json", {}, False),
]

# (what it shows, content of one record file, accepted?)
RECORD_FILES = [
    ("one good record", '{"test":"t","args":[],"status":0,"out":"{\\"reminders\\":\\"denied\\",\\"contacts\\":\\"denied\\"}\\n"}\n', True),
    ("no record at all", "\n", False),
    ("a record that is not JSON", "{test}\n", False),
    ("a status given as text", '{"test":"t","args":[],"status":"0","out":""}\n', False),
    ("a status given as a boolean", '{"test":"t","args":[],"status":false,"out":""}\n', False),
    ("a record without out", '{"test":"t","args":["contacts"],"status":1}\n', False),
    ("only the simulated platform's stop", '{"test":"t","args":[],"status":3,"out":""}\n', False),
]


def selftest():
    schemas = Schemas()
    wrong = []

    referenced = {ref["$ref"].split("#")[0] for ref in schemas.index["$defs"].values()}
    unreferenced = set(schemas.files) - referenced - {INDEX}
    if unreferenced:
        wrong.append(f"{INDEX} names no $defs entry for {sorted(unreferenced)}")

    examples = readme_examples()
    words = {args[0] for args, _, _ in examples if args}
    if not (set(schemas.commands) < words):
        wrong.append(f"the README shows answers only for {sorted(words)}; expected every command and an unknown word")
    runs = [(f"README: pimbridge {' '.join(args)}", args, status, out, True) for args, status, out in examples]
    runs += [(name, args, status, out if isinstance(out, str) else json.dumps(out, ensure_ascii=False,
                                                                              separators=(",", ":")) + "\n", ok)
             for name, args, status, out, ok in RUNS]
    for name, args, status, out, accepted in runs:
        problems = check_run(schemas, args, status, out)
        if bool(problems) == accepted:
            wrong.append(f"{name}: {'rejected: ' + '; '.join(problems) if accepted else 'accepted'}")

    for ref, value, accepted in DOCUMENTS:
        if schemas.validator(ref).is_valid(value) != accepted:
            wrong.append(f"{ref} {'rejected' if accepted else 'accepted'} {json.dumps(value)}")

    with tempfile.TemporaryDirectory() as folder:
        for name, content, accepted in RECORD_FILES:
            path = Path(folder) / "records.jsonl"
            path.write_text(content, encoding="utf-8")
            checked, failed = check_files(schemas, [path], report=lambda line: None)
            if (checked > 0 and failed == 0) != accepted:
                wrong.append(f"record file with {name}: {'rejected' if accepted else 'accepted'}")

    for line in wrong:
        print("WRONG " + line)
    total = len(runs) + len(DOCUMENTS) + len(RECORD_FILES)
    print(f"validate.py selftest: {total - len(wrong)} passed, {len(wrong)} failed")
    return 1 if wrong else 0


def main(argv):
    if len(argv) >= 2 and argv[1] == "selftest" and len(argv) == 2:
        return selftest()
    if len(argv) >= 3 and argv[1] == "answers":
        return answers(argv[2:])
    print(__doc__.strip(), file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
