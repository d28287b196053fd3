// Making prebuilt index files (lookup/area_index_file.h) of area-code files.
// Used by the build's index program and by `zelvora data install`; the
// loadable library never links it, as it writes nothing.
//
// An index is made from the bytes of the text as they are read, never from
// what a caller meant to write, and stamped with the text's version only when
// the same version was seen before and after the reading and its times were
// settled at the moment taken before: a text whose times are too recent is
// waited for (a tick's worth on most file systems, two seconds where file
// times are whole seconds), so that a later change cannot leave them as they
// were. Waiting and the clock go through AreaIndexClock, which tests set.
//
// Functions return an error text ("" on success) and raise nothing but
// std::bad_alloc.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "lookup/area_index.h"
#include "lookup/area_index_file.h"

// The bytes of an index file, in 8-byte words (the file's length is a whole
// number of them).
using AreaIndexBytes = std::vector<uint64_t>;

// Lays out `index` as an index file stamped with `stamp`.
AreaIndexBytes encodeAreaIndex(const AreaIndex& index, const AreaIndexStamp& stamp);

struct AreaIndexClock {
  std::function<int64_t()> now;             // the file clock, in ns
  std::function<void(int64_t)> sleepForNs;  // waits about that long
};
// host::fileClockNow and a real sleep.
AreaIndexClock systemAreaIndexClock();

// The longest a text's times are waited for to settle.
inline constexpr int64_t kSettleWaitLimitNs = int64_t{3} * 1000 * 1000 * 1000;

// Reads the text at `textPath` (keys skipping `skippedUnits` UTF-16 units)
// and makes its index into `bytes`, waiting first for its times to settle.
// Fails for a text that is missing, not a regular file, over
// kIndexedFileSizeLimit, not valid UTF-8, whose times do not settle within
// kSettleWaitLimitNs, or that keeps changing while read.
std::string makeAreaIndex(const std::string& textPath, size_t skippedUnits,
                          const AreaIndexClock& clock, AreaIndexBytes& bytes);

// Makes the index of the text at `textPath`, whose file name is its calling
// code followed by ".txt", and writes it to areaIndexPathOf(textPath) through
// a temporary file in the same folder, ".<name>.<pid>.tmp", renamed over it.
std::string writeAreaIndexBeside(const std::string& textPath,
                                 const AreaIndexClock& clock = systemAreaIndexClock());

// Removes the index beside the text at `textPath`; no index there is no
// error.
std::string removeAreaIndexBeside(const std::string& textPath);

// Whether the index beside the text at `textPath` is one a lookup would use
// for the text as it is now, every block of it sound.
bool areaIndexBesideIsCurrent(const std::string& textPath);
