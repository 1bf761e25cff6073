#!/usr/bin/python3
"""FTP test server (pyftpdlib on 127.0.0.1, run with Debian's /usr/bin/python3).

Prints "PORT <n>" once it listens, then "LOGIN <user>" for every login and "QUIT" for every
QUIT, so that tests count the control connections and the goodbyes. The switches (see --help)
force the faults and lies the control must survive. It ends with the test (see lifetime.py).
"""

import itertools
import logging
import os
import sys

from pyftpdlib.authorizers import AuthenticationFailed, DummyAuthorizer
from pyftpdlib.handlers import (BufferedIteratorProducer, FTPHandler, ThrottledDTPHandler,
                                TLS_DTPHandler, TLS_FTPHandler)
from pyftpdlib.servers import FTPServer

import lifetime


def parse_args():
    p = lifetime.parser(__doc__)
    p.add_argument("--rate", type=int, default=0,
                   help="limit every transfer to this many bytes per second (a slow link)")
    p.add_argument("--no-mlsd", action="store_true", help="MLSD and MLST are not offered")
    p.add_argument("--refuse-mlsd", action="store_true", help="MLST offered, MLSD answers 502")
    p.add_argument("--no-mdtm", action="store_true", help="MDTM is not offered")
    p.add_argument("--no-size", action="store_true", help="SIZE is not offered")
    p.add_argument("--keep-bytes", type=int,
                   help="an upload keeps only its first N bytes, though every byte is acknowledged")
    p.add_argument("--endless-files", action="store_true",
                   help="a download goes on past the file's end with bytes that never stop")
    p.add_argument("--pasv-address", help="address named in PASV replies instead of the real one")
    p.add_argument("--tls", choices=("explicit", "implicit"),
                   help="FTPS, TLS required (no data-channel faults then)")
    p.add_argument("--cert", nargs=2, default=(None, None), help="certificate and key (PEM)")
    p.add_argument("--record", help="append every command line received to this file")
    return p.parse_args()


class RefusingAuthorizer(DummyAuthorizer):
    def validate_authentication(self, username, password, handler):
        raise AuthenticationFailed("Login incorrect.")


class FaultyDTPHandler(ThrottledDTPHandler):
    """Data channel that can be slow, or drop or stall a transfer after a number of bytes (a
    received one may go up to a read buffer further)."""

    stalled = False

    def limit(self):
        args = self.cmd_channel.args
        return args.stall_after_bytes if args.drop_after_bytes is None else args.drop_after_bytes

    def send(self, data):
        limit = self.limit()
        if limit is None or self.file_obj is None:
            return super().send(data)
        sent = super().send(data[:limit - self.tot_bytes_sent]) if self.tot_bytes_sent < limit else 0
        if self.tot_bytes_sent >= limit:
            self.reached_limit()
        return sent

    def handle_read(self):
        if not self.stalled:
            super().handle_read()
        if self.limit() is not None and self.tot_bytes_received >= self.limit():
            self.reached_limit()

    handle_read_event = handle_read

    def readable(self):
        return not self.stalled and super().readable()

    def writable(self):
        return not self.stalled and super().writable()

    def reached_limit(self):
        if self.cmd_channel.args.drop_after_bytes is not None:
            self._resp = ("426 Connection dropped by the test server; transfer aborted.",
                          logging.info)
            self.close()
        elif not self.stalled:
            # Keep the socket open and simply stop: the client must notice the silence itself.
            self.stalled = True
            self.modify_ioloop_events(0)


class TestHandler(FTPHandler):
    args = None  # the switches

    def pre_process_command(self, line, cmd, arg):
        if self.args.record:
            with open(self.args.record, "a") as f:
                f.write(line + "\n")
        return super().pre_process_command(line, cmd, arg)

    def on_login(self, username):
        print("LOGIN %s" % username, flush=True)

    def ftp_QUIT(self, line):
        print("QUIT", flush=True)
        return super().ftp_QUIT(line)

    def ftp_MLSD(self, path):
        if self.args.refuse_mlsd:
            return self.respond("502 MLSD not implemented by the test server.")
        return super().ftp_MLSD(path)

    def ftp_RETR(self, file):
        if not self.args.endless_files:
            return super().ftp_RETR(file)
        try:
            with open(file, "rb") as f:
                data = f.read()
        except OSError as err:
            return self.respond("550 %s." % err.strerror)
        # The file's bytes, then 64 MiB that were never in it.
        more = itertools.chain([data], itertools.repeat(b"x" * 65536, 1024))
        self.push_dtp_data(BufferedIteratorProducer(more), isproducer=True, cmd="RETR")
        return file

    def on_file_received(self, file):
        if self.args.keep_bytes is not None and os.path.getsize(file) > self.args.keep_bytes:
            os.truncate(file, self.args.keep_bytes)


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
    handler.args = args
    handler.certfile, handler.keyfile = args.cert
    handler.authorizer = authorizer
    handler.banner = "ValtrassoSftp test server ready."
    handler.auth_failed_timeout = 0.1  # refused logins answer at once, tests wait for them
    handler.masquerade_address = args.pasv_address
    dropped = {"MLSD", "MLST"} if args.no_mlsd else set()
    dropped |= {name for name, off in (("MDTM", args.no_mdtm), ("SIZE", args.no_size)) if off}
    handler.proto_cmds = {k: v for k, v in handler.proto_cmds.items() if k not in dropped}
    if args.drop_after_bytes is not None or args.stall_after_bytes is not None or args.rate:
        # This data channel never uses sendfile(), which would move whole files past the
        # byte counting; without faults the plain (fast) one serves.
        FaultyDTPHandler.read_limit = FaultyDTPHandler.write_limit = args.rate
        handler.dtp_handler = FaultyDTPHandler

    server = FTPServer(("127.0.0.1", args.port), handler)
    lifetime.end_with_the_test(args.max_seconds)
    print("PORT %d" % server.socket.getsockname()[1], flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
