#!/usr/bin/env bash
# Builds the Debian package from the build folder for real, unpacks it and checks what a
# system gets: exactly the files it needs, the dependencies of what the program links, the
# maintainer scripts never starting a service, both systemd units as systemd reads them, and
# the packaged program itself: two partner instances run as the template unit runs them, side
# by side, each with its own settings, log and metrics, ended by SIGTERM.
#
# Usage: package_test.sh BUILD_DIR BUILT_BINARY
set -uo pipefail
build_dir=$1
built_binary=$2
failures=0
fail() { failures=$((failures + 1)); echo "FAIL: $*"; }
check() {  # check DESCRIPTION COMMAND...
    local what=$1; shift
    if "$@"; then echo "ok: $what"; else fail "$what"; fi
}
work=$(mktemp -d "${TMPDIR:-/tmp}/vs-package.XXXXXX")
pids=()
trap 'kill -KILL "${pids[@]}" 2>/dev/null; rm -rf "$work"' EXIT

(cd "$build_dir" && cpack -G DEB --config CPackConfig.cmake -B "$work/out") >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; echo "FAIL: cpack"; exit 1; }
deb=$(ls "$work"/out/valtrassosftp_*.deb)
root=$work/root
dpkg-deb -x "$deb" "$root" && dpkg-deb -e "$deb" "$work/control" || exit 1
bin=$root/usr/bin/valtrassosftp

expected="./usr/bin/valtrassosftp
./usr/lib/systemd/system/valtrassosftp.service
./usr/lib/systemd/system/valtrassosftp@.service
./usr/share/applications/valtrassosftp.desktop
./usr/share/doc/valtrassosftp/changelog.gz
./usr/share/doc/valtrassosftp/copyright
./usr/share/doc/valtrassosftp/examples/valtrassosftp.ini
./usr/share/icons/hicolor/scalable/apps/valtrassosftp.svg
./usr/share/man/man1/valtrassosftp.1.gz
./usr/share/valtrassosftp/alert-mail.sh"
# A libssh2 built into the program comes with lintian's override that says why.
if ! readelf -d "$bin" | grep -q 'libssh2\.so'; then
    expected=$(sort <<<"$expected
./usr/share/lintian/overrides/valtrassosftp")
fi
check "the package holds exactly its files" \
    diff <(echo "$expected") <(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
check "no RPATH into the build folder" bash -c "! readelf -d '$bin' | grep -Eq 'RPATH|RUNPATH'"
check "the version is the program's" \
    test "$(dpkg-deb -f "$deb" Version)" = "$("$built_binary" --version | awk '{print $2}')"

# Every library the program links must come from a package it depends on.
depends=$(dpkg-deb -f "$deb" Depends | tr ',|' '\n' | sed 's/(.*//; s/[[:space:]]//g')
for lib in $(readelf -d "$bin" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    path=$(ldd "$bin" | awk -v l="$lib" '$1 == l {print $3}')
    pkg=$(dpkg-query -S "$path" 2>/dev/null || dpkg-query -S "/usr$path" 2>/dev/null)
    check "Depends covers $lib (${pkg%%:*})" grep -qx "${pkg%%:*}" <<<"$depends"
done

# lintian, Debian's own check: no error and no warning (a deliberate one goes in an overrides
# file with its reason, and in the README's packaging notes).
lintian_out=$(lintian --fail-on error,warning --tag-display-limit 0 "$deb" 2>&1)
lintian_rc=$?
lintian_out=$(grep -v 'running with root privileges' <<<"$lintian_out")
check "lintian finds no error or warning${lintian_out:+: $lintian_out}" test $lintian_rc -eq 0
example=$root/usr/share/doc/valtrassosftp/examples/valtrassosftp.ini
check "the packaged program reads the packaged example as usable settings" bash -c \
    "VALTRASSOSFTP_SETTINGS='$example' VALTRASSOSFTP_HOME='$work' '$bin' --check >/dev/null"
# A libssh2 built into the program is no package's to depend on.
check "libssh2-1 among Depends only when the program links the system's libssh2" bash -c \
    "readelf -d '$bin' | grep -q 'libssh2\.so' || ! grep -qx 'libssh2-1' <<<'$depends'"

for script in postinst prerm postrm; do
    f=$work/control/$script
    check "$script never enables or starts a service" bash -c "! grep -Eq \
'(systemctl|deb-systemd-invoke|deb-systemd-helper)[^#]*[[:space:]](enable|start|restart|reenable)([[:space:]]|\$)' '$f'"
done

# The units as systemd reads them, naming the unpacked program (verify wants to find it).
mkdir -p "$work/unit"
for u in "$root"/usr/lib/systemd/system/*.service; do
    sed "s#^ExecStart=/usr/bin/valtrassosftp#ExecStart=$bin#" "$u" >"$work/unit/${u##*/}"
done
for name in valtrassosftp.service valtrassosftp@partner.service; do
    out=$(MANPATH=$root/usr/share/man systemd-analyze verify "$work/unit/$name" 2>&1)
    check "systemd-analyze verify accepts $name${out:+: $out}" test -z "$out"
    check "systemd-analyze security rates $name at most 3.0" bash -c \
        "systemd-analyze security --offline=yes --threshold=30 '$work/unit/$name' >/dev/null"
    # As systemd reads it: of all capabilities, CAP_LEASE alone, given as an ambient one.
    granted=$(systemd-analyze security --offline=yes --json=short "$work/unit/$name" |
        python3 -c 'import json, sys
print(" ".join(sorted(c["name"] for c in json.load(sys.stdin) if c["set"] is False and
    c["name"].startswith(("CapabilityBoundingSet=", "AmbientCapabilities=")))))')
    check "$name grants CAP_LEASE alone${granted:+ (gives: $granted)}" \
        test "$granted" = "AmbientCapabilities= CapabilityBoundingSet=~CAP_LEASE"
done

# Two partners, run as the template unit runs instance %i: its own program folder and
# settings file from the unit's Environment lines.
for partner in alpha beta; do
    # The upload folder is not the program folder, which holds the journal from the start.
    mkdir -p "$work/var/$partner" "$work/out/$partner" "$work/etc"
    printf '[PARAMETRI]\r\nhost=127.0.0.1:1\r\ndeltatime=1\r\nDirRemota_0=/x\r\nDirLocale_0=%s\r\nTipoFile_0=TUTTI\r\nCancelloFile_0=NO\r\nTipoOperazione_0=Upload\r\n' \
        "$work/out/$partner" >"$work/etc/$partner.ini"
    env $(sed -n "s#^Environment=##p" "$work/unit/valtrassosftp@.service" |
        sed "s#%i#$partner#g; s#=/var/lib/valtrassosftp#=$work/var#; s#=/etc/valtrassosftp#=$work/etc#") \
        "$bin" mod:auto --headless >"$work/$partner.out" 2>&1 &
    pids+=($!)
done
sleep 3
kill -TERM "${pids[@]}"
for i in 0 1; do
    wait "${pids[$i]}"
    check "instance $i ends with exit 0 at SIGTERM" test $? -eq 0
done
pids=()
for partner in alpha beta; do
    check "$partner has its own log, ended in order" \
        grep -q ' Chiusura Volontaria' "$work/var/$partner"/log/sftp_log_*.txt
    check "$partner read its own settings" grep -q "Non mi collego" "$work/var/$partner"/log/*.txt
    check "$partner has its own metrics" grep -q "valtrassosftp_cycles_total{home=\"$work/var/$partner\"}" \
        "$work/var/$partner/valtrassosftp.prom"
done

((failures == 0)) && echo "all package checks passed"
