#include "desktop/desktop_chores.h"

void copy_viewer_preferences() {}
