// MobilePhone: the simulated phone application, showing its Recents list.
//
//   MobilePhone [--root DIR] [--region XX] [--again] [--png FILE] [--verbose] NUMBER...
//
// It registers the phone application's classes (PHRecentsViewController and
// the Recents cell, whose own class has the instance variables
// _callerNameLabel and _callerLabelLabel), lets the extension loader load what
// is meant for "com.apple.mobilephone", and shows one Recents row per number:
// the list comes on screen (-viewDidAppear:), then for each row the host sets
// the cell's labels (the number, and a caller kind such as "mobile") and calls
// -tableView:willDisplayCell:forRowAtIndexPath:. It prints the rows as shown.
// With --again the list is shown a second time without the labels being set
// anew, as when rows scroll back into view. --verbose prints the Recents
// screen after each list as well, with the list of its subviews; --png FILE
// draws the screen as it is shown last into FILE, a PNG picture (a picture
// that cannot be written is reported on standard error, exit status 1).
#include <iomanip>
#include <iostream>
#include <string>
#include <vector>

#include "common/host_start.h"
#include "common/standard_streams.h"
#include "host/foundation/values.h"
#include "host/runtime/objc.h"
#include "host/ui/draw_png.h"
#include "host/ui/uikit.h"

namespace {

constexpr const char* kBundleIdentifier = "com.apple.mobilephone";
constexpr const char* kCallerKinds[] = {"mobile", "home", "work", "iPhone"};
constexpr CGFloat kScreenWidth = 320;
constexpr CGFloat kScreenHeight = 480;
constexpr CGFloat kTitleHeight = 64;  // the status bar and the title "Recents"
constexpr CGFloat kRowHeight = 60;

// The host's own parts of the two methods: nothing beyond what UIKit does.
void recentsViewDidAppear(id, SEL, BOOL) {}
void recentsWillDisplayCell(id, SEL, id, id, id) {}

void registerPhoneClasses() {
  host::registerUIKitClasses();
  Class controller = objc_registerClass("PHRecentsViewController", NSObjectClass());
  class_addMethod(controller, sel_registerName("viewDidAppear:"), &recentsViewDidAppear);
  class_addMethod(controller, sel_registerName("tableView:willDisplayCell:forRowAtIndexPath:"),
                  &recentsWillDisplayCell);
  Class cell = objc_registerClass("PHRecentsCell", objc_getClass("UIView"));
  class_addIvar(cell, "_callerNameLabel");
  class_addIvar(cell, "_callerLabelLabel");
}

id makeView(const char* className, CGRect frame) {
  return msg<id(CGRect)>(msg<id()>(objc_getClass(className), "alloc"), "initWithFrame:", frame);
}

id makeLabel(CGRect frame) {
  return makeView("UILabel", frame);
}

id colour(CGFloat red, CGFloat green, CGFloat blue) {
  return msg<id(CGFloat, CGFloat, CGFloat, CGFloat)>(
      objc_getClass("UIColor"), "colorWithRed:green:blue:alpha:", red, green, blue, 1.0);
}

// A hairline between rows, `indent` points from the left edge.
id makeSeparator(CGFloat y, CGFloat indent) {
  id line = makeView("UIView", CGRectMake(indent, y, kScreenWidth - indent, 0.5));
  msg<void(id)>(line, "setBackgroundColor:", colour(0.78, 0.78, 0.8));
  return line;
}

struct Row {
  id cell;
  id nameLabel;
  id kindLabel;
};

Row makeRow(size_t index) {
  Row row;
  row.cell = makeView("PHRecentsCell", CGRectMake(0, kRowHeight * static_cast<CGFloat>(index),
                                                  kScreenWidth, kRowHeight));
  row.nameLabel = makeLabel(CGRectMake(16, 8, 288, 24));
  row.kindLabel = makeLabel(CGRectMake(16, 32, 288, 20));
  msg<void(id)>(row.kindLabel, "setTextColor:", colour(0.52, 0.52, 0.56));
  msg<void(id)>(row.cell, "addSubview:", row.nameLabel);
  msg<void(id)>(row.cell, "addSubview:", row.kindLabel);
  msg<void(id)>(row.cell, "addSubview:", makeSeparator(kRowHeight - 0.5, 16));
  Class cellClass = object_getClass(row.cell);
  object_setIvar(row.cell, class_getInstanceVariable(cellClass, "_callerNameLabel"), row.nameLabel);
  object_setIvar(row.cell, class_getInstanceVariable(cellClass, "_callerLabelLabel"),
                 row.kindLabel);
  return row;
}

std::string textOf(const id& label) {
  id text = msg<id()>(label, "text");
  return text ? toUtf8(objectAs<NSString>(text)->units()) : std::string();
}

void printList(const std::vector<Row>& rows, const char* heading) {
  std::cout << heading << "\n";
  for (size_t i = 0; i < rows.size(); ++i) {
    std::cout << std::setw(3) << i << "  " << std::left << std::setw(24)
              << textOf(rows[i].nameLabel) << std::right << "  " << textOf(rows[i].kindLabel)
              << "\n";
  }
  std::cout << std::flush;
}

}  // namespace

