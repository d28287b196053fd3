#!/usr/bin/python3
"""Measures how often ZelvoraPro gives the description that libphonenumber's
own data gives, on valid fixed-line and mobile numbers of every region, and
(with --forms) for every way people and phones write them.

    /usr/bin/python3 tools/measure_area_agreement.py [--lang en --lang de ...]
    /usr/bin/python3 tools/measure_area_agreement.py --zelvora build/dev/bin/zelvora --forms

Numbers: for every region, the example fixed-line and mobile numbers of
python3-phonenumbers and up to --per-type numbers made from each by replacing
a random tail with random digits (a fixed seed, so every run takes the same
numbers), kept only when they are valid numbers of that region and type both
for the package and for the metadata of the project's copy of libphonenumber
(third_party/libphonenumber).

Reference: what libphonenumber's geocoder describes for the number, from the
project's copy: the area of the most specific geocoding prefix that has a
name in the language (or, but for zh, ja and ko, in English), else the
country when the number can belong to only one region of its calling code;
for a mobile number of a country without geographic mobile numbers, only the
country. The region names come from python3-phonenumbers, as in the data.

Ours, without --zelvora: the complete set of the language composed from the
data folder (codes/ with the overlays of lang/, as `zelvora data install`
composes it), matched with the lookup's rule: of all keys that begin the
number (the calling code counted but not compared) the longest wins, the first
of equal length, and for a repeated key its last line.

With --zelvora, the built tool answers, `zelvora lookup -` on a fresh device
whose region is the home region; for a language other than English it first
installs the language with `zelvora data install --language`. Without --forms
every number is written "+<calling code><number>" on a device in the United
States. With --forms every region is home in turn, on a device of its own,
and the numbers are written in each form:

  national       a number of the home region as its people write it
                 (libphonenumber's national format: "020 7946 0000")
  dots           the same with dots between the groups ("020.7946.0000")
  idd            a foreign number dialled with the home region's
                 international call prefix ("00 44 20 7946 0000" from DE)
  trunk-bracket  "+44 (0)20 7946 0000": a foreign number with its country's
                 trunk prefix in brackets
  call-list      as a phone's call list shows it: no-break spaces between
                 the groups, wrapped in the direction marks U+202A ... U+202C
  plus           "+44 20 7946 0000"

The share of agreement is printed per form (or per language), with
disagreements on request (--show).
"""

import argparse
import os
import random
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gen_area_codes as gen  # noqa: E402
import libphonenumber_data  # noqa: E402

REPO_DATA = os.path.join(gen.REPO_ROOT, "data")
FORMS = ("national", "dots", "idd", "trunk-bracket", "call-list", "plus")
# How many foreign numbers each home region writes in each foreign form.
FOREIGN_PER_HOME = 6


class Number:
    """A valid number of a region: its calling code and national significant
    digits, the package's parsed number for formatting, and its type."""

    def __init__(self, region, kind, parsed, pn):
        self.region = region
        self.kind = kind
        self.parsed = parsed
        self.code = str(parsed.country_code)
        self.national = pn.national_significant_number(parsed)


def make_numbers(per_type, resources):
    import phonenumbers as pn
    from phonenumbers import PhoneNumberType as T
    numbers = []
    for region in sorted(pn.SUPPORTED_REGIONS):
        territory = resources.territories.get(region)
        if territory is None:
            continue
        for kind, name in ((T.FIXED_LINE, "fixedLine"), (T.MOBILE, "mobile")):
            example = pn.example_number_for_type(region, kind)
            if example is None:
                continue
            wanted = (kind, T.FIXED_LINE_OR_MOBILE)
            national = pn.national_significant_number(example)
            seen = set()
            found = []
            rng = random.Random("%s-%s" % (region, name))
            candidates = [national]
            for _ in range(per_type * 20):
                tail = rng.randint(1, max(1, len(national) - 1))
                candidates.append(national[:len(national) - tail] + "".join(
                    rng.choice("0123456789") for _ in range(tail)))
            for candidate in candidates:
                if len(found) > per_type:
                    break
                if candidate in seen:
                    continue
                seen.add(candidate)
                try:
                    number = pn.parse("+%d%s" % (example.country_code, candidate))
                except pn.NumberParseException:
                    continue
                if (pn.number_type(number) in wanted and
                        pn.region_code_for_number(number) == region and
                        territory.number_type(candidate) in ("fixedLine", "mobile")):
                    found.append(Number(region, territory.number_type(candidate), number, pn))
            numbers += found
    return numbers


