#!/usr/bin/env python3
"""A throwaway RFC 3161 time-stamping authority on 127.0.0.1 for the release check.

  throwaway_tsa.py CERT KEY WORKDIR

Answers every POSTed TimeStampReq with `openssl ts -reply`, signed by CERT/KEY;
prints "http://127.0.0.1:<port>/" on its first line once it listens, then
serves until it is killed.
"""
import http.server
import os
import subprocess
import sys

CONFIG = """[tsa]
default_tsa = throwaway
[throwaway]
serial = {work}/serial
signer_cert = {cert}
certs = {cert}
signer_key = {key}
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha1, sha256
accuracy = secs:1
ordering = yes
tsa_name = yes
ess_cert_id_chain = no
ess_cert_id_alg = sha256
"""


def main():
    cert, key, work = (os.path.abspath(a) for a in sys.argv[1:4])
    config = os.path.join(work, "tsa.cnf")
    with open(config, "w") as f:
        f.write(CONFIG.format(work=work, cert=cert, key=key))
    with open(os.path.join(work, "serial"), "w") as f:
        f.write("01\n")

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            query, reply = os.path.join(work, "query.tsq"), os.path.join(work, "reply.tsr")
            with open(query, "wb") as f:
                f.write(self.rfile.read(int(self.headers.get("Content-Length", "0"))))
            done = subprocess.run(["openssl", "ts", "-reply", "-config", config, "-queryfile", query, "-out", reply],
                                  capture_output=True)
            if done.returncode != 0:
                self.send_error(500, done.stderr.decode(errors="replace")[:200])
                return
            with open(reply, "rb") as f:
                body = f.read()
            self.send_response(200)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    print("http://127.0.0.1:%d/" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
