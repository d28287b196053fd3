#!/usr/bin/python3
"""Writes the bundled area-code data from the project's copy of Google's
libphonenumber data (third_party/libphonenumber): the English area-code files,
the overlays of every other language, and the carrier names. The names of the
regions in each language, which libphonenumber's files do not hold, come from
Debian's python3-phonenumbers.

Run it with Debian's own interpreter, /usr/bin/python3, which is the one that
package is installed for:

    /usr/bin/python3 tools/gen_area_codes.py                 # the bundle, into data/
    /usr/bin/python3 tools/gen_area_codes.py --out DIR       # the bundle, into DIR
    /usr/bin/python3 tools/gen_area_codes.py --lang de --out DIR
                                      # the complete German set, one file per code

What it writes (all UTF-8, one "<key>|<text>" record per LF-ended line, keys
unique, sorted in plain string order, no header):

  calling-codes.txt         every calling code of the metadata, one a line:
                            a key belongs to the one that begins it.
  country-lines.txt         "<key>|<region>" for every country line of the
                            area sets: the key stands for the whole region.
  codes/<cc>.txt            English area texts and country lines: the set the
                            lookup reads when nothing is installed.
  lang/index.txt            one line per language: "<language>|<base>", base
                            being the set the language's overlay is laid over
                            ("en", "zh" for zh_Hant) or empty for a language
                            whose overlay is its complete set (zh, ja, ko).
  lang/<language>.txt       the language's overlay: the records of its complete
                            set whose text differs from its base set, for all
                            calling codes in one file (a key begins with its
                            calling code, and calling codes are prefix-free).
  carriers/en.txt           English carrier names of mobile prefixes.
  carriers/<language>.txt   the carrier names in that language that differ from
                            the English ones.

Area texts
----------
The geocoding files map a prefix of the E.164 digits (calling code first,
e.g. "4420") to a text, one folder per locale; merged they give {locale: text}
per prefix. The text of a prefix for a language is picked as libphonenumber's
geocoder picks it: the full locale, then language and script, then the bare
language, then English, except that Chinese, Japanese and Korean never fall
back to English. A prefix without a text for the language is left out, so a
longer prefix without a usable name never hides a shorter one that has a name.
Prefixes whose text is empty are left out too. Where mobile numbers carry a
token before the area code (9 in Argentina), which the geocoder drops before
it looks up the area, every area is written a second time under the token
("54911|Buenos Aires" beside "5411|Buenos Aires").

Country lines
-------------
Every file also holds the least specific keys: the calling code plus the
shortest national prefix after which the number can be valid for only one
region of the code, with that region's name (python3-phonenumbers' region
names).
For a calling code of one region that is the calling code alone ("49|Germany");
for a shared code the prefixes follow the regions' number patterns
("1876|Jamaica", "77|Kazakhstan"). Where a prefix cannot tell the region
within six national digits no line is written. An area text at the same key
wins over the country. The country's name is in the language; a language
without a name for it falls back like the area texts.

Overlays
--------
Appending the records of a calling code from a language's overlay to the
code's file of its base set gives the code's file of the language's complete
set: a key repeated later replaces the earlier text. Chinese, Japanese and
Korean have no base, so their complete set holds no English text; a code
without records in their overlay is then an empty file.

Texts are written as the data has them, except that "|" and the line
terminators CR, LF, U+0085, U+2028 and U+2029, which would break a record, are
replaced by a space. The output depends only on the data it reads: running
it again gives identical files. Everything is written into a temporary folder
beside the output and then moved into place; files and language folders of an
earlier run that this run does not produce are removed.
"""

import argparse
import os
import re
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import libphonenumber_data  # noqa: E402
import phone_regions  # noqa: E402

REPO_ROOT = libphonenumber_data.REPO_ROOT
COUNTRY_PREFIX_DIGITS = 6

# Characters that would end or split a record.
BREAKING_CHARS = ("|", "\r", "\n", "\x85", "\u2028", "\u2029")

