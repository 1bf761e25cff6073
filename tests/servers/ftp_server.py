#!/usr/bin/python3
"""FTP test server (pyftpdlib on 127.0.0.1, run with Debian's /usr/bin/python3).

Prints "PORT <n>" once it listens, then "LOGIN <user>" for every login and "QUIT" for every
QUIT, so that tests count the control connections and the goodbyes. The switches (see --help)
force the faults and lies the control must survive. It ends with the test (see lifetime.py).
"""

import argparse
import itertools
import logging
import os
import sys

from pyftpdlib.authorizers import AuthenticationFailed, DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler, TLS_DTPHandler, TLS_FTPHandler
from pyftpdlib.servers import FTPServer

import lifetime

def parse_args():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--root", required=True, help="folder to serve")
    p.add_argument("--port", type=int, default=0, help="0 picks a free port")
    p.add_argument("--user", default="user")
    p.add_argument("--password", default="secret")
    p.add_argument("--refuse-login", action="store_true", help="every login answers 530")
    p.add_argument("--drop-after-bytes", type=int, default=-1,
                   help="close the data connection after N bytes of a transfer")
    p.add_argument("--stall-after-bytes", type=int, default=-1,
                   help="stop moving data after N bytes of a transfer, connection kept open")
    p.add_argument("--rate", type=int, default=0,
                   help="limit every transfer to this many bytes per second (a slow link)")
    p.add_argument("--no-mlsd", action="store_true", help="MLSD and MLST are not offered")
    p.add_argument("--refuse-mlsd", action="store_true", help="MLST offered, MLSD answers 502")
    p.add_argument("--no-mdtm", action="store_true", help="MDTM is not offered")
    p.add_argument("--no-size", action="store_true", help="SIZE is not offered")
    p.add_argument("--keep-bytes", type=int, default=-1,
                   help="an upload keeps only its first N bytes, though every byte is acknowledged")
    p.add_argument("--endless-files", action="store_true",
                   help="a download goes on past the file's end with bytes that never stop")
    p.add_argument("--pasv-address", help="address named in PASV replies instead of the real one")
    p.add_argument("--tls", choices=("explicit", "implicit"),
                   help="FTPS, TLS required (no data-channel faults then)")
    p.add_argument("--cert", nargs=2, default=(None, None), help="certificate and key (PEM)")
    p.add_argument("--refuse-auth", action="store_true", help="AUTH answers 534")
    p.add_argument("--record", help="append every command line received to this file")
    p.add_argument("--max-seconds", type=float, default=600)
    return p.parse_args()


class RefusingAuthorizer(DummyAuthorizer):
    def validate_authentication(self, username, password, handler):
        raise AuthenticationFailed("Login incorrect.")


class FaultyDTPHandler(ThrottledDTPHandler):
    """Data channel that can be slow, or drop or stall a transfer after a number of bytes."""

    drop_after = -1
    stall_after = -1

    def __init__(self, sock, cmd_channel):
        self._stalled = False
        super().__init__(sock, cmd_channel)

    def _limit(self):
        return self.drop_after if self.drop_after >= 0 else self.stall_after

    def send(self, data):
        limit = self._limit()
        if limit < 0 or self.file_obj is None:
            return super().send(data)
        room = limit - self.tot_bytes_sent
        if room <= 0:
            self._reached_limit()
            return 0
        sent = super().send(data[:room])
        if self.tot_bytes_sent >= limit:
            self._reached_limit()
        return sent

    def handle_read(self):
        limit = self._limit()
        if limit < 0:
            return super().handle_read()
        if self._stalled:
            return
        room = limit - self.tot_bytes_received
        chunk = self.recv(min(self.ac_in_buffer_size, max(room, 1)))
        if not chunk:
            self.transfer_finished = True
            return
        self.tot_bytes_received += len(chunk)
        self.file_obj.write(chunk)
        if self.tot_bytes_received >= limit:
            self._reached_limit()

    handle_read_event = handle_read

    def readable(self):
        return not self._stalled and super().readable()

    def writable(self):
        return not self._stalled and super().writable()

    def _reached_limit(self):
        if self.drop_after >= 0:
            self._resp = ("426 Connection dropped by the test server; transfer aborted.",
                          logging.info)
            self.close()
        else:
            # Keep the socket open and simply stop: the client must notice the silence itself.
            self._stalled = True
            self.modify_ioloop_events(0)


