#include "shell/app/components.h"

namespace vs {

SftpComponentFactory sftpComponentFactory(const std::filesystem::path&, YieldFn) {
    return {};
}

FtpControlFactory ftpControlFactory(YieldFn) { return {}; }

}  // namespace vs
