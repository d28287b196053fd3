"""Reads the project's copy of libphonenumber's data (third_party/libphonenumber):
the metadata XML, the geocoding texts and the carrier names, as plain Python
values. Nothing here depends on an installed phonenumbers package.

    data = Resources()               # the project's copy
    data = Resources("/some/resources/parent")
    data.territories["GB"].national_prefix      # "0"
    data.regions_of_code["44"]                  # ["GB", "GG", "IM", "JE"]
    data.geodata["44113"]                       # {"en": "Leeds", ...}

Patterns of the metadata are written over several lines with blanks for
reading; they are kept here with every blank removed, as libphonenumber's own
build does.
"""

import os
import re
import xml.etree.ElementTree as ElementTree

import phone_regions

REPO_ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_ROOT = os.path.join(REPO_ROOT, "third_party", "libphonenumber")

# The number types whose patterns decide whether a number is valid.
NUMBER_TYPES = ("fixedLine", "mobile", "tollFree", "premiumRate", "sharedCost",
                "personalNumber", "voip", "pager", "uan", "voicemail")

# Mobile numbers of these calling codes carry a token in front of the area code
# that the geocoder drops before it looks the area up. This mapping lives in
# libphonenumber's code, not in its data files.
MOBILE_TOKENS = {"54": "9"}

# The calling codes whose mobile numbers are geographical: the geocoder names
# the area of a mobile number of these, and only the country of any other.
# This too lives in libphonenumber's code.
GEO_MOBILE_CODES = frozenset(("52", "54", "55", "62", "86"))

# The pseudo-region of calling codes that belong to no region (+800, +882, ...).
NON_GEOGRAPHIC = "001"


class Territory:
    """One <territory> of the metadata."""

    def __init__(self, element):
        self.id = element.get("id")
        self.calling_code = element.get("countryCode")
        self.national_prefix = element.get("nationalPrefix") or ""
        self.international_prefix = _compact(element.get("internationalPrefix") or "")
        self.preferred_international_prefix = element.get("preferredInternationalPrefix") or ""
        self.main_for_code = element.get("mainCountryForCode") == "true"
        self.national_prefix_for_parsing = _compact(element.get("nationalPrefixForParsing") or "")
        self.national_prefix_transform_rule = element.get("nationalPrefixTransformRule") or ""
        # {type: (pattern, [possible national lengths])}
        self.types = {}
        self.examples = {}
        for name in NUMBER_TYPES:
            desc = element.find(name)
            if desc is None:
                continue
            pattern = desc.findtext("nationalNumberPattern")
            if not pattern:
                continue
            self.types[name] = (_compact(pattern), _lengths(desc))
            example = desc.findtext("exampleNumber")
            if example:
                self.examples[name] = example.strip()
        general = element.find("generalDesc")
        self.general_pattern = _compact(general.findtext("nationalNumberPattern") or "")

    def number_type(self, national):
        """The first number type whose pattern and lengths take `national`, or None."""
        if not re.fullmatch(self.general_pattern, national):
            return None
        for name, (pattern, lengths) in self.types.items():
            if (not lengths or len(national) in lengths) and re.fullmatch(pattern, national):
                return name
        return None

    def is_valid(self, national):
        return self.number_type(national) is not None


def _compact(pattern):
    return re.sub(r"\s+", "", pattern)


def _lengths(desc):
    """The national lengths of <possibleLengths national="8,[10-12]">, or []."""
    element = desc.find("possibleLengths")
    if element is None or not element.get("national"):
        return []
    lengths = []
    for part in element.get("national").split(","):
        match = re.fullmatch(r"\[(\d+)-(\d+)\]", part)
        if match:
            lengths += range(int(match.group(1)), int(match.group(2)) + 1)
        else:
            lengths.append(int(part))
    return lengths


def read_prefix_file(path):
    """{prefix: text} of one geocoding or carrier file ("prefix|text" lines;
    "#" comments and blank lines skipped)."""
    records = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            prefix, _, text = line.partition("|")
            records[prefix] = text
    return records


