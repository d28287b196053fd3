// The lookup from end to end: normalisation, the area-code files and their
// fallback, and the matching that sets area.
#include <gtest/gtest.h>

#include <filesystem>

#include "host/foundation/device.h"
#include "host/foundation/values.h"
#include "lookup/area_file.h"
#include "lookup/lookup.h"
#include "lookup/normalise.h"
#include "lookup/preference_keys.h"
#include "state/ns_exception.h"
#include "state/state.h"
#include "support/lookup_fixture.h"

namespace {

using testing_support::LookupTest;
using testing_support::textOf;

HomeCountry homeOf(std::optional<std::u16string> callingCode, std::string_view trunk) {
  return HomeCountry{std::move(callingCode), NSString::fromUtf8(trunk)};
}

struct Split {
  std::string callingCode;
  std::string nationalNumber;
};

Split split(std::string_view number, const HomeCountry& home) {
  NumberParts parts = splitNumber(toUtf16(number), home);
  return {toUtf8(parts.callingCode), toUtf8(parts.nationalNumber)};
}

#define EXPECT_SPLIT(number, home, code, national)     \
  do {                                                 \
    Split got = split(number, home);                   \
    EXPECT_EQ(got.callingCode, code) << number;        \
    EXPECT_EQ(got.nationalNumber, national) << number; \
  } while (0)

TEST(SplitNumber, WorkedExamplesWithHomeUnitedKingdom) {
  const HomeCountry uk = homeOf(u"44", "0");
  EXPECT_SPLIT("+44 20 7946 0000", uk, "44", "2079460000");
  EXPECT_SPLIT("(020) 7946-0000", uk, "44", "2079460000");
  // A national number written without its trunk prefix keeps every digit.
  EXPECT_SPLIT("7946 0000", uk, "44", "79460000");
  EXPECT_SPLIT("+1 212 555 0100", uk, "1", "2125550100");
  // 380 is not in the trunk-prefix list, but it is a country's calling code.
  EXPECT_SPLIT("+380 44 123 4567", uk, "380", "441234567");
  // Only a leading "+" marks an international number.
  EXPECT_SPLIT("0044 20 7946 0000", uk, "44", "0442079460000");
}

TEST(SplitNumber, TrunkPrefixIsDroppedOnlyWhenPresent) {
  const HomeCountry us = homeOf(u"1", "1");
  EXPECT_SPLIT("(212) 555-0100", us, "1", "2125550100");
  EXPECT_SPLIT("1 (212) 555-0100", us, "1", "2125550100");
  const HomeCountry by = homeOf(u"375", "80");
  EXPECT_SPLIT("017 123 4567", by, "375", "0171234567");
  EXPECT_SPLIT("80 17 123 4567", by, "375", "171234567");
  // The trunk prefix is never dropped from an international number.
  EXPECT_SPLIT("+44 0 20", homeOf(u"44", "0"), "44", "020");
}

TEST(SplitNumber, FormattingAndPlusSigns) {
  const HomeCountry uk = homeOf(u"44", "0");
  EXPECT_SPLIT("++44 20 7946 0000", uk, "44", "2079460000");
  EXPECT_SPLIT("+44+20", uk, "44", "20");
  EXPECT_SPLIT("12+34", uk, "44", "12+34");         // not first: stays, national
  EXPECT_SPLIT("020.7946", uk, "44", "20.7946");    // dots stay
  EXPECT_SPLIT("020\t7946", uk, "44", "20\t7946");  // tabs stay
  EXPECT_SPLIT("-", uk, "44", "");                  // only formatting: empty national
  EXPECT_SPLIT("()", uk, "44", "");
  EXPECT_SPLIT("+", uk, "", "");                        // no calling code at all
  EXPECT_SPLIT("+345 949 0000", uk, "34", "59490000");  // the list's "34" comes first
  EXPECT_SPLIT("+7 701 234 5678", uk, "7", "7012345678");
  EXPECT_SPLIT("+999 123", uk, "", "");  // no country has 999
}

TEST(SplitNumber, HomeCallingCodeAbsentOrUnusual) {
  const HomeCountry none = homeOf(std::nullopt, "");
  EXPECT_SPLIT("020 7946 0000", none, "", "");
  EXPECT_SPLIT("+44 20 7946 0000", none, "44", "2079460000");
  // A home code written with "+" names its own file and then loses the "+".
  EXPECT_SPLIT("20", homeOf(u"+44", ""), "+44", "0");
  EXPECT_SPLIT("2079", homeOf(u"+44", ""), "+44", "079");
  // A trunk prefix of the wrong kind fails only where a national number needs it.
  HomeCountry odd{u"44", NSNumber::integer(0)};
  EXPECT_THROW(splitNumber(u"020", odd), NSException);
  EXPECT_NO_THROW(splitNumber(u"+4420", odd));
}

TEST(SplitNumber, OnlyDigitCodesNameFiles) {
  EXPECT_TRUE(isFileSafeCallingCode(u"44"));
  EXPECT_TRUE(isFileSafeCallingCode(u"+44"));
  for (std::u16string_view bad :
       {u"", u"+", u"++44", u"../../etc/x", u"4 4", u"44/", u"٤٤", u"44+"}) {
    EXPECT_FALSE(isFileSafeCallingCode(bad)) << toUtf8(bad);
  }
}

class InitValsTest : public LookupTest {
 protected:
  InitValsTest() {
    setPref(kCountryCodeKey, "44");
    setPref(kTrunkPrefixKey, "0");
  }
};

TEST_F(InitValsTest, FindsTheAreaAndLeavesTheNumberAlone) {
  writeCodes("44", "4420|London\n44161|Manchester\n44794|Seven Nine Four\n44946|Nine Four Six\n");
  writeCodes("1", "1212|New York\n");
  writeCodes("380", "38044|Kyiv\n");
  EXPECT_EQ(lookUp("+44 20 7946 0000"), "London");
  EXPECT_EQ(lookUp("(0161) 496 0000"), "Manchester");
  EXPECT_EQ(lookUp("7946 0000"), "Seven Nine Four");
  EXPECT_EQ(lookUp("+1 212 555 0100"), "New York");
  EXPECT_EQ(lookUp("+380 44 123 4567"), "Kyiv");
  EXPECT_EQ(lookUp("0 30 1234"), std::nullopt);

  // Looking the same number up again gives the same area, and the caller's
  // number is not rewritten.
  phoneNumber = NSString::fromUtf8("+44 20 7946 0000");
  for (int run = 0; run < 3; ++run) {
    area = nil;
    initVals();
    EXPECT_EQ(textOf(area), "London");
    EXPECT_EQ(textOf(phoneNumber), "+44 20 7946 0000");
  }
  EXPECT_EQ(internationalFormat, 1);
}

TEST_F(InitValsTest, AreaIsWrittenOnlyOnAMatch) {
  writeCodes("44", "4420|London\n4421|\n");
  phoneNumber = NSString::fromUtf8("01632 960000");
  area = NSString::fromUtf8("Earlier");
  initVals();
  EXPECT_EQ(textOf(area), "Earlier");
  EXPECT_EQ(lookUp("021 1234"), "");  // a key with an empty area text is a match
}

TEST_F(InitValsTest, NoNumberOnlySettlesTheHomeCountry) {
  writeCodes("44", "44|Everywhere\n");
  for (id number : {id(), NSNull::null(), NSString::fromUtf8("")}) {
    phoneNumber = number;
    area = nil;
    initVals();
    EXPECT_EQ(area, nil);
    EXPECT_EQ(phoneNumber, number);
  }
  EXPECT_TRUE(storedText(kTrunkPrefixKey, "0"));
}

TEST_F(InitValsTest, FormattingOnlyNumberIsANationalNumberWithoutDigits) {
  writeCodes("44", "44|Everywhere\n4420|London\n");
  EXPECT_EQ(lookUp("-"), "Everywhere");  // the key "44" matches every national number
  writeCodes("44", "4420|London\n");
  EXPECT_EQ(lookUp("()"), std::nullopt);
  EXPECT_EQ(lookUp("+"), std::nullopt);
  EXPECT_EQ(lookUp("+++"), std::nullopt);
}

TEST_F(InitValsTest, NoHomeCallingCodeLeavesNationalNumbersAlone) {
  setPref(kCountryCodeKey, "");
  device.setRegion(std::nullopt);
  writeCodes("44", "4420|London\n");
  area = NSString::fromUtf8("Earlier");
  phoneNumber = NSString::fromUtf8("020 7946 0000");
  initVals();
  EXPECT_EQ(textOf(area), "Earlier");
  EXPECT_EQ(textOf(phoneNumber), "020 7946 0000");
  EXPECT_EQ(lookUp("+44 20 7946 0000"), "London");
}

TEST_F(InitValsTest, CallingCodesThatAreNotDigitsReadNoFile) {
  // A file that a path-like calling code would reach, with a key that matches
  // every number.
  device.writeFile("/Library/etc/x.txt", "../../etc/x|Leaked\n");
  setPref(kCountryCodeKey, "../../etc/x");
  setPref(kTrunkPrefixKey, "");
  EXPECT_EQ(lookUp("1234"), std::nullopt);
  // A "+" in front of the digits is allowed and names its own file.
  setPref(kCountryCodeKey, "+44");
  writeCodes("+44", "+4420|Plus London\n");
  EXPECT_EQ(lookUp("2079"), std::nullopt);   // "+4420" loses three characters: "79"
  EXPECT_EQ(lookUp("9207"), "Plus London");  // national "207"
}

TEST_F(InitValsTest, FileFallbackToTheApplicationResources) {
  namespace fs = std::filesystem;
  const std::string resources = device.root() + "/app-resources";
  fs::create_directories(resources + "/codes");
  host::setMainBundleResourcePath(resources);
  auto writeResource = [&](std::string_view contents) {
    device.writeFile("/app-resources/codes/44.txt", contents);
  };

  writeResource("4420|Resource London\n");
  EXPECT_EQ(lookUp("020 1"), "Resource London");  // only the resource exists

  writeCodes("44", "4420|Data London\n");
  EXPECT_EQ(lookUp("020 1"), "Data London");  // the data folder wins

  writeCodes("44", "4420|Data London\n\xFF\n");
  EXPECT_EQ(lookUp("020 1"), "Resource London");  // not UTF-8: passed over

  writeCodes("44", "");
  EXPECT_EQ(lookUp("020 1"), std::nullopt);  // empty but readable: no fallback

  fs::remove(device.path(std::string(kAreaCodeFolder) + "44.txt"));
  writeResource("4420|Resource London\n\xC0\n");
  EXPECT_EQ(lookUp("020 1"), std::nullopt);  // a bad resource gives no text

  host::setMainBundleResourcePath({});
  EXPECT_EQ(lookUp("020 1"), std::nullopt);  // no resources at all
}

TEST_F(InitValsTest, ChangesTakeEffectAtTheNextLookup) {
  writeCodes("44", "4420|London\n");
  EXPECT_EQ(lookUp("020 1"), "London");
  writeCodes("44", "4420|Greater London\n");
  EXPECT_EQ(lookUp("020 1"), "Greater London");
  writeCodes("49", "4930|Berlin\n");
  setPref(kCountryCodeKey, "49");
  EXPECT_EQ(lookUp("030 1"), "Berlin");
}

TEST_F(InitValsTest, WrongKindValuesStopTheLookupQuietly) {
  writeCodes("44", "4420|London\n");
  setPref(kTrunkPrefixKey, NSNumber::integer(0));
  area = nil;
  EXPECT_EQ(lookUp("020 1"), std::nullopt);  // the trunk prefix is needed here
  EXPECT_EQ(lookUp("+44 20 1"), "London");   // but not here
  phoneNumber = NSNumber::integer(2079460000);
  EXPECT_NO_THROW(initVals());
  phoneNumber = NSArray::make({});
  EXPECT_NO_THROW(initVals());
}

// Guards one answer for a number holding U+0000 wherever it stands: refused,
// so it finds no area, while the same number without it does.
TEST_F(InitValsTest, ANumberHoldingANulIsRefused) {
  writeCodes("44", "4420|London\n44|Britain\n");
  const std::u16string nul(1, u'\0');
  const std::u16string numbers[] = {u"+44 20" + nul + u"7946", u"+44" + nul + u"207946",
                                    u"020 7946" + nul, nul + u"020 7946",
                                    u"+4420" + nul + nul + u"7"};
  for (const auto& number : numbers) {
    phoneNumber = NSString::make(number);
    area = nil;
    initVals();
    EXPECT_EQ(area, nil) << number.find(u'\0');
  }
  EXPECT_EQ(lookUp("+44 20 7946"), "London");
}

TEST_F(InitValsTest, HostileNumbersDoNotBreakTheLookup) {
  writeCodes("44", "4420|London\n");
  std::u16string lone = u"020";
  lone += char16_t(0xD800);
  const std::u16string numbers[] = {std::u16string(10000, u'7'),
                                    u"+" + std::u16string(10000, u'4'),
                                    std::u16string(50, u'+'),
                                    u"\x01\x02\x1b[2J",
                                    lone,
                                    u"+44" + std::u16string(1, char16_t(0xDC00))};
  for (const auto& number : numbers) {
    phoneNumber = NSString::make(number);
    area = nil;
    EXPECT_NO_THROW(initVals());
  }
  EXPECT_EQ(lookUp(std::string(3, '+') + "44 20"), "London");
}

}  // namespace
