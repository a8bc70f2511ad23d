#include "desktop/desktop_chores.h"

void reregister_plugin_dll() {}