LOCALE_NORMALIZATION = {"zh_TW": "zh_Hant", "zh_HK": "zh_Hant", "zh_MO": "zh_Hant"}
NO_ENGLISH_FALLBACK = ("zh", "ja", "ko")

LOCALE_RE = re.compile(
    r"^(?P<lang>[a-z]{2,3})(?:_(?P<script>[A-Z][a-z]{3}))?(?:_(?P<region>[A-Z]{2}|[0-9]{3}))?$")

# The folders of the bundle that this script owns.
BUNDLE_FOLDERS = ("codes", "lang", "carriers", "calling-codes.txt", "country-lines.txt")


def parse_locale(text):
    """Splits "zh", "zh_Hant" or "zh_Hant_TW" into (lang, script, region), or None."""
    match = LOCALE_RE.match(text.replace("-", "_"))
    if not match:
        return None
    return match.group("lang"), match.group("script"), match.group("region")


def pick_text(texts, lang, script=None, region=None, english=None):
    """The text of one data entry for the language, or None. `english` says
    whether English may stand in; by default all but zh, ja and ko fall back."""
    full = "_".join(part for part in (lang, script, region) if part)
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
    if english is None:
        english = lang not in NO_ENGLISH_FALLBACK
    return texts.get("en") if english else None


def clean(text):
    for ch in BREAKING_CHARS:
        text = text.replace(ch, " ")
    return text


def base_of(locale):
    """The set a language's overlay is laid over: "" for none."""
    lang, script, region = parse_locale(locale)
    if script or region:
        return lang
    return "" if lang in NO_ENGLISH_FALLBACK else "en"


class Package:
    """The data the bundle is made from: libphonenumber's files in the project's
    copy (third_party/libphonenumber), and the names of the regions in each
    language, which libphonenumber's files do not hold, from Debian's
    python3-phonenumbers."""

    def __init__(self, resources_root=libphonenumber_data.DEFAULT_ROOT):
        try:
            from phonenumbers.geodata.locale import LOCALE_DATA
        except ImportError:
            sys.stderr.write(
                "gen_area_codes.py: the phonenumbers package is missing for %s; install it "
                "with 'apt-get install python3-phonenumbers' and run this script with "
                "/usr/bin/python3 (it gives the names of the regions)\n" % sys.executable)
            sys.exit(2)
        resources = libphonenumber_data.Resources(resources_root)
        self.resources = resources
        self.version = resources.version.get("release", "?")
        self.geodata = resources.geodata
        self.carriers = resources.carriers
        self.region_names = LOCALE_DATA
        self.regions_of_code = resources.regions_of_code
        self.patterns_of = resources.patterns_of
        self.mobile_token = lambda code: libphonenumber_data.MOBILE_TOKENS.get(code, "")
        self.codes_by_length = {}
        for code in self.regions_of_code:
            self.codes_by_length.setdefault(len(code), set()).add(code)
        self.locales = [locale for locale in resources.locales if locale != "en"]
        self._country_keys = None
        self._english = None
        self._by_language = None

    def calling_code_of(self, prefix):
        if not prefix.isascii() or not prefix.isdigit():
            raise SystemExit("gen_area_codes.py: prefix %r is not made of digits" % prefix)
        found = [prefix[:n] for n in self.codes_by_length
                 if prefix[:n] in self.codes_by_length[n]]
        if len(found) != 1:
            raise SystemExit("gen_area_codes.py: prefix %s begins with %d calling codes" %
                             (prefix, len(found)))
        return found[0]

    def region_name(self, region, lang, english):
        names = self.region_names.get(region, {})

        def get(key):
            name = names.get(key, "")
            return names.get(name[1:], "") if name.startswith("*") else name

        name = get(lang)
        if not name and english:
            name = get("en")
        return name

    def country_keys(self):
        """[(key, region)]: the least specific keys of every calling code."""
        if self._country_keys is None:
            keys = []
            for code, regions in sorted(self.regions_of_code.items()):
                regions = [r for r in regions if r in self.region_names]
                if len(regions) == 1 and len(self.regions_of_code[code]) == 1:
                    keys.append((code, regions[0]))
                elif regions:
                    automata = phone_regions.region_automata(self.patterns_of,
                                                             self.regions_of_code[code])
                    for prefix, region in phone_regions.certain_prefixes(
                            automata, COUNTRY_PREFIX_DIGITS):
                        if region in self.region_names:
                            keys.append((code + prefix, region))
            self._country_keys = keys
        return self._country_keys

    def _english_texts(self):
        if self._english is None:
            self._english = {}
            for prefix, texts in self.geodata.items():
                text = texts.get("en")
                if text:
                    code = self.calling_code_of(prefix)
                    self._english.setdefault(code, {})[prefix] = clean(text)
        return self._english

    def _prefixes_of_language(self):
        if self._by_language is None:
            self._by_language = {}
            for prefix, texts in self.geodata.items():
                for locale in texts:
                    self._by_language.setdefault(locale.split("_")[0], []).append(prefix)
        return self._by_language

    def area_set(self, locale):
        """The complete set of a language: {calling code: {key: text}}."""
        lang, script, region = parse_locale(locale)
        english = lang not in NO_ENGLISH_FALLBACK
        # Only the prefixes with a text in some locale of the language can have
        # another text than English (or, without fallback, any text at all).
        files = {}
        if english:
            for code, records in self._english_texts().items():
                files[code] = dict(records)
        for prefix in self._prefixes_of_language().get(lang, ()):
            text = pick_text(self.geodata[prefix], lang, script, region)
            records = files.setdefault(self.calling_code_of(prefix), {})
            if text:
                records[prefix] = clean(text)
            else:
                records.pop(prefix, None)
        for code, records in files.items():
            # Where mobile numbers carry a token before the area code (Argentina's
            # 9), the geocoder drops it before looking up the area, so the areas
            # are repeated under the token.
            token = self.mobile_token(code)
            if token:
                for key, text in list(records.items()):
                    records[code + token + key[len(code):]] = text
        for key, region_code in self.country_keys():
            name = self.region_name(region_code, lang, english)
            if name:
                files.setdefault(self.calling_code_of(key), {}).setdefault(key, clean(name))
        return files

    def carrier_set(self, locale):
        """Carrier names in the language, else in English: {calling code: {key: name}}."""
        lang, script, region = parse_locale(locale)
        files = {}
        for prefix, texts in self.carriers.items():
            name = pick_text(texts, lang, script, region, english=True)
            if name:
                files.setdefault(self.calling_code_of(prefix), {})[prefix] = clean(name)
        return files


