#pragma once

namespace keyhaven {
// A one-shot start-up chore for the maker's portal, run after the viewer
// preferences when init_plugin is 1; it logs its own outcome and reports
// nothing back.

// Unregisters and, four seconds later, registers the portal's plug-in DLL
// with regsvr32.
void reregister_plugin_dll();

}  // namespace keyhaven
