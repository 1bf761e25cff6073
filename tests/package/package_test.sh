#!/usr/bin/env bash
# Builds the Debian package from the build folder for real, unpacks it into a temporary
# root and checks what a system would get: the files and their places, the control data,
# the maintainer scripts, the systemd unit as systemd reads it, the desktop entry, the
# manual page against the program's own --help, and the packaged program itself run
# headless in a temporary program folder (one "asp" cycle, then a timer run ended by
# SIGTERM as systemd stops the service).
#
# Usage: package_test.sh BUILD_DIR BUILT_BINARY
set -uo pipefail

build_dir=$1
built_binary=$2

failures=0
checks=0
pass() { checks=$((checks + 1)); echo "ok: $*"; }
fail() { checks=$((checks + 1)); failures=$((failures + 1)); echo "FAIL: $*"; }
skip() { echo "SKIPPED: $*"; }
check() {  # check DESCRIPTION COMMAND...
    local what=$1; shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}

for tool in cpack dpkg-deb dpkg-query readelf ldd groff python3 timeout; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed"; exit 1; }
done
if [[ ! -x $built_binary ]]; then
    echo "FAIL: $built_binary is missing: build the project before running the tests"
    exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/vs-package.XXXXXX")
auto_pid=
cleanup() {
    [[ -n $auto_pid ]] && kill -KILL "$auto_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# --- Build the package, into a folder of our own so the build folder's .deb is untouched.
if ! (cd "$build_dir" && cpack -G DEB --config CPackConfig.cmake -B "$work/out") \
        >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAIL: cpack -G DEB failed"
    exit 1
fi
shopt -s nullglob
debs=("$work"/out/valtrassosftp_*.deb)
shopt -u nullglob
if ((${#debs[@]} != 1)); then
    echo "FAIL: expected one valtrassosftp_*.deb, found ${#debs[@]}"
    ls -l "$work/out"
    exit 1
fi
deb=${debs[0]}
pass "cpack built $(basename "$deb")"

root=$work/root
mkdir -p "$root"
dpkg-deb -x "$deb" "$root" || { echo "FAIL: dpkg-deb -x"; exit 1; }
dpkg-deb -e "$deb" "$work/control" || { echo "FAIL: dpkg-deb -e"; exit 1; }
bin=$root/usr/bin/valtrassosftp

# --- Files: exactly these, all owned by root, nothing else slipped into the package.
expected_files="./usr/bin/valtrassosftp
./usr/lib/systemd/system/valtrassosftp.service
./usr/lib/systemd/system/valtrassosftp@.service
./usr/share/valtrassosftp/alert-mail.sh
./usr/share/applications/valtrassosftp.desktop
./usr/share/icons/hicolor/scalable/apps/valtrassosftp.svg
./usr/share/man/man1/valtrassosftp.1.gz"
actual_files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
if [[ $actual_files == "$(sort <<<"$expected_files")" ]]; then
    pass "package holds exactly the program, units, alert script, desktop entry, icon and manual page"
else
    fail "package file list differs:"
    diff <(sort <<<"$expected_files") <(echo "$actual_files")
fi
not_root=$(dpkg-deb -c "$deb" | awk '$2 != "root/root"')
check "every entry is owned by root/root" test -z "$not_root"
check "the program is executable" test -x "$bin"
check "/var/lib/valtrassosftp is made by postinst, not shipped" \
    test ! -e "$root/var/lib/valtrassosftp"
if readelf -d "$bin" | grep -Eq 'RPATH|RUNPATH'; then
    fail "the packaged program carries an RPATH: $(readelf -d "$bin" | grep -E 'RPATH|RUNPATH')"
else
    pass "the packaged program carries no RPATH into the build folder"
fi

# --- Control data.
field() { dpkg-deb -f "$deb" "$1"; }
built_version=$("$built_binary" --version | awk '{print $2}')
check "Package is valtrassosftp" test "$(field Package)" = valtrassosftp
check "Version $(field Version) is the program's version $built_version" \
    test "$(field Version)" = "$built_version"
check "Section is net" test "$(field Section)" = net
check "Maintainer is set" test -n "$(field Maintainer)"
check "Description has a synopsis and an extended text" \
    test "$(dpkg-deb -f "$deb" Description | wc -l)" -gt 2
depends=$(field Depends)
echo "Depends: $depends"
depends_names=$(tr ',|' '\n' <<<"$depends" | sed 's/(.*//; s/[[:space:]]//g' | sort -u)
has_dep() { grep -qx "$1" <<<"$depends_names"; }
check "Depends lists adduser (postinst creates the system user)" has_dep adduser
# Every library the program links directly must come from a package it depends on.
owner_of() {
    local p=$1 alt
    case $p in /usr/*) alt=${p#/usr} ;; *) alt=/usr$p ;; esac
    { dpkg-query -S "$p" 2>/dev/null || dpkg-query -S "$alt" 2>/dev/null; } |
        head -n1 | cut -d: -f1
}
needed=$(readelf -d "$bin" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
ldd_out=$(ldd "$bin")
for lib in $needed; do
    path=$(awk -v l="$lib" '$1 == l && $2 == "=>" {print $3}' <<<"$ldd_out")
    if [[ -z $path || $path == "not" ]]; then
        fail "$lib, linked by the program, is not found on this system"
        continue
    fi
    pkg=$(owner_of "$path")
    if [[ -z $pkg ]]; then
        fail "$lib ($path) belongs to no Debian package"
    elif has_dep "$pkg"; then
        pass "Depends covers $lib ($pkg)"
    else
        fail "Depends lacks $pkg, the package of $lib"
    fi
done

# --- Maintainer scripts: present, executable, valid shell; they never enable or start
# the service (try-restart on upgrade only restarts a running one).
for script in postinst prerm postrm; do
    f=$work/control/$script
    if [[ ! -x $f ]]; then
        fail "$script is missing or not executable in the package"
        continue
    fi
    check "$script parses as sh" sh -n "$f"
    if command -v shellcheck >/dev/null; then
        check "$script passes shellcheck" shellcheck -s sh "$f"
    fi
    if grep -Eq '(systemctl|deb-systemd-invoke|deb-systemd-helper)[^#]*[[:space:]](enable|start|restart|reenable)([[:space:]]|$)' "$f"; then
        fail "$script enables or starts the service"
    else
        pass "$script neither enables nor starts the service"
    fi
done

# --- The program from the package: --help and --version.
help=$("$bin" --help)
rc=$?
check "--help exits 0 (got $rc)" test "$rc" -eq 0
check "--help names VALTRASSOSFTP_HOME" grep -q VALTRASSOSFTP_HOME <<<"$help"
check "--help names mod:asp" grep -q 'mod:asp' <<<"$help"
version=$("$bin" --version)
rc=$?
check "--version exits 0 (got $rc)" test "$rc" -eq 0
check "--version prints 'valtrassosftp $(field Version)' (got '$version')" \
    test "$version" = "valtrassosftp $(field Version)"

# --- Manual page: clean roff, and it documents what --help lists.
man_src=$work/valtrassosftp.1
gzip -dc "$root/usr/share/man/man1/valtrassosftp.1.gz" >"$man_src"
warnings=$(groff -man -Tascii -ww -z "$man_src" 2>&1)
check "the manual page formats without warnings${warnings:+: $warnings}" test -z "$warnings"
man_text=$(groff -man -Tascii -P-cbou "$man_src" 2>/dev/null)
check "the manual page carries the version" grep -q "$(field Version)" <<<"$man_text"
usage_line=$(grep -m1 '^Usage:' <<<"$help")
switches=$(grep -oE '\[[^]]+\]' <<<"$usage_line" | grep -oE '[a-z]+:[a-z]*|--[a-z]+' | sort -u)
check "--help's usage line names the switches" test "$(wc -l <<<"$switches")" -ge 5
for s in $switches --help --version VALTRASSOSFTP_HOME; do
    check "the manual page documents $s" grep -qF -- "$s" <<<"$man_text"
done
# The files --help lists: fixed paths whole, program-folder entries by their own name.
help_files=$(sed -n '/^Files:/,$p' <<<"$help" | awk 'NF {print $1}' | grep -v '^Files:')
help_files+=$'\n'$(sed -n '/^Files:/,$p' <<<"$help" | grep -oE '<program folder>/[^ ]*' |
    sed 's#<program folder>/##')
while read -r f; do
    check "the manual page documents $f" grep -qF -- "$f" <<<"$man_text"
done < <(grep -v '^<program' <<<"$help_files" | sort -u)

# --- Desktop entry and icon.
desktop=$root/usr/share/applications/valtrassosftp.desktop
entry() { sed -n "s/^$1=//p" "$desktop"; }
check "desktop entry Name=ValtrassoSftp" test "$(entry Name)" = ValtrassoSftp
check "desktop entry Terminal=false" test "$(entry Terminal)" = false
check "desktop entry in Network;FileTransfer;" \
    grep -Eq '(^|;)Network;(.*;)?FileTransfer;' <<<"$(entry Categories)"
exec_prog=$(entry Exec | awk '{print $1}')
check "desktop entry runs the packaged program ($exec_prog)" test -x "$root/usr/bin/$exec_prog"
check "desktop entry's icon $(entry Icon) is in the package" \
    test -f "$root/usr/share/icons/hicolor/scalable/apps/$(entry Icon).svg"
if command -v desktop-file-validate >/dev/null; then
    check "desktop-file-validate accepts the entry" desktop-file-validate "$desktop"
else
    skip "desktop-file-validate is not installed (package desktop-file-utils)"
fi
check "the icon is well-formed SVG" python3 -c '
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
sys.exit(0 if root.tag == "{http://www.w3.org/2000/svg}svg" else 1)
' "$root/usr/share/icons/hicolor/scalable/apps/valtrassosftp.svg"

# --- The systemd units: the plain one and the per-partner template.
unit=$root/usr/lib/systemd/system/valtrassosftp.service
template=$root/usr/lib/systemd/system/valtrassosftp@.service
unit_value() { sed -n "s/^$1=//p" "$unit"; }
check "unit runs /usr/bin/valtrassosftp mod:auto --headless" \
    test "$(unit_value ExecStart)" = "/usr/bin/valtrassosftp mod:auto --headless"
check "unit's program folder is /var/lib/valtrassosftp" \
    test "$(unit_value Environment)" = "VALTRASSOSFTP_HOME=/var/lib/valtrassosftp"
check "unit runs as valtrassosftp" test "$(unit_value User)" = valtrassosftp
check "unit stops with SIGTERM" test "$(unit_value KillSignal)" = SIGTERM
for u in "$unit" "$template"; do
    check "$(basename "$u") is Type=notify, NotifyAccess=main, WatchdogSec=5min" test \
        "$(sed -n 's/^Type=//p; s/^NotifyAccess=//p; s/^WatchdogSec=//p' "$u" | xargs)" = \
        "notify main 5min"
done
check "an instance has its own program folder and settings file" test \
    "$(sed -n 's/^Environment=//p; s/^StateDirectory=//p' "$template" | xargs)" = \
    "VALTRASSOSFTP_HOME=/var/lib/valtrassosftp/%i VALTRASSOSFTP_SETTINGS=/etc/valtrassosftp/%i.ini valtrassosftp/%i"
hardening() { sed -n '/^# Hardening/,/^\[Install\]/{/^[A-Z]/p}' "$1"; }
check "the template has the unit's hardening" diff <(hardening "$unit") <(hardening "$template")
check "alert-mail.sh is executable" test -x "$root/usr/share/valtrassosftp/alert-mail.sh"
if command -v shellcheck >/dev/null; then
    check "alert-mail.sh passes shellcheck" shellcheck -s sh "$root/usr/share/valtrassosftp/alert-mail.sh"
fi
if command -v systemd-analyze >/dev/null; then
    # The copies name the unpacked program, which verify wants to find; MANPATH lets it
    # find the packaged manual page that Documentation= names. Verify ignores bad lines
    # with a warning and still exits 0, so any output is a failure too.
    mkdir -p "$work/unit"
    for u in "$unit" "$template"; do
        sed "s#^ExecStart=/usr/bin/valtrassosftp#ExecStart=$bin#" "$u" >"$work/unit/${u##*/}"
    done
    for name in valtrassosftp.service valtrassosftp@partner.service; do
        out=$(MANPATH=$root/usr/share/man systemd-analyze verify "$work/unit/$name" 2>&1)
        rc=$?
        if ((rc == 0)) && [[ -z $out ]]; then
            pass "systemd-analyze verify accepts $name"
        else
            fail "systemd-analyze verify $name (exit $rc): $out"
        fi
        # The hardening must keep the exposure low (30 is 3.0 as printed, the top of "OK"):
        # dropping a few settings shows here.
        if systemd-analyze security --help 2>/dev/null | grep -q -- '--offline'; then
            out=$(systemd-analyze security --offline=yes --threshold=30 "$work/unit/$name" 2>&1)
            rc=$?
            check "systemd-analyze security $name: $(grep -o 'Overall exposure level.*' <<<"$out")" \
                test "$rc" -eq 0
        fi
    done
else
    skip "systemd-analyze is not installed: the units were not verified by systemd"
fi

# --- The packaged program, headless, in a temporary program folder.
if [[ -e /etc/valtrassosftp/valtrassosftp.ini ]]; then
    skip "/etc/valtrassosftp/valtrassosftp.ini exists and would win over the test's" \
        "settings: the packaged program was not run"
else
    home=$work/home
    mkdir -p "$home"
    start=$(date +%s)
    VALTRASSOSFTP_HOME=$home timeout 20 "$bin" mod:asp --headless >"$work/asp.out" 2>&1
    rc=$?
    took=$(($(date +%s) - start))
    cat "$work/asp.out"
    check "mod:asp --headless with nothing to do exits 0 (got $rc)" test "$rc" -eq 0
    check "it took at most 5 s (took ${took} s)" test "$took" -le 5
    check "it printed 'Modalita ASP'" grep -q 'Modalita ASP' "$work/asp.out"
    check "it made the staging folder in VALTRASSOSFTP_HOME" test -d "$home/tempozipftp"
    logs=("$home"/log/sftp_log_*.txt)
    check "the day's log file is in VALTRASSOSFTP_HOME/log" test -f "${logs[0]}"
    check "the log file has the cycle's lines" grep -q 'Modalita ASP' "${logs[0]}"
    check "nothing was written beside the program" \
        test -z "$(find "$root/usr/bin" -mindepth 1 ! -name valtrassosftp)"

    # The service's run: timer mode until systemd sends SIGTERM, which must end the
    # program in order, with " Chiusura Volontaria" as the log's last line.
    home=$work/auto
    mkdir -p "$home"
    printf '[PARAMETRI]\r\ndeltatime=3600\r\n' >"$home/valtrassosftp.ini"
    VALTRASSOSFTP_HOME=$home "$bin" mod:auto --headless >"$work/auto.out" 2>&1 &
    auto_pid=$!
    for _ in $(seq 100); do
        grep -q 'Modalita AUTO' "$work/auto.out" && break
        sleep 0.1
    done
    check "mod:auto --headless started its timer" grep -q 'Modalita AUTO Timer attivato' \
        "$work/auto.out"
    kill -TERM "$auto_pid"
    for _ in $(seq 100); do
        kill -0 "$auto_pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$auto_pid" 2>/dev/null; then
        fail "the program was still running 10 s after SIGTERM"
    else
        wait "$auto_pid"
        rc=$?
        auto_pid=
        check "SIGTERM ends the program with exit 0 (got $rc)" test "$rc" -eq 0
        logs=("$home"/log/sftp_log_*.txt)
        last=$(tail -n1 "${logs[0]}" 2>/dev/null | tr -d '\r')
        check "the log's last line is the orderly shutdown ('$last')" \
            grep -q ' Chiusura Volontaria$' <<<"$last"
    fi
    cat "$work/auto.out"
fi

echo "$((checks - failures)) passed, $failures failed"
((failures == 0))
