#pragma once
// The plug-in's security as the registration reads it (plugin_registration.cpp).

#include <windows.h>

#include <string>

// The SID of the user this process runs as ("S-1-5-21-..."), "" if unknown.
std::string current_user_sid();

// True when the descriptor's owner and DACL let only trusted accounts
// change the file (plugin_trust.h); false for a descriptor that cannot be read.
bool plugin_security_allows_registration(PSECURITY_DESCRIPTOR descriptor, const std::string& current_user);
