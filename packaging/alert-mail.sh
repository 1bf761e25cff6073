#!/bin/sh
# Example alert command for ValtrassoSftp: mails the event to the addresses given.
#
#   [PARAMETRI]
#   alertcommand=/usr/share/valtrassosftp/alert-mail.sh ops@example.com
#   alertafter=3
#
# The program runs it without a shell, once when it starts failing and once when a clean
# cycle follows, with VALTRASSOSFTP_EVENT (failing or recovered), VALTRASSOSFTP_HOME,
# VALTRASSOSFTP_FAILING_CYCLES and VALTRASSOSFTP_LAST_ERROR set; it logs the exit status and
# the first line printed, and kills the command after 30 s.
#
# Needs `mail` (bsd-mailx or mailutils) and a mail transport that works as the service user
# under the unit's NoNewPrivileges=yes: one that sends over SMTP without set-user-id helpers,
# such as msmtp-mta. A local exim4 or postfix queues mail through a privileged helper, which
# the unit forbids.
set -u

if [ $# -lt 1 ]; then
    echo "usage: $0 ADDRESS..." >&2
    exit 2
fi
if ! command -v mail >/dev/null 2>&1; then
    echo "mail is not installed (package bsd-mailx or mailutils): no alert sent"
    exit 3
fi

host=$(hostname 2>/dev/null || echo localhost)
home=${VALTRASSOSFTP_HOME:-?}
case ${VALTRASSOSFTP_EVENT:-} in
failing)
    subject="ValtrassoSftp $home on $host: ${VALTRASSOSFTP_FAILING_CYCLES:-?} failing cycles in a row"
    ;;
recovered)
    subject="ValtrassoSftp $home on $host: clean again after ${VALTRASSOSFTP_FAILING_CYCLES:-?} failing cycles"
    ;;
*)
    echo "unknown event '${VALTRASSOSFTP_EVENT:-}'"
    exit 2
    ;;
esac

if printf 'Event: %s\nProgram folder: %s\nHost: %s\nFailing cycles: %s\nLast error: %s\n' \
    "${VALTRASSOSFTP_EVENT}" "$home" "$host" "${VALTRASSOSFTP_FAILING_CYCLES:-?}" \
    "${VALTRASSOSFTP_LAST_ERROR:-}" | mail -s "$subject" "$@"; then
    echo "mailed '$subject' to $*"
else
    echo "mail failed for $*"
    exit 1
fi