int main(int argc, char** argv) {
  apps::guardStandardDescriptors();
  apps::CommonOptions options = apps::parseCommonOptions(
      std::vector<std::string>(argv + 1, argv + argc), {"--again", "--png", "--verbose"});
  bool again = false;
  bool verbose = false;
  std::string picturePath;
  std::vector<std::string> numbers;
  for (size_t i = 0; i < options.rest.size(); ++i) {
    const std::string& argument = options.rest[i];
    if (argument == "--again") {
      again = true;
    } else if (argument == "--verbose") {
      verbose = true;
    } else if (argument == "--png") {
      if (i + 1 >= options.rest.size() || options.rest[i + 1].empty()) {
        if (options.error.empty()) options.error = "--png needs a file name";
      } else {
        picturePath = options.rest[++i];
      }
    } else {
      numbers.push_back(argument);
    }
  }
  if (int status = apps::startHost("MobilePhone", options)) return status;

  registerPhoneClasses();
  const std::vector<std::string> loaded =
      apps::loadHostExtensions("MobilePhone", kBundleIdentifier);

  id controller = msg<id()>(msg<id()>(objc_getClass("PHRecentsViewController"), "alloc"), "init");
  // The screen: a white window with the title above the table of rows.
  id window = makeView("UIWindow", CGRectMake(0, 0, kScreenWidth, kScreenHeight));
  msg<void(id)>(window, "setBackgroundColor:", msg<id()>(objc_getClass("UIColor"), "whiteColor"));
  id title = makeLabel(CGRectMake(0, 20, kScreenWidth, kTitleHeight - 20));
  msg<void(id)>(title, "setText:", NSString::fromUtf8("Recents"));
  msg<void(NSInteger)>(title, "setTextAlignment:", NSTextAlignmentCenter);
  msg<void(id)>(window, "addSubview:", title);
  msg<void(id)>(window, "addSubview:", makeSeparator(kTitleHeight - 0.5, 0));
  id tableView =
      makeView("UIView", CGRectMake(0, kTitleHeight, kScreenWidth, kScreenHeight - kTitleHeight));
  msg<void(id)>(window, "addSubview:", tableView);
  std::vector<Row> rows;
  for (size_t i = 0; i < numbers.size(); ++i) {
    rows.push_back(makeRow(i));
    msg<void(id)>(tableView, "addSubview:", rows.back().cell);
  }

  auto display = [&](bool setLabels) {
    msg<void(BOOL)>(controller, "viewDidAppear:", true);
    for (size_t i = 0; i < rows.size(); ++i) {
      if (setLabels) {
        msg<void(id)>(rows[i].nameLabel, "setText:", NSString::fromUtf8(numbers[i]));
        msg<void(id)>(rows[i].kindLabel,
                      "setText:", NSString::fromUtf8(kCallerKinds[i % std::size(kCallerKinds)]));
      }
      id indexPath = msg<id(NSInteger, NSInteger)>(
          objc_getClass("NSIndexPath"), "indexPathForRow:inSection:", static_cast<NSInteger>(i),
          NSInteger{0});
      msg<void(id, id, id)>(controller, "tableView:willDisplayCell:forRowAtIndexPath:", tableView,
                            rows[i].cell, indexPath);
    }
  };

  auto printScreen = [&] {
    if (verbose) {
      std::cout << "Recents screen:\n"
                << host::drawWindow(window, {.subviews = true}) << std::flush;
    }
  };
  display(true);
  std::string heading = "Recents";
  for (const auto& name : loaded) heading += " (" + name + " loaded)";
  printList(rows, heading.c_str());
  printScreen();
  if (again) {
    display(false);
    printList(rows, "Recents, shown again");
    printScreen();
  }
  if (!picturePath.empty()) {
    if (std::string error = host::writeWindowPng(window, picturePath); !error.empty()) {
      std::cerr << "MobilePhone: " << error << "\n";
      return 1;
    }
  }
  return 0;
}
