// The complete area-code set of a language, composed from the bundled data
// folder (the one holding "codes/"; see data/README.md):
//
//   calling-codes.txt  every calling code, one a line (prefix-free: a key
//                      belongs to the one code that begins it);
//   codes/<cc>.txt     the English set, one file per calling code;
//   lang/index.txt     "<language>|<base>" lines: the set a language's overlay
//                      is laid over ("en", another language, or empty for none);
//   lang/<lang>.txt    the overlay, the records of every calling code in one
//                      file;
//   carriers/en.txt    English carrier names of mobile prefixes;
//   carriers/<lang>.txt  the carrier names in that language that differ.
//
// Records are "key|text" lines; a key begins with its calling code. A record
// later in the composition replaces an earlier one with the same key, as the
// lookup treats a repeated key. Everything is read when called; nothing is
// kept. Nothing here throws on bad data: problems come back as an error text.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace zelvora {

// key -> text, sorted by key.
using AreaRecords = std::map<std::string, std::string>;
// calling code -> its records; every calling code of the bundle is present,
// with no records when the language has none for it.
using AreaSet = std::map<std::string, AreaRecords>;

struct AreaSetResult {
  AreaSet set;
  std::string error;  // set when the bundle cannot be read or is damaged
};

// The languages the bundle can install: "en" first, then those of
// lang/index.txt in its order. Empty when the bundle has no codes/ folder.
std::vector<std::string> bundledLanguages(const std::string& dataDir);

// The complete set of `language`. With `carriers`, every key of the union of
// area keys and carrier keys gets the text of its longest area prefix followed
// by " (" carrier ")", the carrier of its longest carrier prefix, named in the
// language where the bundle has it and else in English (a key with only one of
// the two gets that one alone). The caller checks the language first: an
// unknown one is reported as an error here.
AreaSetResult composeAreaSet(const std::string& dataDir, const std::string& language,
                             bool carriers);

// The file text of one calling code: "key|text\n" per record, in key order.
std::string formatRecords(const AreaRecords& records);

}  // namespace zelvora
