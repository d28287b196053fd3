// SpringBoard: the simulated home screen.
//
//   SpringBoard [--root DIR] [--region XX] [--png FILE] [--verbose]
//
// It registers the home screen's classes (SpringBoard, SBAlertWindow), lets
// the extension loader load what is meant for "com.apple.springboard", calls
// -applicationDidFinishLaunching: once, and then reads commands from standard
// input, one per line:
//   call NUMBER       a call rings in (telephony status 4)
//   outgoing NUMBER   a call is being placed (status 3)
//   answer            the call is answered (status 1)
//   end               the call ends (status 5)
//   refresh           the call alert is shown again
//   quit              (or end of input) the home screen stops
// Blanks (spaces, tabs) before and after a command are ignored. A standard
// input that cannot be read (closed, a folder) is reported on standard error
// and makes the exit status 1.
// A line longer than 4096 bytes is skipped with a message, and reading goes on
// after its line break.
// After each command it prints the call alert window as it now looks; with
// --verbose also the window's frame and the list of its subviews. With --png
// FILE it also draws the window into FILE, a PNG picture, each time a command
// leaves a call showing (ringing in or being placed); a picture that cannot be
// written is reported on standard error and makes the exit status 1.
// Notifications from other processes (a settings change) arrive through the
// main run loop meanwhile.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <deque>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/host_start.h"
#include "common/standard_streams.h"
#include "host/foundation/messages.h"
#include "host/foundation/values.h"
#include "host/notify/run_loop.h"
#include "host/notify/telephony.h"
#include "host/runtime/objc.h"
#include "host/ui/draw_png.h"
#include "host/ui/uikit.h"

