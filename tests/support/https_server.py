#!/usr/bin/env python3
"""A small HTTPS server on 127.0.0.1 for the update check tests.

Serves the files of --root. /stall/... reads the request and never answers; /redirect?to=URL answers 302
to URL; /raw?file=NAME sends the file's bytes as they are, without a status line or headers (an HTTP/0.9
answer, or one of the test's own making); /trickle?every=S sends a 200 answer one body byte every S
seconds. Prints the port on the first line of standard output, ends when standard input closes (the test
went away) or after --lifetime seconds, whichever comes first.
"""
import argparse
import http.server
import os
import ssl
import sys
import threading
import time
import urllib.parse


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("--lifetime", type=float, default=120)
    args = parser.parse_args()

    class Handler(http.server.SimpleHTTPRequestHandler):
        def __init__(self, *a, **kw):
            super().__init__(*a, directory=args.root, **kw)

        def do_GET(self):
            url = urllib.parse.urlsplit(self.path)
            if url.path.startswith("/stall"):
                time.sleep(args.lifetime)
                return
            query = urllib.parse.parse_qs(url.query)
            if url.path == "/raw":
                with open(os.path.join(args.root, query["file"][0]), "rb") as raw:
                    self.wfile.write(raw.read())
                self.close_connection = True
                return
            if url.path == "/trickle":
                every = float(query.get("every", ["1"])[0])
                self.send_response(200)
                self.send_header("Content-Length", "100000")
                self.end_headers()
                try:
                    while True:
                        self.wfile.write(b" ")
                        self.wfile.flush()
                        time.sleep(every)
                except OSError:
                    return  # the client went away
            if url.path == "/redirect":
                target = query.get("to", [""])[0]
                self.send_response(302)
                self.send_header("Location", target)
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            super().do_GET()

        def log_message(self, *a):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    # The handshake happens in the handler's thread, so a client that never completes one blocks nobody.
    server.socket = context.wrap_socket(server.socket, server_side=True, do_handshake_on_connect=False)

    def end_when_orphaned():
        sys.stdin.read()
        os._exit(0)

    threading.Thread(target=end_when_orphaned, daemon=True).start()
    threading.Timer(args.lifetime, lambda: os._exit(0)).start()
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
