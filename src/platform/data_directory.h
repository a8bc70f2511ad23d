#pragma once
// The agent's fixed data folder, c:\nivra, shared by every user's agent.

#include "platform/package_names.h"

#include <string>

namespace keyhaven {

// The security the agent gives c:\nivra when it makes the folder itself.
extern const char data_folder_sddl[];

// "c:\nivra\" once the folder exists or was created; empty otherwise, so that
// callers fall back to the current directory. Creates the folder on demand.
// A file, or a reparse point (a junction or a link that could lead anywhere),
// standing at that path is no data folder, and neither is a folder whose
// handle ends elsewhere. (data_directory.cpp)
std::string data_directory();

// "c:\nivra\" when the folder already exists as a real folder; empty
// otherwise. Creates nothing, for programs that only look.
std::string existing_data_directory();

// "c:\nivra\" whether or not anything stands there, for messages about it.
std::string data_directory_path();

// Whether anything (a file, a reparse point, a folder) stands at c:\nivra, or
// whether that cannot be known; false only when the path is clearly free, as
// when c:\ merely refuses a new folder.
bool something_stands_at_data_directory();

}  // namespace keyhaven
