// Measuring how deeply a property-list file nests, before any parser sees it.
//
// libplist builds and frees its trees by recursion, so a file nested a few
// hundred thousand levels deep exhausts the stack of whatever process reads
// it. checkNesting() walks the raw bytes without recursion and answers whether
// the arrays and dictionaries of the file stay within `maxDepth` levels (the
// root container is level 1).
//
// XML: the walk follows the way libplist's reader takes the text apart (tags,
// quoted attribute values, comments, CDATA, processing instructions, the
// document type), so that a closing tag is counted only where libplist would
// close a container too. Wherever the walk cannot follow the text, it counts
// every "<dict" and "<array" in the rest as one more level: the answer errs
// only towards refusing.
//
// Binary: the objects form a graph in which one object may be referred to
// from many places. The walk finds the longest chain of containers from the
// top object, refuses a cycle as infinitely deep, and also counts the values a
// parser that copies every reference would build, refusing more than
// `maxValues` of them (a small file could otherwise expand to billions). A
// binary file whose trailer, offsets or references point outside the file is
// malformed: no parser should be handed it.
//
// Nothing here raises but std::bad_alloc; memory used is proportional to the
// size of the input.
#pragma once

#include <cstddef>
#include <string_view>

namespace host::plist {

enum class Nesting {
  fits,           // within the limits (the bytes may still not be a property list)
  tooDeep,        // nested deeper than maxDepth, or a binary cycle
  tooManyValues,  // a binary file whose references expand to over maxValues values
  malformed,      // a binary file whose offsets or references lead outside it, or
                  // that holds a UTF-16 string with U+0000 (which libplist cannot read)
};

Nesting checkNesting(std::string_view bytes, int maxDepth, size_t maxValues);

}  // namespace host::plist
