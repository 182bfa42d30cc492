#!/usr/bin/env python3
"""Writes the Debian changelog of a native package from CHANGELOG.md.

usage: debian-changelog.py CHANGELOG.md PACKAGE MAINTAINER OUTPUT

Every "## [VERSION] - YYYY-MM-DD" section becomes one entry; each of its
bullets becomes a "*" item, prefixed by the heading it stands under
("Added: ..."), wrapped to fit 80 columns.
"""
import datetime
import re
import sys
import textwrap

changelog, package, maintainer, output = sys.argv[1:5]
entries = []
heading = None
for line in open(changelog, encoding="utf-8"):
    line = line.rstrip()
    release = re.match(r"^## \[([^\]]+)\] - (\d{4}-\d{2}-\d{2})$", line)
    if release:
        entries.append((release.group(1), release.group(2), []))
        heading = None
    elif entries and line.startswith("### "):
        heading = line[4:].strip()
    elif entries and line.startswith("- "):
        entries[-1][2].append(f"{heading}: {line[2:]}" if heading else line[2:])
    elif entries and line.startswith("  ") and entries[-1][2]:
        entries[-1][2][-1] += " " + line.strip()
if not entries:
    sys.exit(f"{changelog}: no release section")

with open(output, "w", encoding="utf-8") as out:
    for number, (version, date, items) in enumerate(entries):
        if number:
            out.write("\n")
        out.write(f"{package} ({version}) unstable; urgency=medium\n\n")
        for item in items:
            out.write(textwrap.fill(item.replace("`", ""), width=78, initial_indent="  * ",
                                    subsequent_indent="    ") + "\n")
        when = datetime.datetime.strptime(date, "%Y-%m-%d").replace(tzinfo=datetime.timezone.utc)
        out.write(f"\n -- {maintainer}  {when.strftime('%a, %d %b %Y %H:%M:%S +0000')}\n")
