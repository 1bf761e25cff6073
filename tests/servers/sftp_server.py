#!/usr/bin/python3
"""SFTP server for the integration tests (asyncssh), serving one folder on 127.0.0.1.

Prints "PORT <n>" on standard output once it listens; ends with the test that started it (see
lifetime.py). The switches below force the faults the component must survive."""

import asyncio
import os
import sys
import warnings

# Debian's cryptography warns about old ciphers asyncssh still registers; not our concern.
warnings.filterwarnings("ignore")

import asyncssh  # noqa: E402

import lifetime  # noqa: E402


def parse_args():
    p = lifetime.parser(__doc__)
    p.add_argument("--host-key", required=True, help="private host key; an ed25519 one is made if missing")
    p.add_argument("--kbdint-only", action="store_true", help="only keyboard-interactive login")
    p.add_argument("--stall-channel", type=int, metavar="K",
                   help="only the connection's Kth SFTP channel stalls (default: every one)")
    p.add_argument("--inject-bad-names", action="store_true", help="listings hold impossible names")
    p.add_argument("--keep-bytes", type=int,
                   help="a file written keeps only its first N bytes, though every write succeeds")
    p.add_argument("--max-rate", type=float, help="file data at most N bytes per second")
    p.add_argument("--open-delay-ms", type=int, default=0,
                   help="answer every file open N ms late (the uploader then sees a long path)")
    p.add_argument("--second-channel", choices=("fail", "close"),
                   help="writes on any SFTP channel but a connection's first are refused, or the first "
                        "closes that channel")
    p.add_argument("--window", type=int, metavar="BYTES",
                   help="each channel's receive window (asyncssh's default is 2 MiB)")
    p.add_argument("--short-reads", type=int, metavar="N",
                   help="every Nth read is answered with half the bytes asked for")
    p.add_argument("--forged-methods", action="store_true",
                   help="offered login methods hold a line break, a forged log line, 20,000 bytes")
    return p.parse_args()


ARGS = parse_args()
ROOT = os.fsencode(os.path.realpath(ARGS.root))

if ARGS.forged_methods:
    asyncssh.connection.get_supported_server_auth_methods = lambda conn: [
        b"password\r\n23:59:59 Download corretto FAKE.txt", b"x" * 20000]


class TestServer(asyncssh.SSHServer):
    def password_auth_supported(self):
        return not ARGS.kbdint_only

    def validate_password(self, username, password):
        return not ARGS.refuse_login and username == ARGS.user and password == ARGS.password

    def kbdint_auth_supported(self):
        return True

    def get_kbdint_challenge(self, username, lang, submethods):
        return "", "", "", [("Password: ", False)]

    def validate_kbdint_response(self, username, responses):
        return len(responses) == 1 and self.validate_password(username, responses[0])


class TestSFTPServer(asyncssh.SFTPServer):
    def __init__(self, chan):
        super().__init__(chan, chroot=ROOT)
        self._moved = {}    # bytes of file data that went through each open file
        self._reads = 0
        # 1 for the connection's first SFTP channel, 2 for the next one, ...
        conn = chan.get_connection()
        conn.sftp_channels = getattr(conn, "sftp_channels", 0) + 1
        self._channel_number = conn.sftp_channels

    def map_path(self, path):
        local = super().map_path(path)
        # The chroot above stops "..", this stops symbolic links that lead outside.
        real = os.path.realpath(local)
        if real != ROOT and not real.startswith(ROOT + b"/"):
            raise asyncssh.SFTPPermissionDenied("outside the served folder")
        return local

    def listdir(self, path):
        names = list(super().listdir(path))
        if ARGS.inject_bad_names:
            attrs = asyncssh.SFTPAttrs(size=3, uid=0, gid=0, permissions=0o100644,
                                       atime=1700000000, mtime=1700000000)
            names += [asyncssh.SFTPName(filename=n, attrs=attrs)
                      for n in (b"in/jected", b"nul\0name", b"../escape.txt", b"..",
                                b"back\\slash.txt", b"cr\rname.txt", b"lf\nname.txt",
                                b"L" * 4000)]
        return names

    async def _count(self, file_obj, size):
        moved = self._moved.get(id(file_obj), 0) + size
        self._moved[id(file_obj)] = moved
        if ARGS.max_rate:
            await asyncio.sleep(size / ARGS.max_rate)
        if ARGS.drop_after_bytes is not None and moved > ARGS.drop_after_bytes:
            self.connection.abort()
            raise asyncssh.SFTPConnectionLost("connection dropped on purpose")
        if (ARGS.stall_after_bytes is not None and moved > ARGS.stall_after_bytes
                and ARGS.stall_channel in (None, self._channel_number)):
            await asyncio.Event().wait()   # never set: the client waits for an answer in vain

    async def open(self, path, pflags, attrs):
        if ARGS.open_delay_ms:
            await asyncio.sleep(ARGS.open_delay_ms / 1000)
        return super().open(path, pflags, attrs)

    async def read(self, file_obj, offset, size):
        self._reads += 1
        if ARGS.short_reads and self._reads % ARGS.short_reads == 0:
            size = max(size // 2, 1)
        data = super().read(file_obj, offset, size)
        await self._count(file_obj, len(data))
        return data

    async def write(self, file_obj, offset, data):
        if (ARGS.second_channel and self._channel_number > 1
                and self._moved.get(id(file_obj), 0) >= 1000000):
            if ARGS.second_channel == "close":
                self.channel.close()
                await asyncio.Event().wait()   # never answered: the channel is gone
            raise asyncssh.SFTPFailure("write refused on purpose")
        await self._count(file_obj, len(data))
        if ARGS.keep_bytes is not None:
            data = data[:max(ARGS.keep_bytes - offset, 0)]
            if not data:
                return None
        return super().write(file_obj, offset, data)

    def close(self, file_obj):
        self._moved.pop(id(file_obj), None)
        return super().close(file_obj)


def load_host_key(path):
    if not os.path.exists(path):
        key = asyncssh.generate_private_key("ssh-ed25519")
        key.write_private_key(path)
        key.write_public_key(path + ".pub")
        return key
    return asyncssh.read_private_key(path)


async def main():
    lifetime.end_with_the_test(ARGS.max_seconds)
    # Address reuse lets a test restart a server on the port its client already knows.
    server = await asyncssh.create_server(
        TestServer, "127.0.0.1", ARGS.port, reuse_address=True, allow_scp=False,
        server_host_keys=[load_host_key(ARGS.host_key)], sftp_factory=TestSFTPServer,
        **({"window": ARGS.window} if ARGS.window else {}))
    print(f"PORT {server.sockets[0].getsockname()[1]}", flush=True)
    await asyncio.Event().wait()


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        lifetime.leave()
