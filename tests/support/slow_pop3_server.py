#!/usr/bin/env python3
"""A POP3 server on 127.0.0.1 for the desktop tests: it greets only after a
pause, so that a check lasts a few blink periods, then serves the headers of
a few messages. Runs until killed.

Usage: slow_pop3_server.py PORT_FILE GREETING_DELAY_SECONDS
The chosen port is written to PORT_FILE once the server listens.
"""
import socketserver
import sys
import time

MESSAGES = [
    (b"Ann Lee <ann@example.org>", b"Lunch on Friday?"),
    (b"Bob Stone <bob@example.org>", b"Quarterly report"),
    # "Re: 会議مرحبا📧 の議事録": Japanese, Arabic and an emoji on one line.
    (b"Ann Lee <ann@example.org>", b"=?UTF-8?B?UmU6IOS8muitsNmF2LHYrdio2Kfwn5OnIOOBruitsOS6i+mMsg==?="),
]


class Session(socketserver.StreamRequestHandler):
    def handle(self):
        time.sleep(float(sys.argv[2]))
        self.wfile.write(b"+OK ready\r\n")
        for line in self.rfile:
            command = line.strip().upper()
            if command.startswith(b"CAPA"):
                # An old server: no capability list, so the old dialogue.
                self.wfile.write(b"-ERR unknown command\r\n")
            elif command.startswith(b"STAT"):
                self.wfile.write(b"+OK %d 200\r\n" % len(MESSAGES))
            elif command.startswith(b"TOP "):
                number = int(command.split()[1])
                sender, subject = MESSAGES[number - 1]
                self.wfile.write(b"+OK\r\nFrom: " + sender + b"\r\nSubject: " + subject +
                                 b"\r\n\r\n.\r\n")
            else:
                self.wfile.write(b"+OK\r\n")


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


if __name__ == "__main__":
    with Server(("127.0.0.1", 0), Session) as server:
        with open(sys.argv[1], "w") as port_file:
            port_file.write(str(server.server_address[1]))
        server.serve_forever()
