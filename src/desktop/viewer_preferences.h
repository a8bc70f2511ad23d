#pragma once

namespace keyhaven {
// A one-shot start-up chore for the maker's portal, run when init_plugin
// is 1; it logs its own outcome and reports nothing back.

// Copies the forms viewer's preferences from the all-users profile into the
// user's roaming application data.
void copy_viewer_preferences();

}  // namespace keyhaven
