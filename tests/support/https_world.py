#!/usr/bin/env python3
"""The https server of Find's private test network.

    https_world.py ROUTES.json CERT KEY ADDRESS [STARTTLS-ADDRESS]

Listens on port 443 of ADDRESS and answers by the request's host and
path (the query is ignored). ROUTES maps "host/path" to one answer:
    {"body": "..."}                 200 with that body
    {"redirect": "url"}             302 to that address
    {"status": 401}                 that status, with no body
    {"endless": true}               200, chunks without end
    {"stall": true}                 the headers never come
Anything else is a 404. With STARTTLS-ADDRESS, a mail server that offers TLS
only by STARTTLS (IMAP4 on 143, POP3 on 110) listens there too. Prints
"ready" once everything listens.
"""
import http.server
import json
import socketserver
import ssl
import sys
import threading
import time


def main():
    routes_file, cert, key, address, *starttls = sys.argv[1:]
    with open(routes_file, encoding="utf-8") as f:
        routes = json.load(f)

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"
        # Headers and body leave at once, as a web server sends them: no
        # wait for the client's delayed acknowledgement in between.
        disable_nagle_algorithm = True

        def log_message(self, *args):
            pass

        def do_GET(self):
            host = (self.headers.get("Host") or "").split(":")[0].lower()
            path = self.path.split("?")[0]
            answer = routes.get(host + path)
            if answer is None:
                self.send_response(404)
                self.send_header("Content-Length", "0")
                self.end_headers()
            elif "body" in answer:
                body = answer["body"].encode("utf-8")
                self.send_response(200)
                self.send_header("Content-Type", "text/xml")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)
            elif "redirect" in answer:
                self.send_response(302)
                self.send_header("Location", answer["redirect"])
                self.send_header("Content-Length", "0")
                self.end_headers()
            elif "status" in answer:
                self.send_response(answer["status"])
                if answer["status"] == 401:
                    self.send_header("WWW-Authenticate", 'Basic realm="mail"')
                self.send_header("Content-Length", "0")
                self.end_headers()
            elif answer.get("endless"):
                self.send_response(200)
                self.send_header("Content-Type", "text/xml")
                self.send_header("Transfer-Encoding", "chunked")
                self.end_headers()
                chunk = b"<clientConfig>" + b" " * 65536
                try:
                    while True:
                        self.wfile.write(b"%x\r\n%s\r\n" % (len(chunk), chunk))
                except OSError:
                    pass
            elif answer.get("stall"):
                time.sleep(3600)

    class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
        daemon_threads = True
        allow_reuse_address = True

    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server = Server((address, 443), Handler)
    # The handshake in the answering thread: a client that stalls holds up no other.
    server.socket = context.wrap_socket(server.socket, server_side=True, do_handshake_on_connect=False)
    threading.Thread(target=server.serve_forever, daemon=True).start()

    class StartTls(socketserver.StreamRequestHandler):
        # Greets, agrees to STARTTLS (or STLS), and completes the handshake.
        def handle(self):
            imap = self.server.server_address[1] == 143
            self.wfile.write(b"* OK ready\r\n" if imap else b"+OK ready\r\n")
            line = self.rfile.readline().strip().upper()
            if line not in (b"A1 STARTTLS", b"STLS"):
                return
            self.wfile.write(b"a1 OK begin TLS\r\n" if imap else b"+OK begin TLS\r\n")
            tls = context.wrap_socket(self.request, server_side=True)
            tls.recv(1)

    class MailServer(socketserver.ThreadingMixIn, socketserver.TCPServer):
        daemon_threads = True
        allow_reuse_address = True

    for mail_address in starttls:
        for port in (143, 110):
            mail = MailServer((mail_address, port), StartTls)
            threading.Thread(target=mail.serve_forever, daemon=True).start()
    print("ready", flush=True)
    sys.stdin.read()  # ends when the test closes our input or goes


main()
