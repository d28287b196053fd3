#!/usr/bin/python3
"""Writes the bundled area-code files, one per calling code, from the
geocoding data of Google's libphonenumber as Debian's python3-phonenumbers
package ships it.

Run it with Debian's own interpreter, /usr/bin/python3, which is the one the
package is installed for:

    /usr/bin/python3 tools/gen_area_codes.py               # English, into data/codes
    /usr/bin/python3 tools/gen_area_codes.py --lang de     # German, into data/codes-de

Where the data comes from
-------------------------
phonenumbers.geodata.GEOCODE_DATA maps a prefix of the E.164 digits (calling
code first, then the area digits, e.g. "4420") to a dict of locale -> area
text ({"en": "London", ...}). Locales are bare languages ("de", "zh") or a
language with a script ("zh_Hant").

Calling codes form a prefix-free set, so every data prefix begins with exactly
one calling code of phonenumbers' COUNTRY_CODE_TO_REGION_CODE; the prefix is
filed under that code.

Choosing the text for a language
--------------------------------
For every prefix the text is picked with the same rule the package's geocoder
applies to the entry of a prefix (phonenumbers/prefix.py, _find_lang), with
the language given as lang[_Script][_REGION]:

  1. zh_TW, zh_HK and zh_MO are taken as zh_Hant, when the entry has zh_Hant;
  2. the full locale (lang_Script_REGION, lang_Script, lang_REGION or lang);
  3. lang_Script, then lang_REGION, then the bare language;
  4. English, except for Chinese, Japanese and Korean, which never fall back
     to English.

A prefix without a text for the language after that is left out of the file.
(Where the geocoder's longest matching prefix has no text it answers with no
area at all; a file has no way to say "no area here", so the shorter prefixes
that do have a text are left to answer.) English therefore writes exactly the
prefixes that carry an English text.

File format
-----------
<out>/<calling code>.txt, UTF-8, one record per line ended by LF, no header:

    <key>|<area text>

The key is the data prefix, which already begins with the calling code. Keys
are unique and sorted by plain string (code point) order; as they are ASCII
digits this is also byte order. Area texts are written as the data has them,
except that "|" and the line terminators CR, LF, U+0085, U+2028 and U+2029,
which would break a record, are replaced by a space (the run reports how many).
Prefixes whose text is empty are left out.

Every file is first written into a temporary folder beside the output folder
and then moved into place, so no half-written file is ever left behind. Files
named <digits>.txt in the output folder that the run did not produce are
removed. The output depends only on the package's data: running it again gives
identical files.
"""

import argparse
import os
import re
import shutil
import sys
import tempfile

REPO_ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DATA_VERSION = "8.12.57"

# Characters that would end or split a record.
BREAKING_CHARS = ("|", "\r", "\n", "\x85", "\u2028", "\u2029")

LOCALE_NORMALIZATION = {"zh_TW": "zh_Hant", "zh_HK": "zh_Hant", "zh_MO": "zh_Hant"}
NO_ENGLISH_FALLBACK = ("zh", "ja", "ko")

LOCALE_RE = re.compile(
    r"^(?P<lang>[a-z]{2,3})(?:_(?P<script>[A-Z][a-z]{3}))?(?:_(?P<region>[A-Z]{2}|[0-9]{3}))?$")


def parse_locale(text):
    """Splits "zh", "zh_Hant", "zh-TW" or "zh_Hant_TW" into (lang, script, region)."""
    match = LOCALE_RE.match(text.replace("-", "_"))
    if not match:
        raise argparse.ArgumentTypeError(
            "%r is not a language such as en, de, zh, zh_Hant or zh_TW" % text)
    return match.group("lang"), match.group("script"), match.group("region")


def locale_name(lang, script, region):
    return "_".join(part for part in (lang, script, region) if part)


def pick_text(texts, lang, script, region):
    """The text of one prefix entry for the language, or None."""
    full = locale_name(lang, script, region)
    normalized = LOCALE_NORMALIZATION.get(full)
    if normalized is not None and normalized in texts:
        return texts[normalized]
    if full in texts:
        return texts[full]
    if script is not None and "%s_%s" % (lang, script) in texts:
        return texts["%s_%s" % (lang, script)]
    if region is not None and "%s_%s" % (lang, region) in texts:
        return texts["%s_%s" % (lang, region)]
    if lang in texts:
        return texts[lang]
    if lang not in NO_ENGLISH_FALLBACK:
        return texts.get("en")
    return None


def load_package():
    try:
        import phonenumbers
        from phonenumbers.geodata import GEOCODE_DATA
        from phonenumbers.phonenumberutil import COUNTRY_CODE_TO_REGION_CODE
    except ImportError:
        sys.stderr.write(
            "gen_area_codes.py: the phonenumbers package is missing for %s; install it with "
            "'apt-get install python3-phonenumbers' and run this script with /usr/bin/python3\n" %
            sys.executable)
        sys.exit(2)
    codes = sorted(str(code) for code in COUNTRY_CODE_TO_REGION_CODE)
    return phonenumbers.__version__, GEOCODE_DATA, codes


