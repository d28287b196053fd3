#include "host/foundation/messages.h"

#include <climits>

#include "state/ns_exception.h"

namespace ns {

void raiseUnrecognized(const id& receiver, std::string_view selector) {
  throw NSException(NSInvalidArgumentException, std::string("-[") + receiver->kindName() + " " +
                                                    std::string(selector) +
                                                    "]: unrecognized selector sent to instance");
}

namespace {

const NSString& textReceiver(const id& object, std::string_view selector) {
  auto* text = objectAs<NSString>(object);
  if (!text) raiseUnrecognized(object, selector);
  return *text;
}

int32_t leadingInteger(const std::u16string& units) {
  size_t i = 0;
  auto blank = [](char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f';
  };
  while (i < units.size() && blank(units[i])) ++i;
  bool negative = false;
  if (i < units.size() && (units[i] == u'+' || units[i] == u'-')) negative = units[i++] == u'-';
  int64_t value = 0;
  for (; i < units.size() && units[i] >= u'0' && units[i] <= u'9'; ++i) {
    value = value * 10 + (units[i] - u'0');
    if (value > int64_t(INT_MAX) + 1) value = int64_t(INT_MAX) + 1;  // saturate, keep going
  }
  if (negative) return value > INT_MAX ? INT_MIN : static_cast<int32_t>(-value);
  return value > INT_MAX ? INT_MAX : static_cast<int32_t>(value);
}

}  // namespace

uint64_t length(const id& object) {
  if (!object) return 0;
  return textReceiver(object, "length").units().size();
}

int32_t intValue(const id& object) {
  if (!object) return 0;
  if (auto* number = objectAs<NSNumber>(object)) return number->int32Value();
  return leadingInteger(textReceiver(object, "intValue").units());
}

id objectForKey(const id& dictionary, std::string_view key) {
  if (!dictionary) return nil;
  auto* dict = objectAs<NSDictionary>(dictionary);
  if (!dict) raiseUnrecognized(dictionary, "objectForKey:");
  auto found = dict->entries().find(std::string(key));
  return found == dict->entries().end() ? nil : found->second;
}

id objectForKey(const id& dictionary, const id& key) {
  if (!dictionary) return nil;
  if (!key) throw NSException(NSInvalidArgumentException, "-[NSDictionary objectForKey:]: nil key");
  return objectForKey(dictionary, toUtf8(textReceiver(key, "hash").units()));
}

id stringByAppendingString(const id& text, const id& suffix) {
  if (!text) return nil;
  const NSString& head = textReceiver(text, "stringByAppendingString:");
  if (!suffix) {
    throw NSException(NSInvalidArgumentException,
                      "-[NSString stringByAppendingString:]: nil argument");
  }
  return NSString::make(head.units() + textReceiver(suffix, "length").units());
}

bool isNull(const id& object) {
  return object && object == NSNull::null();
}

const std::u16string& units(const id& object) {
  static const std::u16string empty;
  if (!object) return empty;
  return textReceiver(object, "length").units();
}

}  // namespace ns
