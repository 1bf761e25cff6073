#include "shell/app/components.h"

#include "remote/ftp/curl_ftp_control.h"
#include "remote/sftp/libssh2_sftp_component.h"

namespace vs {

SftpComponentFactory sftpComponentFactory(const std::filesystem::path& programFolder,
                                          YieldFn yield) {
    const std::string knownHosts = (programFolder / "known_hosts").string();
    return [yield, knownHosts] {
        auto component = makeLibssh2SftpComponent(yield);
        component->setKnownHostsFile(knownHosts);
        return component;
    };
}

FtpControlFactory ftpControlFactory(YieldFn yield) {
    return [yield] { return makeCurlFtpControl(yield); };
}

}  // namespace vs