def calling_code_of(prefix, codes_by_length):
    found = [prefix[:n] for n in codes_by_length if prefix[:n] in codes_by_length[n]]
    if len(found) != 1:
        raise SystemExit("gen_area_codes.py: prefix %s begins with %d calling codes (%s)" %
                         (prefix, len(found), ", ".join(found) or "none"))
    return found[0]


def build_records(geodata, codes, lang, script, region, stats):
    """Returns {calling code: [(key, text), ...]} with the keys sorted."""
    codes_by_length = {}
    for code in codes:
        codes_by_length.setdefault(len(code), set()).add(code)
    files = {}
    for prefix in sorted(geodata):
        if not prefix.isascii() or not prefix.isdigit():
            raise SystemExit("gen_area_codes.py: prefix %r is not made of digits" % prefix)
        code = calling_code_of(prefix, codes_by_length)
        text = pick_text(geodata[prefix], lang, script, region)
        if text is None:
            stats["no_text"] += 1
            continue
        if text == "":
            stats["empty_text"] += 1
            continue
        cleaned = text
        for ch in BREAKING_CHARS:
            if ch in cleaned:
                stats["replaced_chars"] += cleaned.count(ch)
                cleaned = cleaned.replace(ch, " ")
        if cleaned != text:
            stats["replaced_texts"] += 1
        files.setdefault(code, []).append((prefix, cleaned))
    return files


def write_files(files, out_dir):
    """Writes every file into a temporary folder beside out_dir, then moves them in."""
    out_dir = os.path.abspath(out_dir)
    parent = os.path.dirname(out_dir)
    os.makedirs(parent, exist_ok=True)
    staging = tempfile.mkdtemp(prefix=".%s-tmp-" % os.path.basename(out_dir), dir=parent)
    try:
        names = []
        for code in sorted(files):
            name = code + ".txt"
            body = "".join("%s|%s\n" % record for record in files[code]).encode("utf-8")
            path = os.path.join(staging, name)
            with open(path, "wb") as out:
                out.write(body)
                out.flush()
                os.fsync(out.fileno())
            os.chmod(path, 0o644)
            names.append(name)
        os.makedirs(out_dir, exist_ok=True)
        for name in names:
            os.replace(os.path.join(staging, name), os.path.join(out_dir, name))
        wanted = set(names)
        stale = sorted(n for n in os.listdir(out_dir)
                       if re.match(r"^[0-9]+\.txt$", n) and n not in wanted)
        for name in stale:
            os.remove(os.path.join(out_dir, name))
        return names, stale
    finally:
        shutil.rmtree(staging, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(
        description="Writes the area-code files <calling code>.txt from the geocoding data of "
        "python3-phonenumbers. Run it with /usr/bin/python3 (Debian's interpreter, for which "
        "the package is installed).",
        usage="/usr/bin/python3 tools/gen_area_codes.py [--lang LANG] [--out DIR]")
    parser.add_argument("--lang", default="en", type=str,
                        help="language of the area texts: en (default), de, zh, zh_Hant, ... "
                        "Missing texts fall back as the package's geocoder does.")
    parser.add_argument("--out", default=None,
                        help="output folder (default: data/codes for en, data/codes-<lang> "
                        "otherwise, relative to the repository)")
    args = parser.parse_args()
    try:
        lang, script, region = parse_locale(args.lang)
    except argparse.ArgumentTypeError as error:
        parser.error(str(error))
    name = locale_name(lang, script, region)
    out_dir = args.out
    if out_dir is None:
        out_dir = os.path.join(REPO_ROOT, "data", "codes" if name == "en" else "codes-" + name)

    version, geodata, codes = load_package()
    if version != DATA_VERSION:
        sys.stderr.write("gen_area_codes.py: note: phonenumbers %s, the NOTICE names %s\n" %
                         (version, DATA_VERSION))

    stats = {"no_text": 0, "empty_text": 0, "replaced_chars": 0, "replaced_texts": 0}
    files = build_records(geodata, codes, lang, script, region, stats)
    if not files:
        raise SystemExit("gen_area_codes.py: no area texts for %s" % name)
    names, stale = write_files(files, out_dir)

    records = sum(len(recs) for recs in files.values())
    largest = max(names, key=lambda n: os.path.getsize(os.path.join(out_dir, n)))
    print("phonenumbers %s, language %s: %d files, %d records in %s" %
          (version, name, len(names), records, out_dir))
    print("largest: %s, %d bytes, %d lines" %
          (largest, os.path.getsize(os.path.join(out_dir, largest)), len(files[largest[:-4]])))
    print("prefixes without a text for %s: %d; with an empty text: %d" %
          (name, stats["no_text"], stats["empty_text"]))
    print("characters replaced by a space: %d (in %d texts)" %
          (stats["replaced_chars"], stats["replaced_texts"]))
    if stale:
        print("removed stale files: %s" % " ".join(stale))
    return 0


if __name__ == "__main__":
    sys.exit(main())
