"""Writes a deterministic vdir for the benchmark: task lists of .ics files
(due dates in UTC, zoned with and without a VTIMEZONE block, floating, as
dates, or none, in turn within each list; a third completed) and an address book of .vcf files.

    /usr/bin/python3 generate.py ROOT LISTS TASKS CARDS

makes ROOT/tasks/list-NN/ (TASKS spread evenly over LISTS lists) and
ROOT/contacts/book/ (CARDS cards).
"""
import os
import sys

BERLIN = """BEGIN:VTIMEZONE\r
TZID:Europe/Berlin\r
BEGIN:STANDARD\r
DTSTART:19701025T030000\r
RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r
TZOFFSETFROM:+0200\r
TZOFFSETTO:+0100\r
END:STANDARD\r
BEGIN:DAYLIGHT\r
DTSTART:19700329T020000\r
RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU\r
TZOFFSETFROM:+0100\r
TZOFFSETTO:+0200\r
END:DAYLIGHT\r
END:VTIMEZONE\r
"""


def task(i, kind):
    zone = ""
    due = [f"DUE:2024{1 + i % 12:02}{1 + i % 28:02}T{i % 24:02}0000Z",
           f"DUE;TZID=Europe/Berlin:2024{1 + i % 12:02}{1 + i % 28:02}T090000",
           f"DUE;TZID=America/New_York:2025{1 + i % 12:02}{1 + i % 28:02}T173000",
           f"DUE:2024{1 + i % 12:02}{1 + i % 28:02}T120000",
           f"DUE;VALUE=DATE:2024{1 + i % 12:02}{1 + i % 28:02}",
           ""][kind]
    if kind == 1:
        zone = BERLIN
    lines = ["BEGIN:VTODO", f"UID:task-{i}@bench.example.org", "DTSTAMP:20240101T000000Z",
             f"SUMMARY:Task number {i} — Aufgabe {i} — 任务 {i}"]
    if due:
        lines.append(due)
    if i % 3 == 0:
        lines.append("STATUS:COMPLETED")
    lines.append("END:VTODO")
    return ("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//pimbridge bench//EN\r\n" + zone +
            "".join(line + "\r\n" for line in lines) + "END:VCALENDAR\r\n")


def card(i):
    lines = ["BEGIN:VCARD", "VERSION:3.0", f"UID:card-{i}@bench.example.org", f"FN:Given{i} Family{i}",
             f"N:Family{i};Given{i};;;"]
    lines += [f"TEL;TYPE=CELL:+1 555 {i:04} {k}" for k in range(i % 4)]
    lines += [f"EMAIL:person{i}.{k}@example.org" for k in range(i % 3)]
    lines.append("END:VCARD")
    return "".join(line + "\r\n" for line in lines)


def main():
    root, lists, tasks, cards = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
    for n in range(lists):
        folder = os.path.join(root, "tasks", f"list-{n:02}")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "displayname"), "w") as f:
            f.write(f"List {n}\n")
    for i in range(tasks):
        path = os.path.join(root, "tasks", f"list-{i % lists:02}", f"task-{i:06}.ics")
        with open(path, "w", encoding="utf-8", newline="") as f:
            # Every list gets every kind of due date in turn.
            f.write(task(i, (i // lists) % 6))
    book = os.path.join(root, "contacts", "book")
    os.makedirs(book, exist_ok=True)
    for i in range(cards):
        with open(os.path.join(book, f"card-{i:05}.vcf"), "w", encoding="utf-8", newline="") as f:
            f.write(card(i))


if __name__ == "__main__":
    main()
