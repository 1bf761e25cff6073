#include "shell/program_folder.h"

#include <cstdlib>
#include <system_error>

namespace vs {

std::filesystem::path programFolder() {
    if (const char* home = std::getenv("VALTRASSOSFTP_HOME"); home && *home)
        return std::filesystem::absolute(home);
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return std::filesystem::current_path();
    return exe.parent_path();
}

}  // namespace vs
