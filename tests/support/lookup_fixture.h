// A fixture for tests of the lookup: a throw-away device, the library's state
// reset, and short ways to set and read preferences and to run a lookup.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#include "host/foundation/object.h"
#include "support/temp_device.h"

namespace testing_support {

class LookupTest : public ::testing::Test {
 protected:
  LookupTest();
  ~LookupTest() override;

  // Stores a preference as the settings editor would (another process).
  void setPref(std::string_view key, const id& value);
  void setPref(std::string_view key, std::string_view text);
  // The preference as stored on disk, read as a fresh process would.
  id storedPref(std::string_view key);
  // Whether the stored text preference equals `text`.
  ::testing::AssertionResult storedText(std::string_view key, std::string_view text);

  // Writes an area-code file into the device's data folder.
  void writeCodes(std::string_view callingCode, std::string_view contents);

  // Runs the library's lookup of `number` as a caller does: stores it in
  // phoneNumber, empties area, runs initVals. Gives the area, or none.
  std::optional<std::string> lookUp(std::string_view number);

  TempDevice device;
};

// A lookup test with a UK home (44, trunk prefix 0) and a bundled 44.txt that
// answers "Bundled London" for 4420, with the area-code cache empty before
// and after. A lookup that blocks ends the test program after 60 s (SIGALRM)
// instead of hanging it.
class BundledLondonTest : public LookupTest {
 protected:
  BundledLondonTest();
  ~BundledLondonTest() override;
};

// The UTF-8 form of a text value, or none for nil; "<kind>" for another kind.
std::optional<std::string> textOf(const id& value);

}  // namespace testing_support
