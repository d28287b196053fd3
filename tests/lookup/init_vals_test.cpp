// The lookup from end to end: normalisation, the area-code files and their
// fallback, and the matching that sets area.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "host/foundation/device.h"
#include "host/foundation/values.h"
#include "lookup/area_file.h"
#include "lookup/country_tables.h"
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
  return HomeCountry{std::move(callingCode), NSString::fromUtf8(trunk), u"", {}, {}};
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

// The home country of a user in `region`, as the tables give it.
HomeCountry homeIn(std::u16string_view region, std::string_view trunk) {
  HomeCountry home = homeOf(std::u16string(*callingCodeForCountry(region)), trunk);
  home.region = region;
  home.internationalPrefixes = internationalPrefixesOf(region);
  if (toUtf16(trunk) == trunkPrefixByCallingCode(*home.callingCode))
    home.nationalPrefixes = nationalPrefixesOf(*home.callingCode);
  return home;
}

// One number as written, by a user at `home`, and what it splits into.
struct SplitCase {
  const char* home;  // a region, whose calling code and prefixes are the tables'
  const char* trunk;
  const char* number;
  const char* callingCode;
  const char* nationalNumber;
};

void expectSplits(const std::vector<SplitCase>& cases) {
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(std::string(c.home) + " " + c.number);
    const NumberParts parts = splitNumber(toUtf16(c.number), homeIn(toUtf16(c.home), c.trunk));
    EXPECT_EQ(toUtf8(parts.callingCode), c.callingCode);
    EXPECT_EQ(toUtf8(parts.nationalNumber), c.nationalNumber);
  }
}

TEST(SplitNumber, WorkedExamplesWithHomeUnitedKingdom) {
  expectSplits({
      {"GB", "0", "+44 20 7946 0000", "44", "2079460000"},
      {"GB", "0", "(020) 7946-0000", "44", "2079460000"},
      // A national number written without its trunk prefix keeps every digit.
      {"GB", "0", "7946 0000", "44", "79460000"},
      {"GB", "0", "+1 212 555 0100", "1", "2125550100"},
      {"GB", "0", "+380 44 123 4567", "380", "441234567"},
      // Dialled with the United Kingdom's international call prefix.
      {"GB", "0", "0044 20 7946 0000", "44", "2079460000"},
  });
}

// Guards against the international call prefix of the wrong region, a prefix
// taken without a calling code after it, a 0 after it, and the shorter of two
// prefixes that both begin a number winning.
TEST(SplitNumber, TheHomeRegionsInternationalCallPrefix) {
  expectSplits({
      {"DE", "0", "00 44 20 7946 0000", "44", "2079460000"},
      {"DE", "0", "0044 20 7946 0000", "44", "2079460000"},
      {"US", "1", "011 44 20 7946 0000", "44", "2079460000"},
      {"AU", "0", "0011 44 20 7946 0000", "44", "2079460000"},
      {"AU", "0", "1488 0011 49 30 1234567", "49", "301234567"},
      {"JP", "0", "010 44 20 7946 0000", "44", "2079460000"},
      {"RU", "8", "810 44 20 7946 0000", "44", "2079460000"},
      {"KR", "0", "00700 1 212 555 0100", "1", "2125550100"},
      {"BR", "0", "0021 44 20 7946 0000", "44", "2079460000"},
      {"SC", "", "010 44 20 7946 0000", "44", "2079460000"},
      {"SC", "", "01 44 20 7946 0000", "44", "2079460000"},
      // The plain prefix before a carrier's: "0012" selects one in Bolivia,
      // but "00 1 242" is how Bolivians call the Bahamas, so a carrier's form
      // that the plain prefix begins reads as the plain one.
      {"BO", "0", "00 1 242 359 1672", "1", "2423591672"},
      {"BO", "0", "0012 44 20 7946 0000", "1", "2442079460000"},
      {"HK", "", "00 231 77 078 7597", "231", "770787597"},
      // Another region's prefix is a national number: "810" from Germany.
      {"DE", "0", "810 44 20 7946 0000", "49", "810442079460000"},
      {"JP", "0", "011 44 20 7946 0000", "81", "11442079460000"},
      // A 0 after the prefix, or digits that make no calling code, stay national.
      {"DE", "0", "00 0 44 20", "49", "004420"},
      {"DE", "0", "0028 1234", "49", "0281234"},
      {"US", "1", "011", "1", "011"},
      // Numbers of the home region itself, dialled from it, stay national.
      {"DE", "0", "030 1234567", "49", "301234567"},
      {"RU", "8", "8 (495) 123-45-67", "7", "4951234567"},
      {"KZ", "8", "8 (727) 258 83 00", "7", "7272588300"},
      {"KZ", "8", "8 10 44 20 7946 0000", "44", "2079460000"},
      {"CA", "1", "(506) 273-5513", "1", "5062735513"},
      {"CA", "1", "011 44 20 7946 0000", "44", "2079460000"},
      {"GG", "0", "00 1 212 555 0100", "1", "2125550100"},
      {"YT", "0", "0269 61 23 45", "262", "269612345"},
      {"YT", "0", "00 33 1 42 68 53 00", "33", "142685300"},
  });
}

