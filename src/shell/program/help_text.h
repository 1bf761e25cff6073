#pragma once

namespace vs {

inline constexpr const char* kHelpText =
    R"(Usage: valtrassosftp [plus:Y] [ope:CODE] [mod:auto|mod:asp] [once:y] [--headless]

Unattended file-transfer scheduler: every few seconds it checks up to 51 transfer jobs and
downloads or uploads the files that are due over SFTP, FTP or FTP over TLS.

Switches (a token carries a switch when it contains the key; the last one wins):
  plus:Y       start even when another instance of this program folder is running
  ope:CODE     operator whose automail and report files are picked (default TUTTI)
  mod:auto     run cycles on the timer at the interval of the settings ("deltatime")
  mod:asp      run one cycle at start-up; the program ends after it
  once:y       stop the timer after the first cycle it starts
  --headless   no window and no tray icon; every log line is also printed on standard
               output; SIGTERM and SIGINT end the program in order. Implied when no display
               is available. In mod:asp the exit code is 0 after a clean cycle (or when
               there was nothing to do) and 1 after errors, a failed connection or a
               settings file that exists but cannot be read.
  --history [TEXT]
               print the journal of transfers, newest first, one line per file transfer
               (tab-separated: finished, job, direction, remote path, local path, size,
               modified, SHA-256, resumed from, outcome, detail); with TEXT only the rows
               whose remote or local path contains it
  --help       this text
  --version    the program's version

Environment:
  VALTRASSOSFTP_HOME       the program folder (default: the executable's folder)
  VALTRASSOSFTP_SETTINGS   the settings file; wins over both places below
  VALTRASSOSFTP_JOURNAL    the journal of transfers (default: <program folder>/journal.db)
  VALTRASSOSFTP_METRICS    the metrics file of a headless run (default:
                           <program folder>/valtrassosftp.prom)

Files:
  /etc/valtrassosftp/valtrassosftp.ini   settings, used when it exists
  <program folder>/valtrassosftp.ini     settings otherwise (section [PARAMETRI])
  <program folder>/log/                  daily logs sftp_log_<weekday>_<day>.txt, kept one week
  <program folder>/tempozipftp/          staging folder for downloads (parziali/: large
                                         downloads cut off, kept to be resumed)
  <program folder>/journal.db            journal of transfers (SQLite)
  <program folder>/known_hosts           SFTP host keys (OpenSSH format)
  <program folder>/known_certs           FTPS certificate pins (host:port sha256//...)
  <program folder>/valtrassosftp.prom    metrics of a headless run (Prometheus text format)
)";

}  // namespace vs
