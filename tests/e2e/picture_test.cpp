// The tool's pictures and terminal views: `call` and `recents` with --png draw
// the screen the host program shows, and the terminal view is compact unless
// --verbose.
#include <gtest/gtest.h>

#include <string>

#include "e2e/e2e_process.h"
#include "host/ui/draw_png.h"
#include "support/temp_device.h"

namespace {

using e2e::Texts;

const std::string kLondon = "+44 20 7946 0000";

// Pixels in rows [top, bottom) whose red, green and blue all pass `test`.
template <class Test>
long countPixels(const host::Picture& picture, int top, int bottom, Test test) {
  long count = 0;
  for (int y = top; y < bottom; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      const uint32_t p = picture.at(x, y);
      count += test((p >> 16) & 0xFF) && test((p >> 8) & 0xFF) && test(p & 0xFF);
    }
  }
  return count;
}

// Guards the pictures the tool writes: the ringing call alert at two pixels a
// point with the white area text in its bottom 22 points and nothing white
// just above, and the Recents screen with its rows; the terminal shows the
// window alone unless --verbose, with the call's buttons only while it rings.
TEST(Pictures, CallAndRecentsDrawTheirScreens) {
  testing_support::TempDevice device;
  ASSERT_TRUE(e2e::storeSetting(device.root(), "recents", "2"));
  const std::string call = device.root() + "/call.png";
  const std::string recents = device.root() + "/recents.png";

  e2e::Outcome outcome =
      e2e::zelvora(device.root(), {"--region", "GB", "call", kLondon, "--png", call});
  ASSERT_EQ(outcome.status, 0) << e2e::describe(outcome);
  EXPECT_NE(outcome.out.find("|                 London                 |\n"), std::string::npos)
      << outcome.out;
  EXPECT_EQ(outcome.out.find("subviews"), std::string::npos) << outcome.out;
  const std::string buttons = "|        Decline          Accept         |\n";
  EXPECT_EQ(outcome.out.find(buttons), outcome.out.rfind(buttons)) << "only while it rings";
  EXPECT_NE(outcome.out.find(buttons), std::string::npos) << outcome.out;
  host::Picture picture;
  ASSERT_EQ(host::readPng(call, picture), "");
  ASSERT_EQ(picture.width, 640);
  ASSERT_EQ(picture.height, 960);
  auto white = [](uint32_t c) { return c > 0xC0; };
  EXPECT_GT(countPixels(picture, 916, 960, white), 100);
  EXPECT_EQ(countPixels(picture, 872, 916, white), 0);

  outcome = e2e::zelvora(device.root(),
                         {"--region", "GB", "recents", "--verbose", kLondon, "--png", recents});
  ASSERT_EQ(outcome.status, 0) << e2e::describe(outcome);
  EXPECT_EQ(e2e::recentsKinds(outcome.out, "Recents"), (Texts{"mobile: London"}));
  EXPECT_NE(outcome.out.find("text \"mobile: London\""), std::string::npos) << outcome.out;
  ASSERT_EQ(host::readPng(recents, picture), "");
  ASSERT_EQ(picture.width, 640);
  auto dark = [](uint32_t c) { return c < 0x40; };
  EXPECT_GT(countPixels(picture, 128, 248, dark), 100);  // the first row
  EXPECT_EQ(countPixels(picture, 248, 960, dark), 0);    // no second row
}

// Guards the errors: --png without a file or with an unwritable one, and
// drawing options given to commands that draw nothing, are refused with a
// message and a non-zero status.
TEST(Pictures, BadPictureOptionsAreRefused) {
  testing_support::TempDevice device;
  const std::string unwritable = device.root() + "/no/such/folder/call.png";
  const struct {
    Texts arguments;
    int status;
    const char* message;
  } cases[] = {
      {{"call", kLondon, "--png"}, 2, "--png: 1 required FILE missing"},
      {{"recents", kLondon, "--png", ""}, 2, "--png needs a file name"},
      {{"call", kLondon, "--png", unwritable}, 1, "cannot write"},
      {{"recents", kLondon, "--png", unwritable}, 1, "cannot write"},
      {{"lookup", kLondon, "--png", "x.png"}, 2, "unknown option --png"},
      {{"home", "--verbose"}, 2, "unknown option --verbose"},
      {{"springboard", "--png", "x.png"}, 2, "unknown option --png"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    e2e::Outcome outcome = e2e::zelvora(device.root(), c.arguments);
    EXPECT_EQ(outcome.status, c.status) << e2e::describe(outcome);
    EXPECT_NE(outcome.err.find(c.message), std::string::npos) << outcome.err;
  }
}

}  // namespace
