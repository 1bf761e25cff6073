#include "shell/app/components.h"

#include "remote/ftp/curl_ftp_control.h"

namespace vs {

SftpComponentFactory sftpComponentFactory(const std::filesystem::path&, YieldFn) {
    return {};
}

FtpControlFactory ftpControlFactory(YieldFn yield) {
    return [yield] { return makeCurlFtpControl(yield); };
}

}  // namespace vs
