// The platform's value kinds: NSString, NSNumber, NSNull, NSArray,
// NSDictionary, NSData and NSDate.
//
// All values are immutable once made and are shared through `id`. Texts are
// sequences of UTF-16 code units, as on the phone platform: lengths and
// positions count code units, and a text may hold lone surrogates.
// Conversions to and from UTF-8 replace what UTF-8 cannot carry with U+FFFD.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "host/foundation/object.h"

class NSString final : public Object {
 public:
  explicit NSString(std::u16string units) : units_(std::move(units)) {}
  const char* kindName() const override { return "NSString"; }
  const std::u16string& units() const { return units_; }

  static id make(std::u16string units);
  // From UTF-8 text; invalid sequences become U+FFFD.
  static id fromUtf8(std::string_view utf8);

 private:
  std::u16string units_;
};

class NSNumber final : public Object {
 public:
  enum class Kind { integer, real, boolean };
  const char* kindName() const override { return "NSNumber"; }

  static id integer(int64_t value);
  static id real(double value);
  static id boolean(bool value);

  Kind kind() const { return kind_; }
  int64_t integerValue() const { return integer_; }
  double realValue() const { return real_; }
  bool boolValue() const { return integer_ != 0; }
  // The value as a 32-bit signed integer, as the platform's intValue gives it:
  // integers keep their low 32 bits, reals are truncated toward zero and then
  // cut the same way (NaN gives 0, out-of-range reals saturate first).
  int32_t int32Value() const;

  NSNumber(Kind kind, int64_t integer, double real) : kind_(kind), integer_(integer), real_(real) {}

 private:
  Kind kind_;
  int64_t integer_;
  double real_;
};

// The platform's null marker. There is exactly one instance.
class NSNull final : public Object {
 public:
  const char* kindName() const override { return "NSNull"; }
  static const id& null();
};

class NSArray final : public Object {
 public:
  explicit NSArray(std::vector<id> items) : items_(std::move(items)) {}
  const char* kindName() const override { return "NSArray"; }
  const std::vector<id>& items() const { return items_; }
  static id make(std::vector<id> items);

 private:
  std::vector<id> items_;
};

// Keys are texts (in UTF-8 here, as the preference files hold them); values are
// never nil.
class NSDictionary final : public Object {
 public:
  using Entries = std::map<std::string, id>;
  explicit NSDictionary(Entries entries) : entries_(std::move(entries)) {}
  const char* kindName() const override { return "NSDictionary"; }
  const Entries& entries() const { return entries_; }
  static id make(Entries entries);

 private:
  Entries entries_;
};

class NSData final : public Object {
 public:
  explicit NSData(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  const char* kindName() const override { return "NSData"; }
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  static id make(std::vector<uint8_t> bytes);

 private:
  std::vector<uint8_t> bytes_;
};

// A point in time, in seconds since 2001-01-01 00:00:00 UTC.
class NSDate final : public Object {
 public:
  explicit NSDate(double seconds) : seconds_(seconds) {}
  const char* kindName() const override { return "NSDate"; }
  double secondsSinceReferenceDate() const { return seconds_; }
  static id make(double seconds);

 private:
  double seconds_;
};

// Deep equality of two values of the kinds above (nil equals only nil; runtime
// objects equal only themselves). Integer and real numbers of the same value
// are not equal: the kind counts, as it does in a property-list file.
bool valuesEqual(const id& a, const id& b);

// UTF-8 <-> UTF-16 conversions. toUtf8 writes U+FFFD for a lone surrogate;
// toUtf16 writes U+FFFD for each invalid UTF-8 sequence.
std::string toUtf8(std::u16string_view units);
std::u16string toUtf16(std::string_view utf8);
