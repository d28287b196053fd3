#!/usr/bin/python3
"""Writes the Debian changelog of the package from CHANGELOG.md.

    gen_changelog.py CHANGELOG.md PACKAGE VERSION MAINTAINER OUT

Each "## VERSION" section becomes one entry, newest first as in
CHANGELOG.md: its list items become "  * " items and its other paragraphs
plain ones, wrapped to 78 columns, with Markdown's code quotes and link
targets taken out. The entry is signed by MAINTAINER at the time its first
paragraph gives, "Released YYYY-MM-DD HH:MM UTC.". Only the first version may
leave that out: it is then the release being built, signed at
SOURCE_DATE_EPOCH or now. A "## Unreleased" section belongs to no version yet
and is left out. VERSION, the package's version, must be the first version
described, so the package never claims changes it does not describe.
"""

import email.utils
import os
import re
import sys
import textwrap
import time
from datetime import datetime, timezone

HEADING = re.compile(r"^## (\S+)\s*$")
RELEASED = re.compile(r"^Released (\d{4}-\d\d-\d\d \d\d:\d\d) UTC\.$")


def plain(text):
    """Markdown inline text as plain text."""
    text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", text)
    return text.replace("`", "")


def sections(markdown):
    """(version, time or None, paragraphs) for each "## VERSION" section; a
    paragraph is [is_item, text]."""
    result = []
    paragraph = None
    skipping = True  # before the first version, and in an unreleased section
    for number, line in enumerate(markdown.splitlines(), 1):
        if line.startswith("## "):
            match = HEADING.match(line)
            if not match:
                sys.exit(f"CHANGELOG.md:{number}: expected \"## VERSION\"")
            skipping = match.group(1) == "Unreleased"
            if not skipping:
                result.append([match.group(1), None, []])
            paragraph = None
        elif skipping or line.startswith("# "):
            continue
        elif (released := RELEASED.match(line)) and not result[-1][2] and paragraph is None:
            when = datetime.strptime(released.group(1), "%Y-%m-%d %H:%M")
            result[-1][1] = when.replace(tzinfo=timezone.utc)
        elif not line.strip():
            paragraph = None
        elif line.startswith("- "):
            paragraph = [True, line[2:].strip()]
            result[-1][2].append(paragraph)
        elif paragraph is not None:
            paragraph[1] += " " + line.strip()
        else:
            paragraph = [False, line.strip()]
            result[-1][2].append(paragraph)
    return result


def entry(package, version, when, paragraphs, maintainer):
    lines = [f"{package} ({version}) unstable; urgency=medium", ""]
    for is_item, text in paragraphs:
        first, rest = ("  * ", "    ") if is_item else ("  ", "  ")
        lines += textwrap.wrap(plain(text), 78, initial_indent=first, subsequent_indent=rest,
                               break_on_hyphens=False, break_long_words=False)
        if not is_item:
            lines.append("")
    if lines[-1] == "":
        lines.pop()
    lines += ["", f" -- {maintainer}  {email.utils.format_datetime(when)}", ""]
    return "\n".join(lines)


def main(argv):
    if len(argv) != 6:
        sys.exit(__doc__)
    source, package, version, maintainer, out = argv[1:]
    with open(source, encoding="utf-8") as file:
        found = sections(file.read())
    if not found or found[0][0] != version:
        sys.exit(f"{source} has no entry for version {version} at the top: "
                 f"add \"## {version}\" with what it changes")
    entries = []
    for index, (number, when, paragraphs) in enumerate(found):
        if when is None:
            if index > 0:
                sys.exit(f"{source}: version {number} has no time: begin it with "
                         f"\"Released YYYY-MM-DD HH:MM UTC.\"")
            now = int(os.environ.get("SOURCE_DATE_EPOCH", time.time()))
            when = datetime.fromtimestamp(now, timezone.utc)
        if not paragraphs:
            sys.exit(f"{source}: version {number} says nothing")
        entries.append(entry(package, number, when, paragraphs, maintainer))
    with open(out, "w", encoding="utf-8") as file:
        file.write("\n".join(entries))


if __name__ == "__main__":
    main(sys.argv)