class Chunks:
    """A data channel producer of the given byte strings, then of nothing."""

    def __init__(self, chunks):
        self.more = lambda: next(chunks, b"")


class TestHandler(FTPHandler):
    refuse_mlsd = False
    refuse_auth = False
    record = None
    keep_bytes = -1
    endless_files = False

    def pre_process_command(self, line, cmd, arg):
        if self.record:
            with open(self.record, "a") as f:
                f.write(line + "\n")
        return super().pre_process_command(line, cmd, arg)

    def on_login(self, username):
        print("LOGIN %s" % username, flush=True)

    def ftp_QUIT(self, line):
        print("QUIT", flush=True)
        return super().ftp_QUIT(line)

    def ftp_MLSD(self, path):
        if self.refuse_mlsd:
            return self.respond("502 MLSD not implemented by the test server.")
        return super().ftp_MLSD(path)

    def ftp_RETR(self, file):
        if not self.endless_files:
            return super().ftp_RETR(file)
        try:
            with open(file, "rb") as f:
                data = f.read()
        except OSError as err:
            return self.respond("550 %s." % err.strerror)
        # The file's bytes, then 64 MiB that were never in it.
        more = itertools.chain([data], itertools.repeat(b"x" * 65536, 1024))
        self.push_dtp_data(Chunks(more), isproducer=True, cmd="RETR")
        return file

    def on_file_received(self, file):
        if self.keep_bytes >= 0 and os.path.getsize(file) > self.keep_bytes:
            os.truncate(file, self.keep_bytes)

    def ftp_AUTH(self, line):  # reached on the TLS handler only
        if self.refuse_auth:
            self.respond("534 TLS refused by the test server.")
            return
        return super().ftp_AUTH(line)


class TLSDataHandler(TLS_DTPHandler):
    """pyftpdlib drops a data connection whose handshake precedes the transfer command."""

    def readable(self):
        if not self._initialized:
            return self._ssl_accepting or self._ssl_want_read
        return super().readable()


class TLSHandler(TestHandler, TLS_FTPHandler):
    dtp_handler = TLSDataHandler
    tls_control_required = tls_data_required = True


class ImplicitTLSHandler(TLSHandler):
    """TLS from the first byte: the banner goes out only once the handshake is done."""

    def handle(self):
        self.secure_connection(self.ssl_context)

    def handle_ssl_established(self):
        super().handle()


def main():
    args = parse_args()
    logging.basicConfig(level=logging.WARNING, stream=sys.stderr)

    authorizer = RefusingAuthorizer() if args.refuse_login else DummyAuthorizer()
    authorizer.add_user(args.user, args.password, os.path.abspath(args.root), perm="elradfmwMT")

    handler = {None: TestHandler, "explicit": TLSHandler, "implicit": ImplicitTLSHandler}[args.tls]
    handler.certfile, handler.keyfile = args.cert
    handler.refuse_auth = args.refuse_auth
    handler.record = args.record
    handler.authorizer = authorizer
    handler.banner = "ValtrassoSftp test server ready."
    handler.auth_failed_timeout = 0.1  # refused logins answer at once, tests wait for them
    handler.refuse_mlsd = args.refuse_mlsd
    handler.permit_foreign_addresses = False
    handler.passive_ports = None
    if args.pasv_address:
        handler.masquerade_address = args.pasv_address
    handler.keep_bytes = args.keep_bytes
    handler.endless_files = args.endless_files
    cmds = dict(handler.proto_cmds)
    for name, dropped in (("MLSD", args.no_mlsd), ("MLST", args.no_mlsd), ("MDTM", args.no_mdtm),
                          ("SIZE", args.no_size)):
        if dropped:
            cmds.pop(name, None)
    handler.proto_cmds = cmds
    if args.drop_after_bytes >= 0 or args.stall_after_bytes >= 0 or args.rate > 0:
        # This data channel never uses sendfile(), which would move whole files past the
        # byte counting; without faults the plain (fast) one serves.
        FaultyDTPHandler.drop_after = args.drop_after_bytes
        FaultyDTPHandler.stall_after = args.stall_after_bytes
        FaultyDTPHandler.read_limit = FaultyDTPHandler.write_limit = args.rate
        handler.dtp_handler = FaultyDTPHandler

    server = FTPServer(("127.0.0.1", args.port), handler)
    server.max_cons = 256
    port = server.socket.getsockname()[1]
    lifetime.end_with_the_test(args.max_seconds)
    print("PORT %d" % port, flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
