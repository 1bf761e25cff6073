#pragma once

namespace vs {

inline constexpr const char* kHelpText =
    R"(Usage: valtrassosftp [plus:Y] [ope:CODE] [mod:auto|mod:asp] [once:y] [--headless]
       valtrassosftp --check [--connect]
       valtrassosftp --history [TEXT]

Unattended file-transfer scheduler: every few seconds it checks up to 51 transfer jobs and
downloads or uploads the files that are due over SFTP, FTP or FTP over TLS.

Switches (a token carries a switch when it contains the key; the last one wins):
  plus:Y       start even when another instance of this program folder is running
  ope:CODE     operator whose automail and report files are picked (default TUTTI)
  mod:auto     run cycles on the timer at the interval of the settings ("deltatime")
  mod:asp      run one cycle at start-up; the program ends after it
  once:y       stop the timer after the first cycle it starts
  --headless   no window and no tray icon; every log line is also printed on standard
               output; SIGTERM, SIGINT and SIGHUP end the program in order. Implied when no
               display is available. Needs mod:auto or mod:asp.
  --check      read the settings as a run would, say what was understood and every problem
               found, and exit; nothing is connected to, nothing changes
  --connect    with --check: also log in, list every job's remote folder and say what a
               cycle would move now (nothing is transferred or deleted)
  --history [TEXT]
               print the journal of transfers, newest first, one line per file transfer
               (tab-separated: finished, job, direction, remote path, local path, size,
               modified, SHA-256, resumed from, outcome, detail); with TEXT only the rows
               whose remote or local path contains it
  --help       this text
  --version    the program's version and the libssh2 it runs with

Exit status (mod:asp without a window, and --check):
  0  clean cycle, or nothing to do; --check: the settings are usable
  1  errors, or no connection; --check --connect: a connection or a folder failed
  2  nothing can run: no settings file, an unreadable one, no usable job, no host, an
     unknown server type; or no mode without a window
  3  mod:asp while another instance runs in the same program folder
  128+N  ended by signal N (SIGTERM 143, SIGHUP 129, SIGINT 130) before the cycle finished

Settings: section [PARAMETRI] of the settings file; every key is in the manual page
(man valtrassosftp) and the annotated example
/usr/share/doc/valtrassosftp/examples/valtrassosftp.ini.

Environment:
  VALTRASSOSFTP_HOME       the program folder (default: the executable's folder)
  VALTRASSOSFTP_SETTINGS   the settings file; wins over both places below
  VALTRASSOSFTP_JOURNAL    the journal of transfers (default: <program folder>/journal.db)
  VALTRASSOSFTP_METRICS    the metrics file (default:
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
  <program folder>/valtrassosftp.prom    metrics (Prometheus text format)
)";

}  // namespace vs
