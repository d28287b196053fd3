// Messages to values of unknown kind (messages.h), case by case: intValue of
// texts, and what nil receivers, nil arguments and wrong kinds give.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>

#include "host/foundation/messages.h"
#include "state/ns_exception.h"

namespace {

TEST(MessagesCases, IntValueOfATextReadsTheLeadingInteger) {
  struct Case {
    const char* text;
    int32_t expected;
  };
  const Case cases[] = {
      {" \t\n\r\v\f42", 42},
      {"+7", 7},
      {"-7x", -7},
      {"12ab", 12},
      {"", 0},
      {"   ", 0},
      {"-", 0},
      {"ab12", 0},
      {" - 5", 0},
      {"+-5", 0},
      {"2147483647", INT_MAX},
      {"2147483648", INT_MAX},
      {"-2147483648", INT_MIN},
      {"-2147483649", INT_MIN},
      {"99999999999999999999999", INT_MAX},
      {"-99999999999999999999999", INT_MIN},
      {"18446744073709551621", INT_MAX},  // 2^64 + 5: no wrapping around to 5
      {"-18446744073709551621", INT_MIN},
      {"0002147483647", INT_MAX},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ns::intValue(NSString::fromUtf8(c.text)), c.expected);
  }
  EXPECT_EQ(ns::intValue(NSNumber::integer(-5)), -5);
  EXPECT_EQ(ns::intValue(nil), 0);
}

// Guards the platform's answers to nil (no exception) and its exceptions for
// a wrong kind or a nil argument, which callers catch as NSException.
TEST(MessagesCases, NilAnswersQuietlyAndWrongKindsRaise) {
  const id text = NSString::fromUtf8("ab");
  const id number = NSNumber::integer(1);
  const id dict = NSDictionary::make({{"ab", number}});
  EXPECT_EQ(ns::length(nil), 0u);
  EXPECT_EQ(ns::objectForKey(nil, "ab"), nil);
  EXPECT_EQ(ns::objectForKey(nil, text), nil);
  EXPECT_EQ(ns::objectForKey(dict, text), number);
  EXPECT_EQ(ns::objectForKey(dict, "a"), nil);
  EXPECT_EQ(ns::stringByAppendingString(nil, text), nil);
  EXPECT_TRUE(ns::units(nil).empty());
  EXPECT_TRUE(ns::isNull(NSNull::null()));
  EXPECT_FALSE(ns::isNull(nil));
  EXPECT_FALSE(ns::isNull(text));

  struct Case {
    const char* what;
    std::function<void()> send;
    const char* reason;
  };
  const Case cases[] = {
      {"length of a number", [&] { ns::length(number); },
       "-[NSNumber length]: unrecognized selector sent to instance"},
      {"intValue of a dictionary", [&] { ns::intValue(dict); },
       "-[NSDictionary intValue]: unrecognized selector sent to instance"},
      {"objectForKey: of a text", [&] { ns::objectForKey(text, "ab"); },
       "-[NSString objectForKey:]: unrecognized selector sent to instance"},
      {"objectForKey: nil", [&] { ns::objectForKey(dict, id()); },
       "-[NSDictionary objectForKey:]: nil key"},
      {"objectForKey: a number", [&] { ns::objectForKey(dict, number); },
       "-[NSNumber hash]: unrecognized selector sent to instance"},
      {"appending nil", [&] { ns::stringByAppendingString(text, nil); },
       "-[NSString stringByAppendingString:]: nil argument"},
      {"appending a number", [&] { ns::stringByAppendingString(text, number); },
       "-[NSNumber length]: unrecognized selector sent to instance"},
      {"appending to a number", [&] { ns::stringByAppendingString(number, text); },
       "-[NSNumber stringByAppendingString:]: unrecognized selector sent to instance"},
      {"units of a number", [&] { ns::units(number); },
       "-[NSNumber length]: unrecognized selector sent to instance"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      c.send();
      ADD_FAILURE() << "nothing raised";
    } catch (const NSException& e) {
      EXPECT_EQ(e.name(), NSInvalidArgumentException);
      EXPECT_STREQ(e.reason(), c.reason);
    }
  }
}

}  // namespace
