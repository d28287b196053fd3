#!/usr/bin/python3
"""Writes the Debian changelog of the package from CHANGELOG.md.

    gen_changelog.py CHANGELOG.md PACKAGE VERSION MAINTAINER OUT

Each "## VERSION (YYYY-MM-DD HH:MM UTC)" section becomes one entry, newest
first as in CHANGELOG.md: its list items become "  * " items and its other
paragraphs plain ones, wrapped to 78 columns, with Markdown's code quotes and
link targets taken out. The entry is signed by MAINTAINER at the section's
time. Only the first section may leave out its time: it is then the release
being built, signed at SOURCE_DATE_EPOCH or now. VERSION, the package's
version, must be the first section's, so the package never claims changes it
does not describe.
"""

import email.utils
import os
import re
import sys
import textwrap
import time
from datetime import datetime, timezone

HEADING = re.compile(r"^## (\S+)(?: \((\d{4}-\d\d-\d\d \d\d:\d\d) UTC\))?\s*$")


def plain(text):
    """Markdown inline text as plain text."""
    text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", text)
    return text.replace("`", "")


def sections(markdown):
    """(version, time or None, paragraphs) for each "## " section; a
    paragraph is (is_item, text)."""
    result = []
    paragraph = None
    for number, line in enumerate(markdown.splitlines(), 1):
        if line.startswith("## "):
            match = HEADING.match(line)
            if not match:
                sys.exit(f"CHANGELOG.md:{number}: expected \"## VERSION (YYYY-MM-DD HH:MM UTC)\"")
            when = None
            if match.group(2):
                when = datetime.strptime(match.group(2), "%Y-%m-%d %H:%M")
                when = when.replace(tzinfo=timezone.utc)
            result.append((match.group(1), when, []))
            paragraph = None
        elif not result or line.startswith("# "):
            continue
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
                sys.exit(f"{source}: version {number} has no time: "
                         f"write \"## {number} (YYYY-MM-DD HH:MM UTC)\"")
            now = int(os.environ.get("SOURCE_DATE_EPOCH", time.time()))
            when = datetime.fromtimestamp(now, timezone.utc)
        if not paragraphs:
            sys.exit(f"{source}: version {number} says nothing")
        entries.append(entry(package, number, when, paragraphs, maintainer))
    with open(out, "w", encoding="utf-8") as file:
        file.write("\n".join(entries))


if __name__ == "__main__":
    main(sys.argv)
