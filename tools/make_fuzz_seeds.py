#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into tests/fuzz/seeds/<target>/.

The seeds are small on purpose: a few real numbers, a few lines of the bundled
area-code files, a few property lists in XML and binary form. Run again after
changing an input format; the files it writes are committed.
"""
import pathlib
import plistlib
import shutil

ROOT = pathlib.Path(__file__).resolve().parent.parent
SEEDS = ROOT / "tests" / "fuzz" / "seeds"


def lines(code, count, prefix=""):
    """The first `count` lines of the bundled file of `code` starting with `prefix`."""
    path = ROOT / "data" / "codes" / f"{code}.txt"
    found = [l for l in path.read_text(encoding="utf-8").splitlines() if l.startswith(prefix)]
    return "\n".join(found[:count]) + "\n"


def write(target, seeds):
    folder = SEEDS / target
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    for name, data in seeds.items():
        if isinstance(data, str):
            data = data.encode("utf-8")
        (folder / name).write_bytes(data)


# number_scan_fuzzer: "<home calling code>|<trunk prefix>|<home region>", the
# number, then the area-code file's text.
GB = lines(44, 12, "4420") + lines(44, 6, "44161")
write("number_scan_fuzzer", {
    "gb_international": "44|0|GB\n+44 20 7946 0000\n" + GB,
    "gb_national": "44|0|GB\n(020) 7946-0000\n" + GB,
    "gb_no_trunk": "44|0|GB\n7946 0000\n" + GB,
    "us": "44|0|GB\n+1 212 555 0100\n" + lines(1, 10, "1212") + lines(1, 5, "1201"),
    "us_home": "1|1|US\n1 (201) 200-1234\n" + lines(1, 10, "1201"),
    "ua_unlisted": "44|0|GB\n+380 44 123 4567\n" + GB,
    "cn": "86|0|CN\n010 6552 9988\n" + lines(86, 8),
    "ru": "7|8|RU\n8 (301) 222-33-44\n" + lines(7, 8),
    "de_idd": "49|0|DE\n0044 20 7946 0000\n" + GB,
    "au_idd": "61|0|AU\n1488 0011 44 20 7946 0000\n" + GB,
    "sc_idd": "248||SC\n010 44 161 496 0000\n" + GB,
    "bracketed_trunk": "49|0|DE\n+44 (0)20 7946 0000\n" + GB,
    "call_list": "44|0|GB\n\u202a+44\u00a020\u00a07946\u00a00000\u202c\n" + GB,
    "dots": "44|0|GB\n020.7946/0000 . 1\n" + GB,
    "by_national": "375|8|BY\n8 0152 45-09-11\n" + lines(375, 8),
    "crlf_and_unicode": "44|0|GB\n+44 161 496 0000\n44161|Manchester\r\n4416|North\u2028"
                        "4420|mid|London\u0085441|\n44161|Greater Manchester\r",
    "no_home": "\n020 7946 0000\n" + GB,
    "wrong_kind_trunk": "44|#|GB\n020 7946 0000\n" + GB,
    "not_utf8": b"44|0|GB\n+44 20 7946 0000\n4420|Lon\xc3(don\n",
})

# lookup_fuzzer: region, "countryCode", "trunkPrefixx", "recents" (see
# valueOf in lookup_fuzzer.cpp), the number, which files exist ("d" device,
# "r" application copy), then the device file, NUL, the application copy.
write("lookup_fuzzer", {
    "gb_prefs": "GB\n44\n0\ni:3\n+44 20 7946 0000\ndr\n" + GB + "\0" + lines(44, 5),
    "gb_region": "GB\n\n\n\n(020) 7946-0000\nd\n" + GB + "\0",
    "us": "US\n1\n1\n5\n+1 212 555 0100\nr\n\0" + lines(1, 10, "1212"),
    "fallback_not_utf8": b"GB\n44\n0\n\n020 7946 0000\ndr\n4420|\xff\n\0" + GB.encode(),
    "no_region": "\n\n\n~\n020 7946 0000\ndr\n" + GB + "\0" + GB,
    "wrong_kinds": "GB\ni:44\na:0\nr:2.5\n+44 161 496 0000\nd\n" + GB + "\0",
    "de_idd": "DE\n\n\n\n00 44 20 7946 0000\nd\n" + GB + "\0",
    "shared_code_home": "DE\n44\n\n\n00 1 212 555 0100\nr\n\0" + lines(1, 10, "1212"),
})


# prebuilt_index_fuzzer: the mode ("t" and the skipped units: a text to be
# indexed), numbers, changes to the made index (see the target), then the text.
write("prebuilt_index_fuzzer", {
    "cn": "t 2\n10 21 2087 13000001234\n\n" + lines(86, 12) + lines(86, 6, "86130"),
    "gb_changed": "t 2\n20 161 1614\n100:7 f\n" + GB,
    "gb_cut": "t 2\n20 161\nc600 f\n" + GB,
    "text_keys": "t 2\n2x \u00e4 123456789012345678\n\n"
                 "442x|Text\n44\u00e4|Umlaut\n44123456789012345678|Long\n44|Anywhere\n",
})

# plist_fuzzer: preference and filter files as the store and the hosts read
# them, in XML and binary form, and a few nested deeper than a real file.
def plist(value, fmt):
    return plistlib.dumps(value, fmt=fmt, sort_keys=True)


def nested(levels):
    value = "deep"
    for level in range(levels):
        value = [value] if level % 2 else {"k": value}
    return {"root": value}


PREFS = {"countryCode": "44", "trunkPrefixx": "0", "recents": 5}
FILTER = {"Filter": {"Bundles": ["com.apple.springboard", "com.apple.mobilephone"]}}
MIXED = {"text": "Zürich \u2028 東京", "int": -(2**40), "big": 2**63 - 1, "real": 1.5,
         "flag": True, "data": b"\x00\x01\xfe", "list": [1, "two", {"three": 3.0}],
         "empty": {}}
seeds = {}
for fmt, tag in ((plistlib.FMT_XML, "xml"), (plistlib.FMT_BINARY, "bin")):
    for name, value in (("prefs", PREFS), ("filter", FILTER), ("mixed", MIXED),
                        ("nested8", nested(8)), ("nested40", nested(40))):
        seeds[f"{name}.{tag}"] = plist(value, fmt)
seeds["array_root.xml"] = plist(["not", "a", "dictionary"], plistlib.FMT_XML)
# A key in UTF-16 holding U+0000: libplist 2.2 reads it, then aborts on an
# assertion when the key is asked for. Kept so that it is always tried.
seeds["utf16_nul_key.bin"] = plist({"\u00e9\x00b": 1}, plistlib.FMT_BINARY)
write("plist_fuzzer", seeds)

for folder in sorted(SEEDS.iterdir()):
    print(folder.name, len(list(folder.iterdir())), "seeds,",
          sum(f.stat().st_size for f in folder.iterdir()), "bytes")
