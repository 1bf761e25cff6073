#pragma once

#include <filesystem>

#include "common/yield.h"
#include "remote/ftp_control.h"
#include "remote/sftp_component.h"

namespace vs {

// The real remote components of the installed program.
SftpComponentFactory sftpComponentFactory(const std::filesystem::path& programFolder,
                                          YieldFn yield);
FtpControlFactory ftpControlFactory(YieldFn yield);

}  // namespace vs
