// MobilePhone: the simulated phone application, showing its Recents list.
//
//   MobilePhone [--root DIR] [--region XX] [--again] NUMBER...
//
// It registers the phone application's classes (PHRecentsViewController and
// the Recents cell, whose own class has the instance variables
// _callerNameLabel and _callerLabelLabel), lets the extension loader load what
// is meant for "com.apple.mobilephone", and shows one Recents row per number:
// the list comes on screen (-viewDidAppear:), then for each row the host sets
// the cell's labels (the number, and a caller kind such as "mobile") and calls
// -tableView:willDisplayCell:forRowAtIndexPath:. It prints the rows as shown.
// With --again the list is shown a second time without the labels being set
// anew, as when rows scroll back into view.
#include <iomanip>
#include <iostream>
#include <string>
#include <vector>

#include "common/host_start.h"
#include "host/foundation/values.h"
#include "host/runtime/objc.h"
#include "host/ui/uikit.h"

namespace {

constexpr const char* kBundleIdentifier = "com.apple.mobilephone";
constexpr const char* kCallerKinds[] = {"mobile", "home", "work", "iPhone"};
constexpr CGFloat kRowHeight = 44;

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

id makeLabel(CGRect frame) {
  return msg<id(CGRect)>(msg<id()>(objc_getClass("UILabel"), "alloc"), "initWithFrame:", frame);
}

struct Row {
  id cell;
  id nameLabel;
  id kindLabel;
};

Row makeRow(size_t index) {
  Row row;
  row.cell = msg<id(CGRect)>(
      msg<id()>(objc_getClass("PHRecentsCell"), "alloc"),
      "initWithFrame:", CGRectMake(0, kRowHeight * static_cast<CGFloat>(index), 320, kRowHeight));
  row.nameLabel = makeLabel(CGRectMake(16, 4, 288, 20));
  row.kindLabel = makeLabel(CGRectMake(16, 24, 288, 16));
  msg<void(id)>(row.cell, "addSubview:", row.nameLabel);
  msg<void(id)>(row.cell, "addSubview:", row.kindLabel);
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
  apps::CommonOptions options =
      apps::parseCommonOptions(std::vector<std::string>(argv + 1, argv + argc), {"--again"});
  bool again = false;
  std::vector<std::string> numbers;
  for (const auto& argument : options.rest) {
    if (argument == "--again") {
      again = true;
    } else {
      numbers.push_back(argument);
    }
  }
  if (int status = apps::startHost("MobilePhone", options)) return status;

  registerPhoneClasses();
  const std::vector<std::string> loaded =
      apps::loadHostExtensions("MobilePhone", kBundleIdentifier);

  id controller = msg<id()>(msg<id()>(objc_getClass("PHRecentsViewController"), "alloc"), "init");
  id tableView = msg<id(CGRect)>(msg<id()>(objc_getClass("UIView"), "alloc"),
                                 "initWithFrame:", CGRectMake(0, 0, 320, 480));
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

  display(true);
  std::string heading = "Recents";
  for (const auto& name : loaded) heading += " (" + name + " loaded)";
  printList(rows, heading.c_str());
  if (again) {
    display(false);
    printList(rows, "Recents, shown again");
  }
  return 0;
}