namespace {

constexpr const char* kBundleIdentifier = "com.apple.springboard";

// The longest command line, in bytes, its line break not counted. Commands
// are a word and a telephone number; a longer line is skipped whole.
constexpr size_t kCommandLimit = 4096;

// Standard input cut into command lines. Each byte is looked at once, and at
// most one line (of at most kCommandLimit bytes) is held, so any input is read
// in linear time and bounded memory. While lines wait to be run, standard
// input is not read further.
struct CommandInput {
  // Complete lines not yet run, in order; none stands for a line that was
  // too long.
  std::deque<std::optional<std::string>> lines;
  std::string partial;          // the line being read, up to kCommandLimit bytes
  bool skipping = false;        // inside a line that was too long, until its break
  bool reading = false;         // standard input is a source of the run loop
  bool ended = false;           // end of input (or a read error) was seen
  bool failed = false;          // standard input could not be read
  bool takingCommands = false;  // inside nextCommand()
  bool anotherCommand = false;  // nextCommand() was asked for again meanwhile
};

struct HomeScreen {
  id application;
  id alertWindow;
  id titleLabel;
  id numberLabel;
  id declineButton;  // "Decline" (or "End" for a call being placed)
  id acceptButton;
  id currentCall;
  bool alertShown = false;
  bool commandRunning = false;  // a command's effects are still queued
  CommandInput input;
  bool verbose = false;     // print the subviews with the window
  std::string picturePath;  // where to draw the ringing alert, if anywhere
  bool pictureFailed = false;
};

HomeScreen& home() {
  static HomeScreen* screen = new HomeScreen;
  return *screen;
}

// -[SpringBoard applicationDidFinishLaunching:]: the home screen's own launch
// work (nothing to do here).
void springBoardDidFinishLaunching(id, SEL, id) {}

// -[SBAlertWindow stackedAlertsIncludingActiveAlert:]: the alerts the window
// stacks, the active one included when asked.
id alertWindowStackedAlerts(id, SEL, BOOL includingActiveAlert) {
  std::vector<id> alerts;
  if (home().alertShown && includingActiveAlert)
    alerts.push_back(NSString::fromUtf8("SBCallAlert"));
  return NSArray::make(std::move(alerts));
}

void registerHomeScreenClasses() {
  host::registerUIKitClasses();
  Class springBoard = objc_registerClass("SpringBoard", NSObjectClass());
  class_addMethod(springBoard, sel_registerName("applicationDidFinishLaunching:"),
                  &springBoardDidFinishLaunching);
  Class alertWindow = objc_registerClass("SBAlertWindow", objc_getClass("UIWindow"));
  class_addMethod(alertWindow, sel_registerName("stackedAlertsIncludingActiveAlert:"),
                  &alertWindowStackedAlerts);
}

id makeLabel(CGRect frame) {
  id label = msg<id(CGRect)>(msg<id()>(objc_getClass("UILabel"), "alloc"), "initWithFrame:", frame);
  msg<void(NSInteger)>(label, "setTextAlignment:", NSTextAlignmentCenter);
  msg<void(id)>(label, "setTextColor:", msg<id()>(objc_getClass("UIColor"), "whiteColor"));
  return label;
}

id colour(CGFloat red, CGFloat green, CGFloat blue) {
  return msg<id(CGFloat, CGFloat, CGFloat, CGFloat)>(
      objc_getClass("UIColor"), "colorWithRed:green:blue:alpha:", red, green, blue, 1.0);
}

void buildAlertWindow() {
  HomeScreen& screen = home();
  screen.alertWindow = msg<id(CGRect)>(msg<id()>(objc_getClass("SBAlertWindow"), "alloc"),
                                       "initWithFrame:", CGRectMake(0, 0, 320, 480));
  msg<void(id)>(screen.alertWindow, "setBackgroundColor:", colour(0.11, 0.13, 0.18));
  screen.titleLabel = makeLabel(CGRectMake(0, 176, 320, 22));
  screen.numberLabel = makeLabel(CGRectMake(0, 220, 320, 22));
  // The buttons are placed when a call shows them.
  screen.declineButton = makeLabel(CGRectMake(0, 0, 0, 0));
  screen.acceptButton = makeLabel(CGRectMake(0, 0, 0, 0));
  for (const id& view :
       {screen.titleLabel, screen.numberLabel, screen.declineButton, screen.acceptButton}) {
    msg<void(id)>(screen.alertWindow, "addSubview:", view);
  }
}

// Shows one of the alert's buttons with `text` on `background` at `frame`, or
// hides it for a nil text.
void showButton(const id& button, CGRect frame, const char* text, const id& background) {
  msg<void(CGRect)>(button, "setFrame:", frame);
  msg<void(id)>(button, "setText:", text ? NSString::fromUtf8(text) : nil);
  msg<void(id)>(button, "setBackgroundColor:", text ? background : nil);
}

// The buttons below the number: Decline and Accept while a call rings in, End
// while one is being placed, none otherwise.
void showButtons(int status) {
  HomeScreen& screen = home();
  const id red = colour(0.92, 0.26, 0.21);
  const id green = colour(0.2, 0.72, 0.33);
  const bool incoming = status == kCTCallStatusIncoming;
  const bool dialing = status == kCTCallStatusDialing;
  const char* declineText = incoming ? "Decline" : dialing ? "End" : nullptr;
  showButton(screen.declineButton,
             incoming ? CGRectMake(40, 352, 104, 44) : CGRectMake(108, 352, 104, 44), declineText,
             red);
  showButton(screen.acceptButton, CGRectMake(176, 352, 104, 44), incoming ? "Accept" : nullptr,
             green);
}

// Asks the window for its alerts, as the home screen does whenever the call
// alert is shown or refreshed.
void refreshAlert() {
  id alerts = msg<id(BOOL)>(home().alertWindow, "stackedAlertsIncludingActiveAlert:", true);
  (void)alerts;
}

// The home screen's own view of the telephony service: it updates the call
// alert on the next turn of the run loop, as the real one does.
void observeCalls(CFNotificationCenterRef, void*, CFStringRef name, const void*,
                  CFDictionaryRef userInfo) {
  // The home screen posts these notifications itself, so their contents are
  // of the expected kinds.
  if (!valuesEqual(name, kCTCallStatusChangeNotification)) return;
  const int status = ns::intValue(ns::objectForKey(userInfo, kCTCallStatus));
  const id number = CTCallCopyAddress(kCFAllocatorDefault, ns::objectForKey(userInfo, "kCTCall"));
  host::RunLoop::main().perform([status, number] {
    HomeScreen& screen = home();
    const char* title = status == kCTCallStatusIncoming   ? "Incoming call"
                        : status == kCTCallStatusDialing  ? "Calling"
                        : status == kCTCallStatusAnswered ? "Connected"
                                                          : "Call ended";
    screen.alertShown = status == kCTCallStatusIncoming || status == kCTCallStatusDialing;
    msg<void(id)>(screen.titleLabel, "setText:", NSString::fromUtf8(title));
    if (screen.alertShown) msg<void(id)>(screen.numberLabel, "setText:", number);
    showButtons(status);
    refreshAlert();
  });
}

void printWindow(const std::string& command) {
  HomeScreen& screen = home();
  std::cout << "-- " << command << "\n"
            << host::drawWindow(screen.alertWindow, {.subviews = screen.verbose}) << std::flush;
  if (screen.alertShown && !screen.picturePath.empty()) {
    if (std::string error = host::writeWindowPng(screen.alertWindow, screen.picturePath);
        !error.empty()) {
      std::cerr << "SpringBoard: " << error << "\n";
      screen.pictureFailed = true;
    }
  }
}

void handleLine(const std::string& line);
void nextCommand();
void readInput();

// Watches standard input again once every line read so far has run.
void resumeReading() {
  CommandInput& input = home().input;
  if (input.reading || input.ended) return;
  input.reading = true;
  host::RunLoop::main().addSource(STDIN_FILENO, &readInput);
}

void pauseReading() {
  CommandInput& input = home().input;
  if (!input.reading) return;
  input.reading = false;
  host::RunLoop::main().removeSource(STDIN_FILENO);
}

// Runs the next complete line of input, if any; each command gets its own
// turn of the run loop so that what it set off happens first.
void takeCommand() {
  HomeScreen& screen = home();
  if (screen.commandRunning) return;
  CommandInput& input = screen.input;
  if (input.lines.empty()) {
    if (!input.ended) {
      resumeReading();
    } else {
      host::RunLoop::main().perform([] { host::RunLoop::main().stop(); });
    }
    return;
  }
  std::optional<std::string> line = std::move(input.lines.front());
  input.lines.pop_front();
  if (line) {
    handleLine(*line);
  } else {
    std::cout << "SpringBoard: command line skipped: longer than " << kCommandLimit << " bytes\n"
              << std::flush;
    nextCommand();
  }
}

// Takes commands until one is running or none is left. A command that runs
// at once asks for the next one from within; that request is served by this
// loop, so a run of such lines does not nest calls.
void nextCommand() {
  CommandInput& input = home().input;
  if (input.takingCommands) {
    input.anotherCommand = true;
    return;
  }
  input.takingCommands = true;
  do {
    input.anotherCommand = false;
    takeCommand();
  } while (input.anotherCommand);
  input.takingCommands = false;
}

// Adds `bytes` read from standard input to the lines waiting to run.
void takeBytes(std::string_view bytes) {
  CommandInput& input = home().input;
  while (!bytes.empty()) {
    size_t lineEnd = bytes.find('\n');
    std::string_view piece = bytes.substr(0, lineEnd);
    if (!input.skipping && input.partial.size() + piece.size() > kCommandLimit) {
      input.lines.emplace_back(std::nullopt);
      input.partial.clear();
      input.skipping = true;
    }
    if (!input.skipping) input.partial.append(piece);
    if (lineEnd == std::string_view::npos) return;
    if (!input.skipping) input.lines.emplace_back(std::move(input.partial));
    input.partial.clear();
    input.skipping = false;
    bytes.remove_prefix(lineEnd + 1);
  }
}

void readInput() {
  CommandInput& input = home().input;
  char buffer[4096];
  ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
  if (got < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (got < 0) {
    // Closed, a folder, or failing: said, and the home screen stops as at
    // the end of its input, with status 1.
    std::cerr << "SpringBoard: " << apps::describeInputFailure(errno) << "\n";
    input.failed = true;
  }
  if (got <= 0) {
    pauseReading();
    input.ended = true;
    // The last line may lack its line break.
    if (!input.skipping && !input.partial.empty())
      input.lines.emplace_back(std::move(input.partial));
    input.partial.clear();
  } else {
    takeBytes(std::string_view(buffer, static_cast<size_t>(got)));
    if (!input.lines.empty()) pauseReading();
  }
  nextCommand();
}

// `text` without the blanks (spaces, tabs, a CR of a CR LF) around it.
std::string_view trimmed(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r";
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) + 1 - first);
}

