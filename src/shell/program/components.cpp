#include "shell/program/components.h"

#include "remote/ftp/ftp_control_factory.h"
#include "remote/sftp/sftp_component_factory.h"

namespace vs {

SftpComponentFactory sftpComponentFactory(const std::filesystem::path& programFolder,
                                          YieldFn yield) {
    const std::string knownHosts = (programFolder / "known_hosts").string();
    return [yield, knownHosts](BandwidthLimit* limit) {
        auto component = makeLibssh2SftpComponent(yield, limit);
        component->setKnownHostsFile(knownHosts);
        return component;
    };
}

FtpControlFactory ftpControlFactory(YieldFn yield) {
    return [yield](BandwidthLimit* limit) { return makeCurlFtpControl(yield, {}, limit); };
}

}  // namespace vs
