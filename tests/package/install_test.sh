#!/usr/bin/env bash
# Installs the real package on this machine with apt-get, as an administrator would, and
# takes it away again: system user and program folder made by postinst, the installed
# program run headless as that user, remove keeping the folder, reinstall, purge deleting
# it. It changes the system, so it runs only when asked for (VALTRASSO_PACKAGE_INSTALL_TEST=1),
# as root, on a machine without the package; otherwise it reports itself skipped (77).
# A system user that this test created is deleted at the end.
#
# Usage: install_test.sh BUILD_DIR
set -uo pipefail

build_dir=$1
skip() { echo "SKIPPED: $*"; exit 77; }

[[ ${VALTRASSO_PACKAGE_INSTALL_TEST:-} == 1 ]] ||
    skip "installs the package system-wide; set VALTRASSO_PACKAGE_INSTALL_TEST=1 to run it"
[[ $(id -u) -eq 0 ]] || skip "needs root"
command -v apt-get >/dev/null || skip "needs apt-get"
if dpkg-query -W -f='${Status}' valtrassosftp 2>/dev/null | grep -q installed; then
    skip "valtrassosftp is already installed here; this test leaves existing installations alone"
fi
[[ -e /var/lib/valtrassosftp ]] && skip "/var/lib/valtrassosftp exists already"

failures=0
checks=0
pass() { checks=$((checks + 1)); echo "ok: $*"; }
fail() { checks=$((checks + 1)); failures=$((failures + 1)); echo "FAIL: $*"; }
check() {
    local what=$1; shift
    if "$@" >/dev/null 2>&1; then pass "$what"; else fail "$what"; fi
}

user_existed=no
getent passwd valtrassosftp >/dev/null && user_existed=yes
work=$(mktemp -d "${TMPDIR:-/tmp}/vs-install.XXXXXX")
export DEBIAN_FRONTEND=noninteractive
cleanup() {
    apt-get purge -y -qq valtrassosftp >/dev/null 2>&1
    if [[ $user_existed == no ]] && getent passwd valtrassosftp >/dev/null; then
        deluser --system --quiet valtrassosftp >/dev/null 2>&1 ||
            userdel valtrassosftp >/dev/null 2>&1
        getent group valtrassosftp >/dev/null && groupdel valtrassosftp >/dev/null 2>&1
    fi
    rm -rf "$work"
}
trap cleanup EXIT
chmod 0755 "$work"  # apt's sandbox user must read the .deb

(cd "$build_dir" && cpack -G DEB --config CPackConfig.cmake -B "$work") >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; echo "FAIL: cpack"; exit 1; }
deb=$(ls "$work"/valtrassosftp_*.deb)

# --- Install.
apt-get install -y -qq "$deb" >"$work/apt.log" 2>&1
rc=$?
check "apt-get install of the package (exit $rc)" test "$rc" -eq 0
((rc == 0)) || { cat "$work/apt.log"; exit 1; }

IFS=: read -r _ _ uid _ _ home shell < <(getent passwd valtrassosftp)
check "postinst made the user valtrassosftp" test -n "${uid:-}"
check "it is a system user (uid $uid)" test "${uid:-1000}" -lt 1000
check "its home is /var/lib/valtrassosftp" test "${home:-}" = /var/lib/valtrassosftp
check "it cannot log in (shell $shell)" test "${shell:-}" = /usr/sbin/nologin
check "postinst made the group valtrassosftp" getent group valtrassosftp
check "the program folder is valtrassosftp:valtrassosftp 750 ($(stat -c '%U:%G %a' /var/lib/valtrassosftp))" \
    test "$(stat -c '%U:%G %a' /var/lib/valtrassosftp)" = "valtrassosftp:valtrassosftp 750"
check "the program is /usr/bin/valtrassosftp" test -x /usr/bin/valtrassosftp
check "man finds the manual page" man -w valtrassosftp
if [[ -d /run/systemd/system ]]; then
    state=$(systemctl is-enabled valtrassosftp.service 2>&1)
    check "the service is installed but not enabled ($state)" test "$state" = disabled
    check "the service is not running" bash -c '! systemctl is-active --quiet valtrassosftp.service'
else
    echo "NOTE: systemd is not running here: enablement and start were not checked"
fi
if command -v systemd-analyze >/dev/null; then
    for name in valtrassosftp.service valtrassosftp@partner.service; do
        out=$(systemd-analyze verify "$name" 2>&1)
        check "systemd-analyze verify accepts the installed $name${out:+: $out}" test -z "$out"
    done
fi

# --- The installed program, as the service runs it (one "asp" cycle, nothing to do).
if [[ -e /etc/valtrassosftp/valtrassosftp.ini ]]; then
    echo "NOTE: /etc/valtrassosftp/valtrassosftp.ini exists: the installed program was not run"
else
    out=$(cd / && timeout 20 runuser -u valtrassosftp -- \
        env VALTRASSOSFTP_HOME=/var/lib/valtrassosftp valtrassosftp mod:asp --headless 2>&1)
    rc=$?
    echo "$out"
    check "the installed program runs one cycle as valtrassosftp (exit $rc)" test "$rc" -eq 0
    check "it printed 'Modalita ASP'" grep -q 'Modalita ASP' <<<"$out"
    logs=(/var/lib/valtrassosftp/log/sftp_log_*.txt)
    check "its log file belongs to valtrassosftp" \
        test "$(stat -c %U "${logs[0]}" 2>/dev/null)" = valtrassosftp
fi

# --- Remove keeps the folder (settings, logs); reinstall finds it; purge deletes it.
echo "keep me" >/var/lib/valtrassosftp/valtrassosftp.ini
apt-get remove -y -qq valtrassosftp >"$work/apt.log" 2>&1
check "apt-get remove" test $? -eq 0
check "remove took the program away" test ! -e /usr/bin/valtrassosftp
check "remove kept the program folder's settings" \
    grep -q 'keep me' /var/lib/valtrassosftp/valtrassosftp.ini
apt-get install -y -qq "$deb" >"$work/apt.log" 2>&1
check "reinstall over the kept user and folder" test $? -eq 0
check "reinstall kept the settings" grep -q 'keep me' /var/lib/valtrassosftp/valtrassosftp.ini
# Same version again: postinst runs as for an upgrade ("configure" with the old version).
apt-get install -y -qq --reinstall "$deb" >"$work/apt.log" 2>&1
check "apt-get --reinstall (postinst as on upgrade)" test $? -eq 0
apt-get purge -y -qq valtrassosftp >"$work/apt.log" 2>&1
check "apt-get purge" test $? -eq 0
check "purge deleted /var/lib/valtrassosftp" test ! -e /var/lib/valtrassosftp
check "purge left no package state" \
    bash -c '! dpkg-query -W valtrassosftp >/dev/null 2>&1'

echo "$((checks - failures)) passed, $failures failed"
((failures == 0))
