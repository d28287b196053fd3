#include "host/foundation/plist_codec.h"

#include "host/foundation/plist_depth.h"

#include <plist/plist.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>

namespace host::plist {
namespace {

struct NodeFree {
  void operator()(plist_t node) const {
    if (node) plist_free(node);
  }
};
using Node = std::unique_ptr<void, NodeFree>;

struct MallocFree {
  void operator()(void* p) const { std::free(p); }
};
template <class T>
using Malloced = std::unique_ptr<T, MallocFree>;

bool hasNul(std::string_view text) {
  return text.find('\0') != std::string_view::npos;
}

// libplist 2.2 keeps a date as seconds since 2001 that must fit in 32 bits,
// plus microseconds.
Node dateNode(double seconds) {
  if (std::isnan(seconds)) return nullptr;
  constexpr double lowest = std::numeric_limits<int32_t>::min();
  constexpr double highest = std::numeric_limits<int32_t>::max();
  if (seconds < lowest) seconds = lowest;
  if (seconds > highest) seconds = highest;
  double whole = std::trunc(seconds);
  auto micro = static_cast<int32_t>(std::lround((seconds - whole) * 1e6));
  auto sec = static_cast<int32_t>(whole);
  if (micro >= 1000000 && sec < std::numeric_limits<int32_t>::max()) {
    ++sec;
    micro -= 1000000;
  } else if (micro <= -1000000 && sec > std::numeric_limits<int32_t>::min()) {
    --sec;
    micro += 1000000;
  }
  if (micro >= 1000000) micro = 999999;
  if (micro <= -1000000) micro = -999999;
  return Node(plist_new_date(sec, micro));
}

// The libplist node for `value`, or none when a file cannot hold it. `depth`
// is the level a container would have (the root dictionary is level 1).
Node toNode(const id& value, int depth) {
  if (!value) return nullptr;
  if (auto* text = objectAs<NSString>(value)) {
    return Node(plist_new_string(toUtf8(text->units()).c_str()));
  }
  if (auto* number = objectAs<NSNumber>(value)) {
    switch (number->kind()) {
      case NSNumber::Kind::integer:
        // One unsigned type in libplist 2.2: store the bits. The XML writer
        // prints a plain 64-bit integer as signed, so negative values read back.
        return Node(plist_new_uint(static_cast<uint64_t>(number->integerValue())));
      case NSNumber::Kind::real:
        return Node(plist_new_real(number->realValue()));
      case NSNumber::Kind::boolean:
        return Node(plist_new_bool(number->boolValue() ? 1 : 0));
    }
    return nullptr;
  }
  if (auto* array = objectAs<NSArray>(value)) {
    if (depth > kMaxDepth) return nullptr;
    Node node(plist_new_array());
    for (const id& item : array->items()) {
      if (Node child = toNode(item, depth + 1))
        plist_array_append_item(node.get(), child.release());
    }
    return node;
  }
  if (auto* dictionary = objectAs<NSDictionary>(value)) {
    if (depth > kMaxDepth) return nullptr;
    Node node(plist_new_dict());
    for (const auto& [key, item] : dictionary->entries()) {
      if (hasNul(key)) continue;
      if (Node child = toNode(item, depth + 1)) {
        plist_dict_set_item(node.get(), key.c_str(), child.release());
      }
    }
    return node;
  }
  if (auto* data = objectAs<NSData>(value)) {
    const auto& bytes = data->bytes();
    return Node(plist_new_data(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  }
  if (auto* date = objectAs<NSDate>(value)) {
    return dateNode(date->secondsSinceReferenceDate());
  }
  return nullptr;  // the null marker and runtime objects
}

Node rootNode(const NSDictionary::Entries& entries) {
  Node root(plist_new_dict());
  for (const auto& [key, value] : entries) {
    if (hasNul(key)) continue;
    if (Node child = toNode(value, 2))
      plist_dict_set_item(root.get(), key.c_str(), child.release());
  }
  return root;
}

std::string toXml(plist_t root) {
  char* raw = nullptr;
  uint32_t length = 0;
  plist_to_xml(root, &raw, &length);
  Malloced<char> xml(raw);
  if (!xml) return {};
  return std::string(xml.get(), length);
}

// The value of a node, or nil when it is of a kind left out. `ok` turns false
// when the nesting is too deep to read. `depth` as for toNode.
id fromNode(plist_t node, int depth, bool& ok) {
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      uint8_t flag = 0;
      plist_get_bool_val(node, &flag);
      return NSNumber::boolean(flag != 0);
    }
    case PLIST_UINT: {
      uint64_t bits = 0;
      plist_get_uint_val(node, &bits);
      return NSNumber::integer(static_cast<int64_t>(bits));
    }
    case PLIST_REAL: {
      double number = 0;
      plist_get_real_val(node, &number);
      return NSNumber::real(number);
    }
    case PLIST_STRING: {
      uint64_t length = 0;
      const char* text = plist_get_string_ptr(node, &length);
      return NSString::fromUtf8(text ? std::string_view(text, length) : std::string_view());
    }
    case PLIST_DATA: {
      uint64_t length = 0;
      const char* bytes = plist_get_data_ptr(node, &length);
      if (!bytes) length = 0;
      auto* begin = reinterpret_cast<const uint8_t*>(bytes);
      return NSData::make(std::vector<uint8_t>(begin, begin + length));
    }
    case PLIST_DATE: {
      int32_t sec = 0;
      int32_t micro = 0;
      plist_get_date_val(node, &sec, &micro);
      return NSDate::make(double(sec) + double(micro) / 1e6);
    }
    case PLIST_ARRAY: {
      if (depth > kMaxDepth) {
        ok = false;
        return nil;
      }
      uint32_t size = plist_array_get_size(node);
      std::vector<id> items;
      items.reserve(size);
      for (uint32_t i = 0; i < size && ok; ++i) {
        if (id item = fromNode(plist_array_get_item(node, i), depth + 1, ok)) {
          items.push_back(std::move(item));
        }
      }
      return ok ? NSArray::make(std::move(items)) : nil;
    }
    case PLIST_DICT: {
      if (depth > kMaxDepth) {
        ok = false;
        return nil;
      }
      NSDictionary::Entries entries;
      plist_dict_iter iter = nullptr;
      plist_dict_new_iter(node, &iter);
      Malloced<void> iterOwner(iter);
      while (iter && ok) {
        char* rawKey = nullptr;
        plist_t child = nullptr;
        plist_dict_next_item(node, iter, &rawKey, &child);
        Malloced<char> key(rawKey);
        if (!child) break;
        if (!key) continue;
        if (id item = fromNode(child, depth + 1, ok)) entries[key.get()] = std::move(item);
      }
      return ok ? NSDictionary::make(std::move(entries)) : nil;
    }
    default:
      return nil;  // UIDs, and nothing else a file holds
  }
}

// libplist's tree of `bytes`, which must be within the limits.
Node parse(std::string_view bytes) {
  if (bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max()) return nullptr;
  plist_t root = nullptr;
  plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
  return Node(root);
}

}  // namespace

std::string encodeXml(const NSDictionary::Entries& entries) {
  Node root = rootNode(entries);
  return toXml(root.get());
}

std::optional<NSDictionary::Entries> decode(std::string_view bytes, DecodeProblem* problem) {
  DecodeProblem unused;
  DecodeProblem& why = problem ? *problem : unused;
  why = DecodeProblem::none;
  if (bytes.size() > kMaxBytes) {
    why = DecodeProblem::tooLarge;
    return std::nullopt;
  }
  switch (checkNesting(bytes, kMaxDepth, kMaxValues)) {
    case Nesting::fits:
      break;
    case Nesting::tooDeep:
      why = DecodeProblem::tooDeep;
      return std::nullopt;
    case Nesting::tooManyValues:
      why = DecodeProblem::tooLarge;
      return std::nullopt;
    case Nesting::malformed:
      why = DecodeProblem::notPropertyList;
      return std::nullopt;
  }
  Node root = parse(bytes);
  if (!root) {
    why = DecodeProblem::notPropertyList;
    return std::nullopt;
  }
  if (plist_get_node_type(root.get()) != PLIST_DICT) {
    why = DecodeProblem::notDictionary;
    return std::nullopt;
  }
  bool ok = true;
  id dictionary = fromNode(root.get(), 1, ok);
  auto* entries = objectAs<NSDictionary>(dictionary);
  if (!ok) why = DecodeProblem::tooDeep;
  if (!ok || !entries) {
    if (why == DecodeProblem::none) why = DecodeProblem::notPropertyList;
    return std::nullopt;
  }
  return entries->entries();
}

id storedForm(const id& value) {
  // The surest answer is the file's own: write the value as a file would hold
  // it, and read it back.
  std::string xml = encodeXml(NSDictionary::Entries{{"v", value}});
  auto entries = decode(xml);
  if (!entries) return nil;
  auto found = entries->find("v");
  return found == entries->end() ? nil : found->second;
}

}  // namespace host::plist