class Reference:
    """libphonenumber's description of a number, from the project's copy."""

    def __init__(self, package, locale):
        self.package = package
        self.resources = package.resources
        self.lang, self.script, self.region = gen.parse_locale(locale)
        self.english = self.lang not in gen.NO_ENGLISH_FALLBACK
        self.longest = max(len(p) for p in package.geodata)

    def country(self, number):
        regions = self.resources.regions_of_code.get(number.code, [])
        valid = [r for r in regions
                 if r in self.resources.territories and
                 self.resources.territories[r].is_valid(number.national)]
        if len(regions) != 1 and len(valid) != 1:
            return ""
        region = regions[0] if len(regions) == 1 else valid[0]
        return gen.clean(self.package.region_name(region, self.lang, self.english))

    def area(self, number):
        national = number.national
        token = libphonenumber_data.MOBILE_TOKENS.get(number.code, "")
        if token and national.startswith(token):
            national = national[len(token):]
        digits = number.code + national
        for length in range(min(len(digits), self.longest), 0, -1):
            texts = self.package.geodata.get(digits[:length])
            if texts is not None:
                text = gen.pick_text(texts, self.lang, self.script, self.region)
                if text:
                    return gen.clean(text)
        return ""

    def describe(self, number):
        geographical = (number.kind == "fixedLine" or
                        number.code in libphonenumber_data.GEO_MOBILE_CODES)
        if not geographical:
            return self.country(number)
        return self.area(number) or self.country(number)


def read_records(path):
    with open(path, encoding="utf-8") as f:
        return [tuple(line.split("|", 1)) for line in f.read().split("\n") if line]


def composed_set(data_dir, locale, codes):
    """{calling code: [(key, text)...] in file order}: the complete set of a language."""
    if locale == "en":
        return {code: read_records(os.path.join(data_dir, "codes", code + ".txt"))
                for code in codes}
    bases = dict(line.split("|") for line in
                 open(os.path.join(data_dir, "lang", "index.txt"), encoding="utf-8").read()
                 .split("\n") if line)
    base = bases[locale]
    files = composed_set(data_dir, base, codes) if base else {code: [] for code in codes}
    by_length = sorted(codes, key=len)
    for key, text in read_records(os.path.join(data_dir, "lang", locale + ".txt")):
        code = next(c for c in by_length if key.startswith(c))
        files[code].append((key, text))
    return files


def lookup_in(records, code, national):
    """The lookup's rule: longest matching key, first of equal length, last line of a key."""
    best = None
    best_key = None
    for key, text in records:
        prefix = key[len(code):]
        if len(key) < len(code) or not national.startswith(prefix):
            continue
        if best_key is None or len(key) > len(best_key):
            best, best_key = text, key
        elif len(key) == len(best_key) and key == best_key:
            best = text
    return best or ""


def ours_by_data(numbers, data_dir, locale):
    codes = [name[:-4] for name in os.listdir(os.path.join(data_dir, "codes"))
             if name.endswith(".txt")]
    files = composed_set(data_dir, locale, codes)
    index = {}
    for code, records in files.items():
        # Only the keys that can begin a number of the code matter; bucket
        # them by their first compared digit to keep the scan short.
        buckets = index.setdefault(code, {})
        for key, text in records:
            buckets.setdefault(key[len(code):len(code) + 1], []).append((key, text))
    answers = []
    for number in numbers:
        buckets = index.get(number.code, {})
        records = buckets.get("", []) + buckets.get(number.national[:1], [])
        answers.append(lookup_in(records, number.code, number.national))
    return answers


def ask_tool(zelvora, region, locale, lines):
    """The answers of `zelvora lookup -` to `lines` on a fresh device in `region`."""
    if not lines:
        return []
    with tempfile.TemporaryDirectory(prefix="zelvora-measure-") as root:
        base = [zelvora, "--root", root, "--region", region]
        if locale != "en":
            subprocess.run(base + ["data", "install", "--language", locale], check=True,
                           stdout=subprocess.DEVNULL)
        result = subprocess.run(base + ["lookup", "-"], input="\n".join(lines) + "\n",
                                capture_output=True, text=True, check=True)
    found = [line.split("\t", 1)[1] if "\t" in line else "" for line in
             result.stdout.split("\n")[:-1]]
    if len(found) != len(lines):
        raise SystemExit("measure: %d answers for %d numbers" % (len(found), len(lines)))
    return found


# --- The forms ---------------------------------------------------------------

def international_prefix(resources, region):
    """The international call prefix that the people of `region` write."""
    territory = resources.territories[region]
    preferred = territory.preferred_international_prefix.replace("~", "")
    if preferred:
        return preferred
    if re.fullmatch(r"\d+", territory.international_prefix):
        return territory.international_prefix
    return resources.international_prefixes(region)[0]


def written(form, number, home, resources, pn):
    """`number` as written in `form` by someone in `home`; None when the form
    does not apply to it."""
    fmt = pn.PhoneNumberFormat
    international = pn.format_number(number.parsed, fmt.INTERNATIONAL)
    if form == "national":
        return pn.format_number(number.parsed, fmt.NATIONAL)
    if form == "dots":
        national = pn.format_number(number.parsed, fmt.NATIONAL)
        dotted = re.sub(r"(?<=\d)[ -](?=\d)", ".", national)
        return dotted if dotted != national else None
    if form == "plus":
        return international
    if form == "call-list":
        return "\u202a" + international.replace(" ", "\u00a0") + "\u202c"
    if form == "idd":
        return international_prefix(resources, home) + " " + international[1:]
    if form == "trunk-bracket":
        trunk = resources.trunk_prefix(number.code)
        head = "+" + number.code + " "
        if not trunk or not international.startswith(head):
            return None
        return head + "(" + trunk + ")" + international[len(head):]
    raise ValueError(form)


