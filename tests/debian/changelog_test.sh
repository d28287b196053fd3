#!/bin/sh
# The Debian changelog written from a CHANGELOG.md: every version an entry,
# newest first, at its release time and signed by the maintainer, in a form
# dpkg-parsechangelog reads, and the unreleased changes left out; no
# changelog at all when the version being built is not the first, or when an
# older version has no release time.
# Usage: changelog_test.sh SOURCE_DIR PYTHON
set -eu
generator="$1/tools/debian/gen_changelog.py"
python=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# write NAME: CHANGELOG.md text from standard input into $work/NAME.md
write() { cat >"$work/$1.md"; }
# generate NAME VERSION: the changelog of $work/NAME.md into $work/NAME
generate() {
  SOURCE_DATE_EPOCH=86400 "$python" "$generator" "$work/$1.md" zelvora "$2" \
    "Z developers <z@example.org>" "$work/$1" 2>"$work/$1.err"
}

write released <<'TEXT'
# Changelog

## Unreleased

- Not in any version yet.

## 0.3.0

- A `new` thing, from [the README](README.md), whose description runs on for
  long enough that it has to be wrapped again after the list marker changes.

## 0.2.0

Released 2026-12-08 15:15 UTC.

The second version.

- An item.
TEXT
if generate released 0.3.0; then
  got=$(dpkg-parsechangelog -l "$work/released" --format rfc822 --all |
        sed -n 's/^\(Version\|Date\): //p' | tr '\n' '/')
  expected="0.3.0/Fri, 02 Jan 1970 00:00:00 +0000/0.2.0/Tue, 08 Dec 2026 15:15:00 +0000/"
  [ "$got" = "$expected" ] || fail "versions and dates: $got"
  got=$(dpkg-parsechangelog -l "$work/released" -S Maintainer)
  [ "$got" = "Z developers <z@example.org>" ] || fail "maintainer: $got"
  grep -q '^  \* A new thing, from the README, whose' "$work/released" || fail "item text"
  grep -q '^  The second version\.$' "$work/released" || fail "paragraph text"
  ! grep -q 'Released\|Not in any version' "$work/released" || fail "unreleased or time as text"
  long=$(grep -v '^ -- ' "$work/released" | awk 'length > 80' | head -1)
  [ -z "$long" ] || fail "line over 80 columns: $long"
else
  fail "a well-formed changelog was refused: $(cat "$work/released.err")"
fi

# Refused, with a message naming the problem.
write older_version <<'TEXT'
## 0.2.0

Released 2026-12-08 15:15 UTC.

- An item.
TEXT
write undated_older <<'TEXT'
## 0.3.0

- An item.

## 0.2.0

- An item.
TEXT
write bad_heading <<'TEXT'
## 0.3.0 (8 December 2026)

- An item.
TEXT
write late_time <<'TEXT'
## 0.3.0

- An item.

## 0.2.0

- An item.

Released 2026-12-08 15:15 UTC.
TEXT
for case in "older_version 0.3.0 no entry for version 0.3.0" \
            "undated_older 0.3.0 version 0.2.0 has no time" \
            "bad_heading 0.3.0 expected" \
            "late_time 0.3.0 version 0.2.0 has no time"; do
  set -- $case
  name=$1 version=$2
  shift 2
  if generate "$name" "$version"; then
    fail "$name: accepted"
  elif ! grep -q "$*" "$work/$name.err"; then
    fail "$name: the message does not say \"$*\": $(cat "$work/$name.err")"
  fi
  [ ! -e "$work/$name" ] || fail "$name: a changelog was written anyway"
done

[ "$failures" -eq 0 ]
