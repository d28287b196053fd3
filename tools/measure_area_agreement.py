#!/usr/bin/python3
"""Measures how often the bundled area data gives the description that
libphonenumber gives, on valid fixed-line and mobile numbers of every region.

    /usr/bin/python3 tools/measure_area_agreement.py [--lang en --lang de ...]
        [--zelvora build/dev/bin/zelvora] [--per-type 20] [--show 10]

Numbers: for every region of the metadata, the example fixed-line and mobile
numbers and up to --per-type numbers made from each by replacing a random
tail with random digits (a fixed seed, so every run takes the same numbers),
kept only when they are valid numbers of that region and type.

Reference: what python3-phonenumbers' geocoder describes for the number in the
language, with its one known flaw removed: the area of the most specific data
prefix that has a name in the language (or, but for zh, ja and ko, in
English), else the country when the number is valid for only one region of
its calling code; for a mobile number of a country without geographic mobile
numbers, only the country. The flawed raw description
(phonenumbers.geocoder.description_for_number) is counted too.

Ours: without --zelvora, the complete set of the language composed from the
data folder (codes/ with the overlays of lang/, as `zelvora data install`
composes it), matched with the lookup's rule: of all keys that begin the
number (the calling code counted but not compared) the longest wins, the first
of equal length, and for a repeated key its last line. With --zelvora, the
built tool answers: for a language other than English it first installs the
language into a temporary device with `zelvora data install --language`, then
runs `zelvora lookup -` on every number written as +<calling code><number>
with the home calling code of the United States. The lookup recognises only
the calling codes of its own tables after a "+", so with --home-own each
number is instead written in national form, without trunk prefix, on a device
whose home calling code is the number's own and whose trunk prefix is empty:
that measures the data through the lookup for every calling code.
"""

import argparse
import os
import random
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gen_area_codes as gen  # noqa: E402

REPO_DATA = os.path.join(gen.REPO_ROOT, "data")


def make_numbers(per_type):
    import phonenumbers as pn
    from phonenumbers import PhoneNumberType as T
    numbers = []
    for region in sorted(pn.SUPPORTED_REGIONS):
        for kind, name in ((T.FIXED_LINE, "fixed"), (T.MOBILE, "mobile")):
            example = pn.example_number_for_type(region, kind)
            if example is None:
                continue
            wanted = (kind, T.FIXED_LINE_OR_MOBILE)
            national = pn.national_significant_number(example)
            seen = {national}
            found = [example]
            rng = random.Random("%s-%s" % (region, name))
            for _ in range(per_type * 20):
                if len(found) > per_type:
                    break
                tail = rng.randint(1, max(1, len(national) - 1))
                candidate = national[:len(national) - tail] + "".join(
                    rng.choice("0123456789") for _ in range(tail))
                if candidate in seen:
                    continue
                seen.add(candidate)
                try:
                    number = pn.parse("+%d%s" % (example.country_code, candidate))
                except pn.NumberParseException:
                    continue
                if (pn.number_type(number) in wanted and
                        pn.region_code_for_number(number) == region):
                    found.append(number)
            numbers += [(region, name, number) for number in found]
    return numbers


class Reference:
    def __init__(self, package, locale):
        import phonenumbers as pn
        from phonenumbers import geocoder
        self.pn = pn
        self.geocoder = geocoder
        self.package = package
        self.locale = locale
        self.lang, self.script, self.region = gen.parse_locale(locale)
        self.english = self.lang not in gen.NO_ENGLISH_FALLBACK
        self.longest = max(len(p) for p in package.geodata)

    def country(self, number):
        pn = self.pn
        regions = pn.region_codes_for_country_code(number.country_code)
        valid = [r for r in regions if pn.is_valid_number_for_region(number, r)]
        if len(regions) != 1 and len(valid) != 1:
            return ""
        region = regions[0] if len(regions) == 1 else valid[0]
        return gen.clean(self.package.region_name(region, self.lang, self.english))

    def area(self, number):
        pn = self.pn
        national = pn.national_significant_number(number)
        token = pn.country_mobile_token(number.country_code)
        if token and national.startswith(token):
            national = national[len(token):]
        digits = str(number.country_code) + national
        for length in range(min(len(digits), self.longest), 0, -1):
            texts = self.package.geodata.get(digits[:length])
            if texts is not None:
                text = gen.pick_text(texts, self.lang, self.script, self.region)
                if text:
                    return gen.clean(text)
        return ""

    def describe(self, number):
        kind = self.pn.number_type(number)
        if not self.pn.is_number_type_geographical(kind, number.country_code):
            return self.country(number)
        return self.area(number) or self.country(number)

    def raw(self, number):
        return gen.clean(self.geocoder.description_for_number(number, self.lang, self.script,
                                                              self.region))


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
    pn = __import__("phonenumbers")
    codes = [name[:-4] for name in os.listdir(os.path.join(data_dir, "codes"))
             if name.endswith(".txt")]
    files = composed_set(data_dir, locale, codes)
    index = {}
    for code, records in files.items():
        # Only the keys that can begin a number of the code matter; bucket
        # them by their first compared digit to keep the scan short.
        buckets = index.setdefault(code, {})
        for position, (key, text) in enumerate(records):
            buckets.setdefault(key[len(code):len(code) + 1], []).append((key, text))
    answers = []
    for _, _, number in numbers:
        code = str(number.country_code)
        national = pn.national_significant_number(number)
        buckets = index.get(code, {})
        records = buckets.get("", []) + buckets.get(national[:1], [])
        answers.append(lookup_in(records, code, national))
    return answers


