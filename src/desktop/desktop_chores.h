#pragma once
// The two one-shot start-up chores for the maker's portal, run when
// init_plugin is 1. Each logs its own outcome and reports nothing back.

// Copies the forms viewer's preferences from the all-users profile into the
// user's roaming application data.
void copy_viewer_preferences();

// Unregisters and, four seconds later, registers the portal's plug-in DLL
// with regsvr32.
void reregister_plugin_dll();
