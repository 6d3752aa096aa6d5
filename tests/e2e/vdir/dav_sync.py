"""Puts collections and items onto the private Radicale over CalDAV and
CardDAV, then syncs them with vdirsyncer into a vdir, as a user's set-up would.

    dav_sync.py SCENARIO.json

The scenario: {"calendars": [{"name", "displayname", "items": {href: text}}],
"addressbooks": [same]}. Needs RADICALE_URL and PRIVATE_RADICALE_DIR (see
scripts/private-radicale.sh). Writes the vdirsyncer configuration to
PRIVATE_RADICALE_DIR/vdirsyncer.config, syncs into PRIVATE_RADICALE_DIR/vdir,
and prints the configuration's path. Any failure ends it with status 1 and
the reason on standard error.
"""
import base64
from xml.sax.saxutils import escape
import json
import os
import subprocess
import sys
import urllib.request

USER = "tester"
AUTH = "Basic " + base64.b64encode(f"{USER}:secret".encode()).decode()


def request(method, url, body=b"", content_type="application/xml; charset=utf-8"):
    req = urllib.request.Request(url, data=body, method=method)
    req.add_header("Authorization", AUTH)
    req.add_header("Content-Type", content_type)
    with urllib.request.urlopen(req) as reply:
        if reply.status >= 300:
            raise RuntimeError(f"{method} {url}: {reply.status}")


def make_calendar(base, calendar):
    body = f"""<?xml version="1.0" encoding="utf-8"?>
<C:mkcalendar xmlns:D="DAV:" xmlns:C="urn:ietf:params:xml:ns:caldav">
  <D:set><D:prop>
    <D:displayname>{escape(calendar["displayname"])}</D:displayname>
    <C:supported-calendar-component-set><C:comp name="VTODO"/></C:supported-calendar-component-set>
  </D:prop></D:set>
</C:mkcalendar>""".encode()
    request("MKCALENDAR", f"{base}{calendar['name']}/", body)


def make_addressbook(base, book):
    body = f"""<?xml version="1.0" encoding="utf-8"?>
<D:mkcol xmlns:D="DAV:" xmlns:CR="urn:ietf:params:xml:ns:carddav">
  <D:set><D:prop>
    <D:resourcetype><D:collection/><CR:addressbook/></D:resourcetype>
    <D:displayname>{escape(book["displayname"])}</D:displayname>
  </D:prop></D:set>
</D:mkcol>""".encode()
    request("MKCOL", f"{base}{book['name']}/", body)


def main():
    scenario = json.load(open(sys.argv[1], encoding="utf-8"))
    root = os.environ["PRIVATE_RADICALE_DIR"]
    base = os.environ["RADICALE_URL"] + USER + "/"
    for calendar in scenario.get("calendars", []):
        make_calendar(base, calendar)
        for href, text in calendar["items"].items():
            request("PUT", f"{base}{calendar['name']}/{href}", text.encode(), "text/calendar; charset=utf-8")
    for book in scenario.get("addressbooks", []):
        make_addressbook(base, book)
        for href, text in book["items"].items():
            request("PUT", f"{base}{book['name']}/{href}", text.encode(), "text/vcard; charset=utf-8")

    vdir = os.path.join(root, "vdir")
    config = os.path.join(root, "vdirsyncer.config")
    with open(config, "w", encoding="utf-8") as f:
        f.write(f"""[general]
status_path = {json.dumps(os.path.join(root, "status"))}

[pair tasks]
a = "tasks_local"
b = "tasks_remote"
collections = ["from b"]
metadata = ["displayname"]

[storage tasks_local]
type = "filesystem"
path = {json.dumps(os.path.join(vdir, "tasks"))}
fileext = ".ics"

[storage tasks_remote]
type = "caldav"
url = {json.dumps(os.environ["RADICALE_URL"])}
username = "{USER}"
password = "secret"
item_types = ["VTODO"]

[pair contacts]
a = "contacts_local"
b = "contacts_remote"
collections = ["from b"]

[storage contacts_local]
type = "filesystem"
path = {json.dumps(os.path.join(vdir, "contacts"))}
fileext = ".vcf"

[storage contacts_remote]
type = "carddav"
url = {json.dumps(os.environ["RADICALE_URL"])}
username = "{USER}"
password = "secret"
""")
    for step in (["discover"], ["sync"], ["metasync"]):
        done = subprocess.run(["/usr/bin/vdirsyncer", "-c", config, "--verbosity", "ERROR"] + step,
                              input="y\n" * 20, capture_output=True, text=True)
        if done.returncode != 0:
            sys.stderr.write(f"vdirsyncer {step[0]} failed:\n{done.stdout}{done.stderr}")
            return 1
    print(config)
    return 0


if __name__ == "__main__":
    sys.exit(main())