def ours_by_tool(numbers, zelvora, locale, home_own):
    pn = __import__("phonenumbers")
    answers = {}
    with tempfile.TemporaryDirectory(prefix="zelvora-measure-") as root:
        base = [zelvora, "--root", root, "--region", "US"]
        if locale != "en":
            subprocess.run(base + ["data", "install", "--language", locale], check=True,
                           stdout=subprocess.DEVNULL)
        groups = {}
        for position, (_, _, number) in enumerate(numbers):
            home = str(number.country_code) if home_own else ""
            groups.setdefault(home, []).append(position)
        for home, positions in sorted(groups.items()):
            if home:
                for key, value in (("countryCode", home), ("trunkPrefixx", "")):
                    subprocess.run(base + ["settings", "set", key, value], check=True)
            lines = [("" if home else "+%d" % numbers[i][2].country_code) +
                     pn.national_significant_number(numbers[i][2]) for i in positions]
            result = subprocess.run(base + ["lookup", "-"], input="\n".join(lines) + "\n",
                                    capture_output=True, text=True, check=True)
            found = [line.split("\t", 1)[1] for line in result.stdout.split("\n") if line]
            if len(found) != len(positions):
                raise SystemExit("measure: %d answers for %d numbers" %
                                 (len(found), len(positions)))
            answers.update(zip(positions, found))
    return [answers[i] for i in range(len(numbers))]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--lang", action="append", help="language (repeatable; default en)")
    parser.add_argument("--zelvora", help="the built zelvora tool to ask instead of the data")
    parser.add_argument("--home-own", action="store_true",
                        help="with --zelvora: the home calling code is each number's own, "
                        "as for a user in that country (default: the United States')")
    parser.add_argument("--data", default=REPO_DATA, help="the data folder (default: data/)")
    parser.add_argument("--per-type", type=int, default=20)
    parser.add_argument("--show", type=int, default=0, help="disagreements to print")
    parser.add_argument("--min", type=float, default=None,
                        help="exit with status 1 when a language agrees less (percent)")
    args = parser.parse_args()

    try:
        import phonenumbers  # noqa: F401
    except ImportError:
        print("python3-phonenumbers is not installed: nothing to measure against")
        return 77
    below = []
    package = gen.Package()
    numbers = make_numbers(args.per_type)
    regions = len({region for region, _, _ in numbers})
    print("%d numbers (fixed line and mobile) of %d regions" % (len(numbers), regions))
    for locale in args.lang or ["en"]:
        if locale != "en" and locale not in package.locales:
            sys.stderr.write("measure: unknown language %s\n" % locale)
            return 2
        reference = Reference(package, locale)
        if args.zelvora:
            ours = ours_by_tool(numbers, args.zelvora, locale, args.home_own)
        else:
            ours = ours_by_data(numbers, args.data, locale)
        agree = raw_agree = described = 0
        misses = []
        for (region, kind, number), answer in zip(numbers, ours):
            expected = reference.describe(number)
            described += bool(answer)
            raw_agree += answer == reference.raw(number)
            if answer == expected:
                agree += 1
            else:
                misses.append((region, kind, number, expected, answer))
        total = len(numbers)
        print("%-7s agreement %6.2f%% (%d of %d); with the raw geocoder %6.2f%%; "
              "a text for %6.2f%%" % (locale, 100.0 * agree / total, agree, total,
                                      100.0 * raw_agree / total, 100.0 * described / total))
        if args.min is not None and 100.0 * agree < args.min * total:
            below.append(locale)
        for region, kind, number, expected, answer in misses[:args.show]:
            print("  %s %-6s +%d %s: libphonenumber %r, ours %r" %
                  (region, kind, number.country_code,
                   reference.pn.national_significant_number(number), expected, answer))
    if below:
        print("below %.2f%%: %s" % (args.min, " ".join(below)))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