def read_prefix_folder(folder):
    """{prefix: {language: text}} of a folder of <language>/<code>.txt files."""
    merged = {}
    for language in sorted(os.listdir(folder)):
        path = os.path.join(folder, language)
        if not os.path.isdir(path):
            continue
        for name in sorted(os.listdir(path)):
            if not name.endswith(".txt"):
                continue
            for prefix, text in read_prefix_file(os.path.join(path, name)).items():
                merged.setdefault(prefix, {})[language] = text
    return merged


def expand_prefixes(pattern):
    """Every digit string the pattern matches, sorted; the pattern must match
    a finite set (as every international call prefix does)."""
    return sorted(phone_regions.Automaton([pattern]).strings())


class Resources:
    """The data files of one libphonenumber release."""

    def __init__(self, root=DEFAULT_ROOT):
        self.root = root
        resources = os.path.join(root, "resources")
        self.version = read_version(root)
        metadata = ElementTree.parse(os.path.join(resources, "PhoneNumberMetadata.xml"))
        self.territories = {}
        self.non_geographic_codes = []
        for element in metadata.getroot().find("territories"):
            if element.get("id") == NON_GEOGRAPHIC:
                self.non_geographic_codes.append(element.get("countryCode"))
                continue
            territory = Territory(element)
            self.territories[territory.id] = territory
        # {calling code: [regions]}, the main region first, then the others in
        # the metadata's order, as libphonenumber lists them.
        self.regions_of_code = {}
        for territory in self.territories.values():
            regions = self.regions_of_code.setdefault(territory.calling_code, [])
            if territory.main_for_code:
                regions.insert(0, territory.id)
            else:
                regions.append(territory.id)
        for code in self.non_geographic_codes:
            self.regions_of_code.setdefault(code, [NON_GEOGRAPHIC])
        self.geodata = read_prefix_folder(os.path.join(resources, "geocoding"))
        self.carriers = read_prefix_folder(os.path.join(resources, "carrier"))
        self.locales = sorted(name for name in os.listdir(os.path.join(resources, "geocoding"))
                              if os.path.isdir(os.path.join(resources, "geocoding", name)))

    def main_region(self, code):
        regions = self.regions_of_code.get(code, [])
        return regions[0] if regions and regions[0] != NON_GEOGRAPHIC else None

    def trunk_prefix(self, code):
        """The trunk prefix of a calling code: its main region's national prefix."""
        region = self.main_region(code)
        return self.territories[region].national_prefix if region else ""

    def national_prefixes(self, code):
        """Every national prefix that numbers of a calling code may begin with
        when written within the country, longest first: the trunk prefix and the
        other forms libphonenumber accepts in its place ("8", "80" and "0" in
        Belarus). Only forms that it simply drops are taken: a parsing rule
        that keeps or rewrites part of what it matches (a carrier code, an area
        code put in front) gives the trunk prefix alone, as does a code whose
        main region has no trunk prefix."""
        region = self.main_region(code)
        if not region:
            return []
        territory = self.territories[region]
        trunk = territory.national_prefix
        if not trunk:
            return []
        pattern = territory.national_prefix_for_parsing
        if not pattern or territory.national_prefix_transform_rule or "(" in pattern.replace(
                "(?:", ""):
            return [trunk]
        prefixes = set(expand_prefixes(pattern)) | {trunk}
        return sorted(prefixes, key=lambda p: (-len(p), p))

    def international_prefixes(self, region):
        """The digit strings that begin an international call from `region`."""
        return expand_prefixes(self.territories[region].international_prefix)

    def patterns_of(self, region):
        """The national number patterns of every type of `region`."""
        return [pattern for pattern, _ in self.territories[region].types.values()]


def read_version(root):
    """{"release": ..., "commit": ..., "date": ...} of root/VERSION."""
    version = {}
    with open(os.path.join(root, "VERSION"), encoding="utf-8") as f:
        for line in f:
            key, _, value = line.strip().partition("=")
            if key:
                version[key] = value
    return version
