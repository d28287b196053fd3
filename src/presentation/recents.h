// The area after the caller kind in the first rows of the Recents list.
//
// hook_Recents_viewDidAppear replaces -[PHRecentsViewController viewDidAppear:]:
// after the host's own method it re-reads the preferences (loadPrefs), so a
// changed "recents" count applies each time the list comes on screen.
//
// hook_Recents_willDisplayCell replaces
// -[PHRecentsViewController tableView:willDisplayCell:forRowAtIndexPath:]:
// after the host has set up the cell, for a row whose number is below
// recentsToShow (any section), it looks up the text of the cell's
// _callerNameLabel and, when an area is found, appends ": " and the area to
// the text of its _callerLabelLabel, in two setText: calls. A label that
// already ends with ": " and that area is left as it is, so a row shown again
// is not annotated twice. The instance variables are found by name on the
// cell's own class; a cell without them is left untouched. phoneNumber and
// area are emptied at the end of every row that completes without an
// NSException; after one they keep what they held.
#pragma once

#include "host/foundation/object.h"

// The separator put between the caller kind and the area.
inline constexpr char16_t kAreaSeparator[] = u": ";

void hook_Recents_viewDidAppear(id self, SEL _cmd, BOOL animated);
void hook_Recents_willDisplayCell(id self, SEL _cmd, id tableView, id cell, id indexPath);
