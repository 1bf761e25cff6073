// valtrassosftp --check [--connect]: the settings read exactly as a run reads them, and said.
#include "cycle/dry_run.h"
#include "shell/program.h"
#include "shell/settings_report.h"

namespace vs {

int Program::check(bool connect) {
    // Nothing on the disk changes: no log file, no staging folder, no leftovers removed.
    log.keepOffDisk();
    auto [settingsPath, lookedAt] = settingsLocation(config_);
    settings.setSettingsPath(std::move(settingsPath), std::move(lookedAt));
    settings.leggi_ini();
    logSettingsReport();
    if (!settings.usable()) return kExitConfigInvalid;
    if (!connect) return 0;

    // Nothing is transferred, so no bandwidth limit.
    if (settings.serverType == ServerType::Sftp && sftpFactory_) Sftp1 = sftpFactory_(nullptr);
    if (ftpFactory_) kftp = ftpFactory_(nullptr);
    createSessions();
    const RemoteServer remote = remoteServer();
    if (!remote.session) return 1;
    return dryRun({clock_, log, settings, operatorCode, *remote.session, remote.listing}) ? 0 : 1;
}

}  // namespace vs
