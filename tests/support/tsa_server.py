#!/usr/bin/env python3
"""A time-stamping authority for tests, on 127.0.0.1 only.

Answers RFC 3161 queries posted to it with `openssl ts -reply`, signed by the certificate and
key it is given. The path of the request chooses how it behaves, so one server serves every
case of a test:

  /ok             a proper answer
  /http-error     HTTP 500
  /rejection      a granted-nothing answer: PKIStatus rejection with a text
  /garbage        HTTP 200 with bytes that are no answer
  /slow           a proper answer after SLOW seconds
  /large          HTTP 200 with a body of 1 MiB
  /other-imprint  a proper token over another imprint (one bit of the query's imprint flipped)
  /other-nonce    a proper token for another nonce
  /redirect       307 to /ok (the query is posted again)
  /redirect-ftp   302 to an ftp:// address

Usage: tsa_server.py CONFIG SIGNER_CERT SIGNER_KEY SLOW_SECONDS
It prints the port it listens on as one line, then serves until killed.
"""
import http.server
import os
import subprocess
import sys
import tempfile
import threading
import time

CONFIG, SIGNER, KEY, SLOW = sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4])
LOCK = threading.Lock()  # openssl ts -reply updates one serial file

# TimeStampResp { status PKIStatusInfo { status 2 (rejection), statusString { "no policy" } } }
REJECTION = bytes([0x30, 0x12, 0x30, 0x10, 0x02, 0x01, 0x02, 0x30, 0x0B, 0x0C, 0x09]) + b"no policy"


def flip_imprint(query):
    """Flips one bit of the hashed message: the OCTET STRING of 32 bytes."""
    at = query.find(b"\x04\x20") + 2
    return query[:at] + bytes([query[at] ^ 1]) + query[at + 1:]


def flip_nonce(query):
    """Flips one bit of the nonce: the INTEGER after the imprint."""
    at = query.find(b"\x04\x20") + 2 + 32
    assert query[at] == 0x02
    last = at + 1 + query[at + 1]
    return query[:last] + bytes([query[last] ^ 1]) + query[last + 1:]


def reply(query):
    with LOCK, tempfile.TemporaryDirectory() as folder:
        query_file = os.path.join(folder, "query.tsq")
        reply_file = os.path.join(folder, "reply.tsr")
        with open(query_file, "wb") as f:
            f.write(query)
        subprocess.run(["openssl", "ts", "-reply", "-config", CONFIG, "-queryfile", query_file,
                        "-signer", SIGNER, "-inkey", KEY, "-out", reply_file],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(reply_file, "rb") as f:
            return f.read()


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def answer(self, status, body=b"", headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        try:
            self.wfile.write(body)
        except (BrokenPipeError, ConnectionResetError):
            pass  # the client gave up (too large, too slow)

    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        mode = self.path.strip("/")
        if mode == "http-error":
            self.answer(500)
        elif mode == "rejection":
            self.answer(200, REJECTION)
        elif mode == "garbage":
            self.answer(200, b"this is no timestamp")
        elif mode == "large":
            self.answer(200, b"\0" * (1024 * 1024))
        elif mode == "redirect":
            self.answer(307, headers=[("Location", "/ok")])
        elif mode == "redirect-ftp":
            self.answer(302, headers=[("Location", "ftp://127.0.0.1/token")])
        else:
            if mode == "slow":
                time.sleep(SLOW)
            elif mode == "other-imprint":
                query = flip_imprint(query)
            elif mode == "other-nonce":
                query = flip_nonce(query)
            self.answer(200, reply(query))


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True


server = Server(("127.0.0.1", 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
