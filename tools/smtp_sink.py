#!/usr/bin/python3
"""A local SMTP server for the mail tests: accepts mail on a loopback port and keeps it.

Every accepted message is written to the record directory as two files, numbered in order of
arrival:
  NNNN.eml       the message exactly as received after DATA (CRLF line ends, dots unstuffed)
  NNNN.envelope  "FROM <address>" and one "TO <address>" line per accepted recipient, then
                 "AUTH <login>" when the client authenticated
The envelope is renamed into place last, so a reader that sees it also sees the message.
Both files exist before the server answers the end of DATA, so a client that got its 250 can
read them at once.

When the server listens, its port number is written to "port" in the record directory (renamed
into place), so tests can start it on port 0 and run side by side.

Options:
  --dir DIR           record directory (created when missing)
  --host ADDR         address to listen on (default 127.0.0.1)
  --port N            port (default 0: any free port)
  --reject ADDR       answer RCPT TO of this address with 550 (may be repeated)
  --auth LOGIN:PASS   require authentication with these credentials (plain text allowed)
  --max-size N        refuse messages above N bytes (552)
Stops on SIGTERM or SIGINT.
"""

import argparse
import asyncio
import logging
import os
import signal
import sys
import warnings

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class Recorder:
    def __init__(self, directory, rejects):
        self.directory = directory
        self.rejects = {r.lower() for r in rejects}
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.lower() in self.rejects:
            return "550 5.1.1 <%s>: Recipient address rejected: User unknown" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        stem = os.path.join(self.directory, "%04d" % self.count)
        content = envelope.original_content
        if content is None:
            content = envelope.content
        if isinstance(content, str):
            content = content.encode("utf-8", "surrogateescape")
        write_atomic(stem + ".eml", content)
        lines = ["FROM %s" % envelope.mail_from]
        lines += ["TO %s" % r for r in envelope.rcpt_tos]
        if session.authenticated and isinstance(session.auth_data, LoginPassword):
            lines.append("AUTH %s" % session.auth_data.login.decode("utf-8", "replace"))
        write_atomic(stem + ".envelope", ("\n".join(lines) + "\n").encode("utf-8", "replace"))
        return "250 Message accepted for delivery"


def write_atomic(path, data):
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.rename(tmp, path)


def make_authenticator(login, password):
    def authenticate(server, session, envelope, mechanism, auth_data):
        if (isinstance(auth_data, LoginPassword)
                and auth_data.login == login.encode()
                and auth_data.password == password.encode()):
            return AuthResult(success=True, auth_data=auth_data)
        return AuthResult(success=False, handled=False)
    return authenticate


def main():
    parser = argparse.ArgumentParser(description="Local SMTP recorder for tests")
    parser.add_argument("--dir", required=True)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--reject", action="append", default=[])
    parser.add_argument("--auth")
    parser.add_argument("--max-size", type=int, default=0)
    args = parser.parse_args()
    # Plain-text AUTH is what the tests want; keep the log free of the server's advice.
    warnings.simplefilter("ignore")
    logging.getLogger("mail.log").setLevel(logging.ERROR)

    os.makedirs(args.dir, exist_ok=True)
    recorder = Recorder(args.dir, args.reject)

    kwargs = {"data_size_limit": args.max_size or 33554432, "hostname": "sink.test"}
    if args.auth:
        login, _, password = args.auth.partition(":")
        kwargs.update(auth_required=True, auth_require_tls=False,
                      authenticator=make_authenticator(login, password))

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    server = loop.run_until_complete(
        loop.create_server(lambda: SMTP(recorder, loop=loop, **kwargs), args.host, args.port))
    port = server.sockets[0].getsockname()[1]
    write_atomic(os.path.join(args.dir, "port"), ("%d\n" % port).encode())

    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, loop.stop)
    try:
        loop.run_forever()
    finally:
        server.close()
        loop.run_until_complete(server.wait_closed())
        loop.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
