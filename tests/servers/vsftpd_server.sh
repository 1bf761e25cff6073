#!/usr/bin/env bash
# vsftpd_server.sh ROOT CERT KEY [implicit] [MAX_SECONDS]: vsftpd on 127.0.0.1, TLS required,
# data connections must resume the control's TLS session. Prints "PORT <n>" once it listens.
# Login "anonymous": local or PAM virtual users would need root and an account or /etc/pam.d.
set -euo pipefail
root=$1 cert=$2 key=$3 implicit=NO max=${5:-300}
[[ ${4:-} == implicit ]] && implicit=YES
dir=$(mktemp -d)
pid=
trap '[[ -n $pid ]] && kill "$pid" 2>/dev/null; rm -rf "$dir"' EXIT
port=$(/usr/bin/python3 -c \
  'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$dir/vsftpd.conf" <<EOF
listen=YES
listen_address=127.0.0.1
listen_port=$port
run_as_launching_user=YES
anon_root=$root
write_enable=YES
anon_upload_enable=YES
anon_other_write_enable=YES
anon_world_readable_only=NO
ssl_enable=YES
implicit_ssl=$implicit
allow_anon_ssl=YES
force_anon_logins_ssl=YES
force_anon_data_ssl=YES
require_ssl_reuse=YES
rsa_cert_file=$cert
rsa_private_key_file=$key
seccomp_sandbox=NO
ssl_ciphers=HIGH
EOF
/usr/sbin/vsftpd "$dir/vsftpd.conf" &
pid=$!
until (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do
  kill -0 "$pid" 2>/dev/null || exit 1
  sleep 0.05
done
echo "PORT $port"
end=$((SECONDS + max))
while (($(ps -o ppid= -p $$) == PPID)) && kill -0 "$pid" 2>/dev/null && ((SECONDS < end)); do
  sleep 0.5
done
