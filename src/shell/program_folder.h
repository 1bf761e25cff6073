#pragma once

#include <filesystem>

namespace vs {

// The program's folder: VALTRASSOSFTP_HOME when set and not empty, else the executable's.
std::filesystem::path programFolder();

// The fixed settings path that wins over the program folder's file when it exists.
inline const std::filesystem::path kFixedSettingsPath = "/etc/valtrassosftp/valtrassosftp.ini";

}  // namespace vs