void handleLine(const std::string& rawLine) {
  // Blanks around the command, and between its word and its number, belong
  // to neither.
  const std::string line(trimmed(rawLine));
  const size_t blank = line.find_first_of(" \t");
  std::string command = line.substr(0, blank);
  std::string argument =
      blank == std::string::npos ? "" : std::string(trimmed(std::string_view(line).substr(blank)));
  auto after = [line] {
    printWindow(line);
    home().commandRunning = false;
    nextCommand();
  };
  if (command.empty()) {
    nextCommand();
    return;
  }
  if (command == "call" || command == "outgoing") {
    if (argument.empty()) {
      std::cout << "SpringBoard: " << command << " needs a number\n" << std::flush;
      nextCommand();
      return;
    }
    home().currentCall = host::makeCall(NSString::fromUtf8(argument));
    host::postCallStatus(home().currentCall,
                         command == "call" ? kCTCallStatusIncoming : kCTCallStatusDialing);
  } else if (command == "answer") {
    host::postCallStatus(home().currentCall, kCTCallStatusAnswered);
  } else if (command == "end") {
    host::postCallStatus(home().currentCall, kCTCallStatusDisconnected);
    home().currentCall = nil;
  } else if (command == "refresh") {
    host::RunLoop::main().perform(&refreshAlert);
  } else if (command == "quit") {
    home().commandRunning = true;  // nothing after it is read
    host::RunLoop::main().perform([] { host::RunLoop::main().stop(); });
    return;
  } else {
    std::cout << "SpringBoard: unknown command \"" << command
              << "\" (call, outgoing, answer, end, refresh, quit)\n"
              << std::flush;
    nextCommand();
    return;
  }
  home().commandRunning = true;
  host::RunLoop::main().perform(after);
}

}  // namespace