// Guards against dropping a trunk prefix that is not bracketed, not right
// after the calling code, not the code's own, or of a code without one.
TEST(SplitNumber, TheTrunkPrefixInBrackets) {
  expectSplits({
      {"DE", "0", "+44 (0)20 7946 0000", "44", "2079460000"},
      {"DE", "0", "+44(0)2079460000", "44", "2079460000"},
      {"GB", "0", "+49 (0)30 1234567", "49", "301234567"},
      {"GB", "0", "+36 (06) 1 234 5678", "36", "12345678"},
      {"GB", "0", "0049 (0) 30 1234567", "49", "301234567"},
      {"GB", "0", "+39 06 6988 0000", "39", "0669880000"},
      {"GB", "0", "+39 (0)6 6988 0000", "39", "0669880000"},
      {"GB", "0", "+44 0 20 7946", "44", "0207946"},
      {"GB", "0", "+44 (020) 7946 0000", "44", "02079460000"},
      {"GB", "0", "+44 20 (0)7946", "44", "2007946"},
      {"GB", "0", "+(44 0)20 7946", "44", "0207946"},
      {"GB", "0", "+1 (212) 555-0100", "1", "2125550100"},
      {"GB", "0", "(0161) 496 0000", "44", "1614960000"},
  });
}

// Guards against a mark of layout kept (a no-break space, a direction mark, a
// dash other than "-"), a dot or slash dropped where it does not stand between
// digits, and a mark that makes a number not plain ("*", "#", ",", letters)
// dropped.
TEST(SplitNumber, MarksOfLayout) {
  expectSplits({
      {"GB", "0", "\u202A+44\u00A020\u00A07946\u00A00000\u202C", "44", "2079460000"},
      {"GB", "0", "\u2066020\u20077946\u202F0000\u2069", "44", "2079460000"},
      {"GB", "0", "\u200E+44\t20\u200F7946", "44", "207946"},
      {"GB", "0", "020\u20107946\u20150000\u22120", "44", "20794600000"},
      {"GB", "0", "\u202B\u202D020\u202E\u202C\u2068\u2067", "44", "20"},
      {"US", "1", "212.555.0100", "1", "2125550100"},
      {"FR", "0", "01.42.68.53.00", "33", "142685300"},
      {"DE", "0", "030/1234567", "49", "301234567"},
      {"DE", "0", "030 / 123", "49", "30123"},
      {"GB", "0", ".020", "44", ".020"},
      {"GB", "0", "020.", "44", "20."},
      {"GB", "0", "020..7946", "44", "20..7946"},
      {"GB", "0", "+44.20", "44", "20"},
      {"GB", "0", "020*7946#", "44", "20*7946#"},
      {"GB", "0", "020,7946", "44", "20,7946"},
      {"GB", "0", "020 CALL", "44", "20CALL"},
  });
}

// Guards against the other national prefixes being ignored (Belarusians
// dial "8 0152"), applied when the user set a trunk prefix of their own, or
// tried shortest first.
TEST(SplitNumber, OtherNationalPrefixesOfTheHome) {
  expectSplits({
      {"BY", "8", "8 0152 45-09-11", "375", "152450911"},
      {"BY", "8", "8 029 123 45 67", "375", "291234567"},
      {"BY", "8", "0152 45-09-11", "375", "152450911"},
      {"BY", "80", "8 0152 45-09-11", "375", "152450911"},
      {"BY", "80", "0152 45-09-11", "375", "0152450911"},
      {"LT", "0", "8 5 212 3456", "370", "52123456"},
      {"LT", "0", "0 5 212 3456", "370", "52123456"},
      {"GB", "0", "020 7946 0000", "44", "2079460000"},
  });
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

TEST(SplitNumber, PlusSigns) {
  const HomeCountry uk = homeOf(u"44", "0");
  EXPECT_SPLIT("++44 20 7946 0000", uk, "44", "2079460000");
  EXPECT_SPLIT("+44+20", uk, "44", "20");
  EXPECT_SPLIT("12+34", uk, "44", "12+34");  // not first: stays, national
  EXPECT_SPLIT("-", uk, "44", "");           // only formatting: empty national
  EXPECT_SPLIT("()", uk, "44", "");
  EXPECT_SPLIT("+", uk, "", "");  // no calling code at all
  // 345 is the Caymans' area code under 1, not a calling code.
  EXPECT_SPLIT("+345 949 0000", uk, "34", "59490000");
  EXPECT_SPLIT("+1 345 949 0000", uk, "1", "3459490000");
  EXPECT_SPLIT("+7 701 234 5678", uk, "7", "7012345678");
  EXPECT_SPLIT("+592 220 1234", uk, "592", "2201234");
  EXPECT_SPLIT("+247 6412", uk, "247", "6412");
  EXPECT_SPLIT("+999 123", uk, "", "");  // no country has 999
}

TEST(SplitNumber, HomeCallingCodeAbsentOrUnusual) {
  const HomeCountry none = homeOf(std::nullopt, "");
  EXPECT_SPLIT("020 7946 0000", none, "", "");
  EXPECT_SPLIT("+44 20 7946 0000", none, "44", "2079460000");
  // Without a home region no prefix marks a number dialled abroad.
  EXPECT_SPLIT("0044 20", homeOf(u"77", "8"), "77", "004420");
  // A home code written with "+" names its own file and then loses the "+".
  EXPECT_SPLIT("20", homeOf(u"+44", ""), "+44", "0");
  EXPECT_SPLIT("2079", homeOf(u"+44", ""), "+44", "079");
  // A trunk prefix of the wrong kind fails only where a national number needs it.
  HomeCountry odd{u"44", NSNumber::integer(0), u"GB", internationalPrefixesOf(u"GB"), {}};
  EXPECT_THROW(splitNumber(u"020", odd), NSException);
  EXPECT_NO_THROW(splitNumber(u"+4420", odd));
  EXPECT_NO_THROW(splitNumber(u"004420", odd));
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