def form_cases(numbers, resources, forms, homes):
    """[(home, form, number, text)]: for every home region, its own numbers in
    the national forms, and a fixed sample of foreign numbers in the others."""
    import phonenumbers as pn
    by_region = {}
    for number in numbers:
        by_region.setdefault(number.region, []).append(number)
    cases = []
    for home in homes:
        own = by_region.get(home, [])
        rng = random.Random("home-" + home)
        foreign = [n for n in numbers if n.code != resources.territories[home].calling_code]
        sample = rng.sample(foreign, min(FOREIGN_PER_HOME, len(foreign)))
        for form in forms:
            chosen = own if form in ("national", "dots") else sample
            for number in chosen:
                text = written(form, number, home, resources, pn)
                if text is not None:
                    cases.append((home, form, number, text))
    return cases


def measure_forms(args, package, numbers):
    resources = package.resources
    forms = args.form or list(FORMS)
    homes = [h for h in sorted(resources.territories)
             if not args.home or h in args.home]
    cases = form_cases(numbers, resources, forms, homes)
    locale = (args.lang or ["en"])[0]
    reference = Reference(package, locale)
    answers = []
    for home in homes:
        lines = [text for h, _, _, text in cases if h == home]
        answers += ask_tool(args.zelvora, home, locale, lines)
    totals = {form: [0, 0] for form in forms}
    misses = {form: [] for form in forms}
    for (home, form, number, text), answer in zip(cases, answers):
        expected = reference.describe(number)
        totals[form][1] += 1
        if answer == expected:
            totals[form][0] += 1
        else:
            misses[form].append((home, text, expected, answer))
    print("%d numbers of %d home regions, language %s" % (len(cases), len(homes), locale))
    below = []
    for form in forms:
        agree, total = totals[form]
        share = 100.0 * agree / total if total else 100.0
        print("%-14s agreement %6.2f%% (%d of %d)" % (form, share, agree, total))
        for home, text, expected, answer in misses[form][:args.show]:
            print("  home %s %r: libphonenumber %r, ours %r" % (home, text, expected, answer))
        if args.min is not None and share < args.min:
            below.append(form)
    return below


def measure_languages(args, package, numbers):
    below = []
    for locale in args.lang or ["en"]:
        reference = Reference(package, locale)
        if args.zelvora:
            lines = ["+" + n.code + n.national for n in numbers]
            ours = ask_tool(args.zelvora, "US", locale, lines)
        else:
            ours = ours_by_data(numbers, args.data, locale)
        agree = described = 0
        misses = []
        for number, answer in zip(numbers, ours):
            expected = reference.describe(number)
            described += bool(answer)
            if answer == expected:
                agree += 1
            else:
                misses.append((number, expected, answer))
        total = len(numbers)
        print("%-7s agreement %6.2f%% (%d of %d); a text for %6.2f%%" %
              (locale, 100.0 * agree / total, agree, total, 100.0 * described / total))
        if args.min is not None and 100.0 * agree < args.min * total:
            below.append(locale)
        for number, expected, answer in misses[:args.show]:
            print("  %s %-9s +%s %s: libphonenumber %r, ours %r" %
                  (number.region, number.kind, number.code, number.national, expected, answer))
    return below


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--lang", action="append", help="language (repeatable; default en)")
    parser.add_argument("--zelvora", help="the built zelvora tool to ask instead of the data")
    parser.add_argument("--forms", action="store_true",
                        help="with --zelvora: every region as home, every form of writing")
    parser.add_argument("--form", action="append", choices=FORMS,
                        help="with --forms: only this form (repeatable)")
    parser.add_argument("--home", action="append", help="with --forms: only this home region")
    parser.add_argument("--data", default=REPO_DATA, help="the data folder (default: data/)")
    parser.add_argument("--per-type", type=int, default=20)
    parser.add_argument("--show", type=int, default=0, help="disagreements to print")
    parser.add_argument("--min", type=float, default=None,
                        help="exit with status 1 when a language or form agrees less (percent)")
    args = parser.parse_args()

    try:
        import phonenumbers  # noqa: F401
    except ImportError:
        print("python3-phonenumbers is not installed: no numbers to measure with")
        return 77
    if args.forms and not args.zelvora:
        parser.error("--forms needs --zelvora")
    package = gen.Package()
    for locale in args.lang or []:
        if locale != "en" and locale not in package.locales:
            sys.stderr.write("measure: unknown language %s\n" % locale)
            return 2
    numbers = make_numbers(args.per_type, package.resources)
    regions = len({number.region for number in numbers})
    print("%d numbers (fixed line and mobile) of %d regions" % (len(numbers), regions))
    if args.forms:
        below = measure_forms(args, package, numbers)
    else:
        below = measure_languages(args, package, numbers)
    if below:
        print("below %.2f%%: %s" % (args.min, " ".join(below)))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