int main(int argc, char** argv) {
  apps::guardStandardDescriptors();
  apps::CommonOptions options = apps::parseCommonOptions(
      std::vector<std::string>(argv + 1, argv + argc), {"--png", "--verbose"});
  for (size_t i = 0; options.error.empty() && i < options.rest.size(); ++i) {
    const std::string& argument = options.rest[i];
    if (argument == "--verbose") {
      home().verbose = true;
    } else if (argument == "--png" && i + 1 < options.rest.size() && !options.rest[i + 1].empty()) {
      home().picturePath = options.rest[++i];
    } else if (argument == "--png") {
      options.error = "--png needs a file name";
    } else {
      options.error = "unexpected argument " + argument;
    }
  }
  if (int status = apps::startHost("SpringBoard", options)) return status;

  registerHomeScreenClasses();
  CTTelephonyCenterAddObserver(CTTelephonyCenterGetDefault(), nullptr, &observeCalls, nil, nullptr,
                               CFNotificationSuspensionBehaviorDeliverImmediately);
  const std::vector<std::string> loaded =
      apps::loadHostExtensions("SpringBoard", kBundleIdentifier);

  buildAlertWindow();
  home().application = msg<id()>(msg<id()>(objc_getClass("SpringBoard"), "alloc"), "init");
  msg<void(id)>(home().application, "applicationDidFinishLaunching:", home().application);

  std::cout << "SpringBoard: home screen up";
  for (const auto& name : loaded) std::cout << ", " << name << " loaded";
  std::cout << "\n" << std::flush;

  resumeReading();
  host::RunLoop::main().run();
  return home().pictureFailed || home().input.failed ? 1 : 0;
}
