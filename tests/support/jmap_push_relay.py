#!/usr/bin/env python3
"""A JMAP push relay for the tests: passes every request through to a JMAP
server on loopback and serves the event source itself, from the server's own
states, asked a few times a second with the client's credentials.

    jmap_push_relay.py SERVER_PORT PORT_FILE

writes "port N" to PORT_FILE once it listens on 127.0.0.1:N, and serves until
it is ended by a signal. Redirects of the server are rewritten to point at
the relay, so the session's relative URLs lead here.
"""
import http.client
import http.server
import json
import os
import socketserver
import sys
import time
import urllib.parse

SERVER_PORT = int(sys.argv[1])
POLL_SECONDS = 0.2


def server_call(method, path, headers, body=None):
    connection = http.client.HTTPConnection("127.0.0.1", SERVER_PORT, timeout=10)
    try:
        connection.request(method, path, body=body, headers=headers)
        answer = connection.getresponse()
        return answer.status, answer.getheaders(), answer.read()
    finally:
        connection.close()


def states(authorization, account):
    request = {"using": ["urn:ietf:params:jmap:core", "urn:ietf:params:jmap:mail"],
               "methodCalls": [["Email/get", {"accountId": account, "ids": []}, "e"],
                               ["Mailbox/get", {"accountId": account, "ids": []}, "m"]]}
    status, _, body = server_call("POST", "/jmap/", {"Authorization": authorization,
                                                      "Content-Type": "application/json"},
                                  json.dumps(request))
    if status != 200:
        return None
    answers = json.loads(body)["methodResponses"]
    return {"Email": answers[0][1]["state"], "Mailbox": answers[1][1]["state"]}


class Relay(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        if self.path.startswith("/jmap/eventsource"):
            self.event_source()
        else:
            self.relay()

    def do_POST(self):
        self.relay()

    def relay(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else None
        headers = {k: v for k, v in self.headers.items()
                   if k.lower() in ("authorization", "content-type", "accept")}
        status, answer_headers, answer = server_call(self.command, self.path, headers, body)
        self.send_response(status)
        for name, value in answer_headers:
            lower = name.lower()
            if lower in ("content-length", "connection", "transfer-encoding", "upgrade"):
                continue
            if lower == "location":
                value = value.replace("127.0.0.1:%d" % SERVER_PORT,
                                      "127.0.0.1:%d" % self.server.server_address[1])
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(answer)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(answer)
        self.close_connection = True

    def event_source(self):
        authorization = self.headers.get("Authorization", "")
        status, _, body = server_call("GET", "/jmap", {"Authorization": authorization})
        if status != 200:
            self.send_response(status)
            self.send_header("Content-Length", "0")
            self.send_header("Connection", "close")
            self.end_headers()
            return
        account = json.loads(body)["primaryAccounts"]["urn:ietf:params:jmap:mail"]
        query = urllib.parse.parse_qs(urllib.parse.urlparse(self.path).query)
        ping = int((query.get("ping") or ["0"])[0])
        close_after = (query.get("closeafter") or ["no"])[0] == "state"
        self.send_response(200)
        self.send_header("Content-Type", "text/event-stream")
        self.send_header("Cache-Control", "no-cache")
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True
        last = states(authorization, account)
        next_ping = time.monotonic() + ping if ping else None
        try:
            while True:
                time.sleep(POLL_SECONDS)
                now = states(authorization, account)
                if now is not None and now != last:
                    last = now
                    change = {"@type": "StateChange", "changed": {account: now}}
                    self.wfile.write(("event: state\ndata: %s\n\n" % json.dumps(change)).encode())
                    self.wfile.flush()
                    if close_after:
                        return
                if next_ping and time.monotonic() >= next_ping:
                    next_ping += ping
                    self.wfile.write(('event: ping\ndata: {"@type":"Ping","interval":%d}\n\n' % ping).encode())
                    self.wfile.flush()
        except (BrokenPipeError, ConnectionResetError):
            return


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    server = Server(("127.0.0.1", 0), Relay)
    # Written whole, then renamed: a reader never sees half a line.
    with open(sys.argv[2] + ".part", "w") as out:
        out.write("port %d\n" % server.server_address[1])
    os.rename(sys.argv[2] + ".part", sys.argv[2])
    server.serve_forever()


if __name__ == "__main__":
    main()
