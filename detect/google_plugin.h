#pragma once
#include <string>

namespace platform { class Platform; }

// Fills folder with the desktop gadget plug-in folder from the current
// user's registry; leaves it unchanged when the key is missing. Always false:
// callers use the text.
bool get_google_plugin_dir(platform::Platform& os, std::string& folder);
