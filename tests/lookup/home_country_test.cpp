// Settling the home calling code and trunk prefix from the preferences or the
// device region, and reading the three preference keys.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "host/foundation/preferences.h"
#include "host/foundation/values.h"
#include "lookup/home_country.h"
#include "lookup/lookup.h"
#include "lookup/preference_keys.h"
#include "state/ns_exception.h"
#include "state/state.h"
#include "support/lookup_fixture.h"

namespace {

using testing_support::LookupTest;
using testing_support::textOf;

class HomeCountryTest : public LookupTest {
 protected:
  // Runs the launch-time lookup (no number) and gives what it stored.
  void launch() {
    phoneNumber = nil;
    initVals();
  }
};

// Guards against stale country tables (KZ once gave "77", BY's trunk prefix
// "80", HU's "6"), regions they lacked (SS, XK), and the wrong home region for
// a shared code: the device's own (CA, KZ, YT, GG), whose international call
// prefix then marks numbers dialled abroad.
TEST_F(HomeCountryTest, DerivedFromTheRegionAndStored) {
  struct Case {
    const char* region;
    const char* callingCode;
    const char* trunkPrefix;
    const char* firstInternationalPrefix;
  };
  for (Case c :
       {Case{"GB", "44", "0", "00"}, Case{"RU", "7", "8", "810"}, Case{"BY", "375", "8", "810"},
        Case{"HU", "36", "06", "00"}, Case{"US", "1", "1", "011"}, Case{"CA", "1", "1", "011"},
        Case{"IT", "39", "", "00"}, Case{"KZ", "7", "8", "810"}, Case{"FR", "33", "0", "00"},
        Case{"SS", "211", "0", "00"}, Case{"XK", "383", "0", "00"}, Case{"YT", "262", "0", "00"},
        Case{"GG", "44", "0", "00"}, Case{"AU", "61", "0", "0011"}}) {
    SCOPED_TRACE(c.region);
    testing_support::TempDevice fresh;
    fresh.setRegion(c.region);
    HomeCountry home = settleHomeCountry();
    ASSERT_TRUE(home.callingCode);
    EXPECT_EQ(toUtf8(*home.callingCode), c.callingCode);
    EXPECT_EQ(textOf(home.trunkPrefix), c.trunkPrefix);
    EXPECT_EQ(toUtf8(home.region), c.region);
    ASSERT_FALSE(home.internationalPrefixes.empty());
    EXPECT_EQ(toUtf8(home.internationalPrefixes[0]), c.firstInternationalPrefix);
    EXPECT_TRUE(storedText(kCountryCodeKey, c.callingCode));
    EXPECT_TRUE(storedText(kTrunkPrefixKey, c.trunkPrefix));
  }
}

// Guards against the device region overriding a calling code set by hand, and
// against an unknown stored code (an old "77") being rewritten or given the
// region's international call prefixes.
TEST_F(HomeCountryTest, AStoredCodeDialsFromItsOwnCountry) {
  struct Case {
    const char* region;
    const char* stored;
    const char* homeRegion;
  };
  for (Case c : {Case{"DE", "44", "GB"}, Case{"US", "7", "RU"}, Case{"KZ", "7", "KZ"},
                 Case{"KZ", "77", ""}, Case{"GB", "+44", ""}}) {
    SCOPED_TRACE(std::string(c.region) + " " + c.stored);
    testing_support::TempDevice fresh;
    fresh.setRegion(c.region);
    setPref(kCountryCodeKey, c.stored);
    HomeCountry home = settleHomeCountry();
    EXPECT_EQ(toUtf8(home.region), c.homeRegion);
    EXPECT_EQ(home.internationalPrefixes.empty(), *c.homeRegion == 0);
    EXPECT_TRUE(storedText(kCountryCodeKey, c.stored));
  }
}

// Guards against the other national prefixes of a code (Belarus' "80" and
// "0" beside its trunk prefix "8") applying to a trunk prefix the user set,
// or not applying to the derived one.
TEST_F(HomeCountryTest, OtherNationalPrefixesOnlyWithTheTablesTrunkPrefix) {
  struct Case {
    const char* region;
    const char* storedTrunk;  // nullptr: none stored, so derived
    size_t nationalPrefixes;
  };
  for (Case c : {Case{"BY", nullptr, 3}, Case{"BY", "8", 3}, Case{"BY", "80", 0}, Case{"BY", "", 0},
                 Case{"GB", "0", 2}, Case{"GB", "", 0}, Case{"DE", "0", 0}}) {
    SCOPED_TRACE(std::string(c.region) + " " + (c.storedTrunk ? c.storedTrunk : "-"));
    testing_support::TempDevice fresh;
    fresh.setRegion(c.region);
    if (c.storedTrunk) setPref(kTrunkPrefixKey, c.storedTrunk);
    EXPECT_EQ(settleHomeCountry().nationalPrefixes.size(), c.nationalPrefixes);
  }
}

TEST_F(HomeCountryTest, NoUsableRegionRemovesTheCallingCode) {
  setPref(kCountryCodeKey, "");
  for (std::optional<std::string> region :
       {std::optional<std::string>(), std::optional<std::string>("AN"),
        std::optional<std::string>("gb")}) {
    device.setRegion(region);
    HomeCountry home = settleHomeCountry();
    EXPECT_FALSE(home.callingCode);
    EXPECT_TRUE(home.internationalPrefixes.empty());
    EXPECT_EQ(textOf(home.trunkPrefix), "");
    EXPECT_EQ(storedPref(kCountryCodeKey), nil);
    EXPECT_EQ(storedPref(kTrunkPrefixKey), nil);  // derived from nothing: not stored
  }
}

// Guards against a first run without a home country storing an empty trunk
// prefix that later runs would keep: once a region is given, national numbers
// lose their trunk prefix and find their area.
TEST_F(HomeCountryTest, AFirstRunWithoutHomeCountryDoesNotSpoilLaterRuns) {
  EXPECT_EQ(lookUp("(0161) 496 0000"), std::nullopt);
  EXPECT_EQ(storedPref(kTrunkPrefixKey), nil);
  device.setRegion("GB");
  EXPECT_EQ(lookUp("(0161) 496 0000"), "Manchester");
  EXPECT_TRUE(storedText(kTrunkPrefixKey, "0"));
}

// Guards against a lookup writing back a value it has just read: with the key
// present, nothing of the two home keys is written, so a newer value stored
// by another process meanwhile is never reverted. A forked process runs
// lookups without pause while this one stores 1,000 values one after another
// and reads each back a moment later, once any write in progress is done.
TEST_F(HomeCountryTest, LookupsNeverRevertAValueStoredMeanwhile) {
  device.setRegion("GB");
  setPref(kCountryCodeKey, "44");
  setPref(kTrunkPrefixKey, "0");
  pid_t lookups = ::fork();
  if (lookups == 0) {
    host::resetPreferenceViews();
    for (;;) lookUp("0161 496 0000");
  }
  const std::string lockPath = host::preferencesPath(kPrefsDomain) + ".lock";
  constexpr int kStores = 1000;
  int reverted = 0;
  for (int i = 1; i <= kStores; ++i) {
    host::resetPreferenceViews();  // a fresh settings editor each time
    setPref(kTrunkPrefixKey, std::to_string(i));
    ::usleep(2000);
    int lock = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
    ::flock(lock, LOCK_EX);  // a write under way ends first
    if (storedPref(kTrunkPrefixKey) != nil &&
        textOf(storedPref(kTrunkPrefixKey)) != std::to_string(i)) {
      ++reverted;
    }
    ::close(lock);
  }
  ::kill(lookups, SIGKILL);
  ::waitpid(lookups, nullptr, 0);
  EXPECT_EQ(reverted, 0) << "of " << kStores;
  EXPECT_TRUE(storedText(kTrunkPrefixKey, std::to_string(kStores)));
  EXPECT_TRUE(storedText(kCountryCodeKey, "44"));
}

TEST_F(HomeCountryTest, UserValuesAreKept) {
  device.setRegion("FR");
  setPref(kCountryCodeKey, "49");
  HomeCountry home = settleHomeCountry();
  EXPECT_EQ(toUtf8(*home.callingCode), "49");
  EXPECT_TRUE(storedText(kCountryCodeKey, "49"));
  EXPECT_TRUE(storedText(kTrunkPrefixKey, "0"));  // derived from 49, not from FR

  // Once stored, the trunk prefix is not derived again when the code changes.
  setPref(kCountryCodeKey, "39");
  home = settleHomeCountry();
  EXPECT_EQ(textOf(home.trunkPrefix), "0");

  // An empty trunk prefix is a value: kept and written back.
  setPref(kCountryCodeKey, "44");
  setPref(kTrunkPrefixKey, "");
  home = settleHomeCountry();
  EXPECT_EQ(textOf(home.trunkPrefix), "");
  EXPECT_TRUE(storedText(kTrunkPrefixKey, ""));
}

TEST_F(HomeCountryTest, EmptyOrNullCallingCodeIsDerivedAgain) {
  device.setRegion("FR");
  setPref(kCountryCodeKey, "");
  EXPECT_EQ(toUtf8(*settleHomeCountry().callingCode), "33");
  EXPECT_TRUE(storedText(kCountryCodeKey, "33"));

  CFPreferencesSetAppValue(kCountryCodeKey, NSNull::null(), kPrefsDomain);
  device.setRegion("DE");
  EXPECT_EQ(toUtf8(*settleHomeCountry().callingCode), "49");
}

TEST_F(HomeCountryTest, CallingCodeWithPlusIsTakenUnchanged) {
  setPref(kCountryCodeKey, "+44");
  HomeCountry home = settleHomeCountry();
  EXPECT_EQ(toUtf8(*home.callingCode), "+44");
  EXPECT_EQ(textOf(home.trunkPrefix), "");  // no list entry is "+44"
}

TEST_F(HomeCountryTest, WrongKindCallingCodeStopsTheRunQuietly) {
  device.setRegion("GB");
  setPref(kCountryCodeKey, NSNumber::integer(44));
  launch();  // must not throw
  EXPECT_EQ(textOf(storedPref(kCountryCodeKey)), "<NSNumber>");
  EXPECT_EQ(storedPref(kTrunkPrefixKey), nil);  // the run stopped before writing it
  EXPECT_THROW(settleHomeCountry(), NSException);
}

TEST_F(HomeCountryTest, LaunchStoresDerivedValues) {
  device.setRegion("GB");
  launch();
  EXPECT_TRUE(storedText(kCountryCodeKey, "44"));
  EXPECT_TRUE(storedText(kTrunkPrefixKey, "0"));
}

TEST_F(HomeCountryTest, RecentsConversions) {
  struct Case {
    id value;
    int32_t expected;
  };
  const Case cases[] = {
      {nil, 0},
      {NSString::fromUtf8("5"), 5},
      {NSNumber::integer(5), 5},
      {NSNumber::integer(-3), -3},
      {NSNumber::real(7.9), 7},
      {NSNumber::boolean(true), 1},
      {NSString::fromUtf8("  12 rows"), 12},
      {NSString::fromUtf8("-4"), -4},
      {NSString::fromUtf8("rows"), 0},
      {NSString::fromUtf8("99999999999"), 2147483647},
      {NSNumber::integer(0x100000005), 5},  // only the low 32 bits count
  };
  for (const Case& c : cases) {
    recentsToShow = 1234;
    setPref(kRecentsKey, c.value);
    loadPrefs();
    EXPECT_EQ(recentsToShow, c.expected) << textOf(c.value).value_or("absent");
  }
}

// Guards the Recents list's reading of "recents": loadPrefs synchronises first,
// so a change stored by another process is seen without the settings-changed
// notification, even one of the same size right after the last.
TEST_F(HomeCountryTest, RecentsChangedByAnotherProcessIsSeenWithoutTheNotification) {
  loadPrefs();
  EXPECT_EQ(recentsToShow, 0);
  for (int i = 1; i <= 20; ++i) {
    pid_t editor = ::fork();
    if (editor == 0) {
      host::resetPreferenceViews();
      CFPreferencesSetAppValue(kRecentsKey, NSNumber::integer(i % 10), kPrefsDomain);
      ::_exit(CFPreferencesAppSynchronize(kPrefsDomain) ? 0 : 1);
    }
    int status = 0;
    ::waitpid(editor, &status, 0);
    ASSERT_EQ(status, 0);
    loadPrefs();
    ASSERT_EQ(recentsToShow, i % 10) << "change " << i;
  }
}

// Guards the reuse of the last settled home country: it must end as soon as
// the preferences (changed by another process) or the region change.
TEST_F(HomeCountryTest, ASettledHomeCountryIsSettledAgainWhenSomethingChanged) {
  device.setRegion("GB");
  EXPECT_EQ(toUtf8(*settleHomeCountry().callingCode), "44");
  EXPECT_EQ(toUtf8(*settleHomeCountry().callingCode), "44");
  pid_t editor = ::fork();
  if (editor == 0) {
    host::resetPreferenceViews();
    CFPreferencesSetAppValue(kCountryCodeKey, nil, kPrefsDomain);
    CFPreferencesSetAppValue(kTrunkPrefixKey, nil, kPrefsDomain);
    ::_exit(CFPreferencesAppSynchronize(kPrefsDomain) ? 0 : 1);
  }
  int status = 0;
  ::waitpid(editor, &status, 0);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(toUtf8(*settleHomeCountry().callingCode), "44");
  EXPECT_TRUE(storedText(kCountryCodeKey, "44"));  // derived and stored again
  EXPECT_TRUE(storedText(kTrunkPrefixKey, "0"));

  testing_support::TempDevice fresh;  // no region, nothing stored
  EXPECT_FALSE(settleHomeCountry().callingCode);
  fresh.setRegion("FR");  // only the region differs from the last settling
  EXPECT_EQ(toUtf8(*settleHomeCountry().callingCode), "33");
}

TEST_F(HomeCountryTest, RecentsOfWrongKindKeepsThePreviousCount) {
  setPref(kCountryCodeKey, "44");
  setPref(kRecentsKey, NSArray::make({NSString::fromUtf8("5")}));
  recentsToShow = 9;
  callingCodePrefs = nil;
  loadPrefs();
  EXPECT_EQ(recentsToShow, 9);
  EXPECT_EQ(textOf(callingCodePrefs), "44");  // read before the failure
}

// Guards against a derived trunk prefix written over one the user set after it
// was derived: while another process holds the lock, the lookup's derived
// values stay pending; the user then sets "9", and once the lock is free the
// derived "0" must yield to it, while the derived calling code, which nobody
// set meanwhile, is stored.
TEST_F(HomeCountryTest, ADerivedTrunkPrefixYieldsToOneSetMeanwhile) {
  device.setRegion("GB");
  const std::string lockPath = host::preferencesPath(kPrefsDomain) + ".lock";
  device.writeFile(lockPath.substr(device.root().size()), "");
  const int holder = ::open(lockPath.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_EQ(::flock(holder, LOCK_EX), 0);
  host::setPreferencesLockWait({0, 0, nullptr});  // nothing waits for the held lock
  EXPECT_EQ(textOf(settleHomeCountry().trunkPrefix), "0");
  host::setPreferencesLockWait({10000000000, 1000000000, nullptr});  // the default again
  EXPECT_FALSE(std::filesystem::exists(host::preferencesPath(kPrefsDomain)));
  ::close(holder);
  pid_t editor = ::fork();
  if (editor == 0) {
    host::resetPreferenceViews();
    CFPreferencesSetAppValue(kTrunkPrefixKey, NSString::fromUtf8("9"), kPrefsDomain);
    ::_exit(CFPreferencesAppSynchronize(kPrefsDomain) ? 0 : 1);
  }
  int status = 0;
  ::waitpid(editor, &status, 0);
  ASSERT_EQ(status, 0);
  EXPECT_TRUE(CFPreferencesAppSynchronize(kPrefsDomain));
  EXPECT_TRUE(storedText(kTrunkPrefixKey, "9"));
  EXPECT_TRUE(storedText(kCountryCodeKey, "44"));
}

}  // namespace
