// Real numbers from many countries against the bundled data, with the areas
// that libphonenumber's own data (release 9.0.35, language "en") gives for
// them. The device's data folder is empty, so every
// lookup reads the bundled files as the application's resources.
#include <gtest/gtest.h>

#include "lookup/preference_keys.h"
#include "support/lookup_fixture.h"

namespace {

using testing_support::LookupTest;

struct Case {
  const char* number;
  const char* area;
};

class RealNumbers : public LookupTest {};

TEST_F(RealNumbers, InternationalNumbersFromAnyHomeCountry) {
  device.setRegion("GB");
  const Case cases[] = {
      {"+44 20 7946 0000", "London"},
      {"+44 161 496 0000", "Manchester"},
      {"+1 212 555 0100", "New York, NY"},
      {"+1 416 555 0100", "Ontario"},
      {"+1 604 555 0100", "British Columbia"},
      {"+49 30 1234567", "Berlin"},
      {"+49 89 1234567", "Munich"},
      // France's town-level prefixes were withdrawn as no longer right.
      {"+33 1 42 68 53 00", "France"},
      {"+39 06 6988 1234", "Vatican City"},
      {"+39 02 1234 5678", "Milan"},
      {"+39 011 123 4567", "Turin"},
      {"+34 91 123 45 67", "Madrid"},
      {"+31 20 123 4567", "Amsterdam"},
      {"+41 44 123 45 67", "Zurich"},
      {"+46 8 123 456 78", "Stockholm"},
      {"+48 22 123 45 67", "Warsaw"},
      {"+420 2 1234 5678", "Prague"},
      {"+7 495 123 45 67", "Moscow"},
      {"+86 10 6552 9988", "Beijing"},
      {"+86 20 8123 4567", "Guangzhou, Guangdong"},
      {"+81 3 1234 5678", "Tokyo"},
      {"+82 2 123 4567", "Seoul"},
      {"+61 2 9123 4567", "Sydney"},
      {"+55 11 3123 4567", "São Paulo"},
      {"+54 11 4123 4567", "Buenos Aires"},
      {"+52 55 1234 5678", "Mexico City, FD"},  // 52 is not in the trunk list
      {"+56 2 2123 4567", "Santiago, Metropolitan Region"},
      {"+91 22 2123 4567", "Mumbai"},
      {"+90 212 123 45 67", "Istanbul (Europe)"},
      {"+20 2 2123 4567", "Cairo/Giza/Qalyubia"},
      {"+27 21 123 4567", "Cape Town/Gordons Bay/Somerset West/Stellenbosch"},
      {"+380 44 123 4567", "Kyiv city"},  // nor is 380
      {"+353 1 123 4567", "Dublin"},
      {"+351 21 123 4567", "Lisbon"},
      {"+30 21 0123 4567", "Athens/Piraeus/Salamina"},
      // North American area codes opened since the data of 2022.
      {"+1 227 555 0100", "Maryland"},
      {"+1 257 555 0100", "British Colombia"},
      {"+1 354 555 0100", "Quebec"},
      {"+1 428 555 0100", "New Brunswick"},
      // Calling codes that older country tables lacked.
      {"+592 609 1234", "Guyana"},
      {"+211 912 345 678", "South Sudan"},
  };
  for (const Case& c : cases) EXPECT_EQ(lookUp(c.number), c.area) << c.number;
}

TEST_F(RealNumbers, NationalNumbersInTheirHomeCountry) {
  struct National {
    const char* region;
    const char* number;
    const char* area;
  };
  const National cases[] = {
      {"GB", "020 7946 0000", "London"},        {"GB", "0161 496 0000", "Manchester"},
      {"DE", "030 1234567", "Berlin"},          {"FR", "01 42 68 53 00", "France"},
      {"US", "(212) 555-0100", "New York, NY"}, {"US", "1 415 555 0100", "San Francisco, CA"},
      {"IT", "06 6988 1234", "Vatican City"},   {"IT", "02 1234 5678", "Milan"},
      {"RU", "8 495 123 45 67", "Moscow"},      {"BY", "8 017 123 45 67", "Minsk"},
      {"ES", "91 123 45 67", "Madrid"},         {"CN", "010 6552 9988", "Beijing"},
      {"JP", "03 1234 5678", "Tokyo"},          {"AR", "011 4123 4567", "Buenos Aires"},
      {"BY", "0152 45-09-11", "Grodno"},        {"HU", "06 1 234 5678", "Budapest"},
      {"UA", "044 123 4567", "Kyiv city"},      {"KZ", "8 (727) 312 83 00", "Almaty"},
      {"KY", "(345) 949 0000", "George Town"},
  };
  for (const National& c : cases) {
    testing_support::TempDevice fresh;  // each home country derived anew
    fresh.setRegion(c.region);
    EXPECT_EQ(lookUp(c.number), c.area) << c.region << " " << c.number;
  }
}

// Where the data has no area, the country line answers: the calling code
// alone, or the prefix that only one country of a shared code can have.
TEST_F(RealNumbers, NumbersWithOnlyTheirCountry) {
  device.setRegion("GB");
  const Case cases[] = {
      {"+61 3 9123 4567", "Australia"}, {"+49 151 2345 6789", "Germany"},
      {"+33 6 12 34 56 78", "France"},  {"+376 312 345", "Andorra"},
      {"+1 876 555 1234", "Jamaica"},   {"+7 727 123 4567", "Kazakhstan"},
      {"+1 555 0100", "United States"},  // 55 fits only the United States' number patterns
  };
  for (const Case& c : cases) EXPECT_EQ(lookUp(c.number), c.area) << c.number;
}

// No line where the prefix cannot tell the country (mobile 7700 may be British,
// Jersey or Guernsey; 690 any of Guadeloupe, Saint Barthélemy, Saint Martin).
TEST_F(RealNumbers, NumbersWithoutAnAreaInTheData) {
  device.setRegion("GB");
  for (const char* number : {"+44 7700 900123", "+590 690 00 11 22", "+999 1234"}) {
    EXPECT_EQ(lookUp(number), std::nullopt) << number;
  }
}

}  // namespace
