"""An SMTP server for the e-mail channel's tests: aiosmtpd on a free port of 127.0.0.1.

usage: smtp_test_server.py MODE DIR [CERT KEY]

MODE is plain (AUTH without TLS), starttls (STARTTLS required before AUTH) or implicit (TLS from
the first byte). The port is written to DIR/port once the server listens; it runs until it is
ended. Every event is appended to DIR/events.jsonl as one JSON line: auth, mail (the envelope and
the mail as Python's mail parser reads it), quit, closed. Recipients beginning with "refused@"
are refused; a mail to one beginning with "slow@" is taken after 1.5 seconds.
"""
import asyncio
import email
import email.policy
import json
import os
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

ACCOUNT, PASSWORD = b"robot@tovik.test", b"pa55-word"
mode, folder = sys.argv[1], sys.argv[2]
events = os.path.join(folder, "events.jsonl")


def record(event, **fields):
    with open(events, "a", encoding="utf-8") as f:
        f.write(json.dumps(dict(event=event, **fields), ensure_ascii=False) + "\n")


def over_tls(server):
    return server.transport.get_extra_info("ssl_object") is not None


def authenticate(server, session, envelope, mechanism, auth_data):
    ok = isinstance(auth_data, LoginPassword) and auth_data == (ACCOUNT, PASSWORD)
    record("auth", ok=ok, tls=over_tls(server))
    return AuthResult(success=ok, handled=False)


class Handler:
    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.startswith("refused@"):
            return "550 5.1.1 no such mailbox"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if any(r.startswith("slow@") for r in envelope.rcpt_tos):
            await asyncio.sleep(1.5)
        raw = envelope.original_content
        msg = email.message_from_bytes(raw, policy=email.policy.default)
        record("mail", mail_from=envelope.mail_from, rcpt_tos=envelope.rcpt_tos, tls=over_tls(server),
               authenticated=session.authenticated,
               header_names=[k for k, _ in msg.items()], headers={k: str(v) for k, v in msg.items()},
               content_type=msg.get_content_type(), charset=msg.get_content_charset(),
               body=msg.get_content())
        return "250 Message accepted"

    async def handle_QUIT(self, server, session, envelope):
        record("quit")
        return "221 Bye"


class Server(SMTP):
    def connection_lost(self, error):
        record("closed")
        super().connection_lost(error)


async def main():
    context = None
    if mode != "plain":
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(sys.argv[3], sys.argv[4])

    def factory():
        options = dict(authenticator=authenticate, auth_require_tls=mode == "starttls")
        if mode == "starttls":
            options.update(tls_context=context, require_starttls=True)
        return Server(Handler(), **options)

    loop = asyncio.get_running_loop()
    server = await loop.create_server(factory, "127.0.0.1", 0, ssl=context if mode == "implicit" else None)
    with open(os.path.join(folder, "port.tmp"), "w") as f:
        f.write(str(server.sockets[0].getsockname()[1]))
    os.rename(os.path.join(folder, "port.tmp"), os.path.join(folder, "port"))
    await asyncio.Event().wait()


asyncio.run(main())