def overlay(complete, base):
    """The records of `complete` that `base` lacks or has with another text. Laid
    over `base` they give `complete`, which must therefore hold every key of base."""
    result = {}
    for code in set(complete) | set(base):
        mine = complete.get(code, {})
        theirs = base.get(code, {})
        missing = [key for key in theirs if key not in mine]
        if missing:
            raise SystemExit("gen_area_codes.py: the overlay cannot take away key %s" %
                             missing[0])
        changed = {key: text for key, text in mine.items() if theirs.get(key) != text}
        if changed:
            result[code] = changed
    return result


def write_set(folder, files):
    os.makedirs(folder, exist_ok=True)
    for code, records in files.items():
        body = "".join("%s|%s\n" % (key, records[key]) for key in sorted(records))
        with open(os.path.join(folder, code + ".txt"), "wb") as out:
            out.write(body.encode("utf-8"))


def write_joined(path, files):
    """All records of `files` in one file, sorted by key."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    records = sorted((key, text) for code_records in files.values()
                     for key, text in code_records.items())
    with open(path, "wb") as out:
        out.write("".join("%s|%s\n" % record for record in records).encode("utf-8"))


def move_into_place(staging, out_dir, names):
    """Replaces each folder or file `names` of out_dir by the one in staging."""
    os.makedirs(out_dir, exist_ok=True)
    for name in names:
        target = os.path.join(out_dir, name)
        old = None
        if os.path.lexists(target):
            old = os.path.join(staging, ".old-" + name)
            os.replace(target, old)
        os.replace(os.path.join(staging, name), target)
        if old:
            if os.path.isdir(old):
                shutil.rmtree(old)
            else:
                os.remove(old)


def write_bundle(package, staging):
    with open(os.path.join(staging, "calling-codes.txt"), "w", encoding="utf-8") as out:
        out.write("".join(code + "\n" for code in sorted(package.regions_of_code)))
    sets = {"en": package.area_set("en")}
    # The country lines, where no area text took the key: in every language
    # the key names the region.
    english = sets["en"]
    lines = sorted((key, region) for key, region in package.country_keys()
                   if english.get(package.calling_code_of(key), {}).get(key) ==
                   clean(package.region_name(region, "en", True)))
    with open(os.path.join(staging, "country-lines.txt"), "w", encoding="utf-8") as out:
        out.write("".join("%s|%s\n" % line for line in lines))
    write_set(os.path.join(staging, "codes"), sets["en"])
    index = []
    for locale in package.locales:
        sets[locale] = package.area_set(locale)
    for locale in package.locales:
        base = base_of(locale)
        layer = overlay(sets[locale], sets[base] if base else {})
        write_joined(os.path.join(staging, "lang", locale + ".txt"), layer)
        index.append("%s|%s\n" % (locale, base))
    with open(os.path.join(staging, "lang", "index.txt"), "w", encoding="utf-8") as out:
        out.write("".join(index))
    english = package.carrier_set("en")
    write_joined(os.path.join(staging, "carriers", "en.txt"), english)
    for locale in package.locales:
        layer = overlay(package.carrier_set(locale), english)
        if layer:
            write_joined(os.path.join(staging, "carriers", locale + ".txt"), layer)
    return sets


def main():
    parser = argparse.ArgumentParser(
        description="Writes the bundled area-code data (codes/, lang/, carriers/) from "
        "third_party/libphonenumber. Run it with /usr/bin/python3 (Debian's interpreter, for "
        "which python3-phonenumbers, the source of the region names, is installed).",
        usage="/usr/bin/python3 tools/gen_area_codes.py [--out DIR] [--lang LANGUAGE]")
    parser.add_argument("--out", default=None,
                        help="output folder (default: the repository's data folder)")
    parser.add_argument("--resources", default=libphonenumber_data.DEFAULT_ROOT,
                        help="the copy of libphonenumber's data (default: "
                        "third_party/libphonenumber)")
    parser.add_argument("--lang", default=None,
                        help="write only the complete area set of this language, one file "
                        "per calling code, straight into --out")
    args = parser.parse_args()

    package = Package(args.resources)
    if args.lang is not None:
        known = ["en"] + package.locales
        if args.lang not in known:
            sys.stderr.write("gen_area_codes.py: unknown language %r; the data has %s\n" %
                             (args.lang, " ".join(known)))
            return 2
        if args.out is None:
            parser.error("--lang needs --out")
        files = package.area_set(args.lang)
        codes = set(package.area_set("en")) | set(files)
        staging = tempfile.mkdtemp(prefix=".gen-", dir=os.path.dirname(os.path.abspath(args.out)))
        try:
            write_set(os.path.join(staging, "set"), {c: files.get(c, {}) for c in codes})
            if os.path.isdir(args.out):
                shutil.rmtree(args.out)
            os.replace(os.path.join(staging, "set"), args.out)
        finally:
            shutil.rmtree(staging, ignore_errors=True)
        print("language %s: %d files in %s" % (args.lang, len(codes), args.out))
        return 0

    out_dir = os.path.abspath(args.out or os.path.join(REPO_ROOT, "data"))
    os.makedirs(out_dir, exist_ok=True)
    staging = tempfile.mkdtemp(prefix=".gen-", dir=out_dir)
    try:
        sets = write_bundle(package, staging)
        move_into_place(staging, out_dir, BUNDLE_FOLDERS)
    finally:
        shutil.rmtree(staging, ignore_errors=True)
    english = sets["en"]
    print("libphonenumber %s: %d English files, %d records (%d country keys); %d languages" %
          (package.version, len(english), sum(len(r) for r in english.values()),
           len(package.country_keys()), len(package.locales)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
