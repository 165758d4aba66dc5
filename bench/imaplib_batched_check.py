#!/usr/bin/env python3
"""One complete IMAP4 check done with Python's imaplib the way bench_imap4's
client asks: LOGIN, SELECT "INBOX", UID SEARCH UNSEEN,
then UID FETCH <set> (RFC822.SIZE BODY.PEEK[HEADER]) for every 250 hits,
LOGOUT. Prints the seconds of each check and the number of hits.

    imaplib_batched_check.py HOST PORT USER PASSWORD [REPEAT]
    imaplib_batched_check.py HOST PORT USER PASSWORD --serve

With --serve it stays up and runs one check per line on its standard input
(see reference_check.py).
"""
import imaplib
import sys

import reference_check

CHUNK = 250


def check(host, port, user, password):
    imap = imaplib.IMAP4(host, port)
    try:
        imap.login(user, password)
        imap.select('"INBOX"')
        _typ, data = imap.uid("SEARCH", "UNSEEN")
        uids = sorted(int(u) for u in data[0].split())
        for at in range(0, len(uids), CHUNK):
            part = uids[at:at + CHUNK]
            _typ, answer = imap.uid("FETCH", f"{part[0]}:{part[-1]}" if part[-1] - part[0] == len(part) - 1
                                    else ",".join(map(str, part)), "(RFC822.SIZE BODY.PEEK[HEADER])")
            if sum(isinstance(item, tuple) for item in answer) != len(part):
                raise RuntimeError("headers left out")
    finally:
        imap.logout()
    return len(uids)


if __name__ == "__main__":
    sys.exit(reference_check.run(check, sys.argv, __doc__))
