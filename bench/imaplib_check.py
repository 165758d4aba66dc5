#!/usr/bin/env python3
"""One complete IMAP4 check done with Python's imaplib, for comparison with
bench_imap4: LOGIN, SELECT "INBOX", SEARCH UNSEEN, then
FETCH n (RFC822.HEADER) and FETCH n (RFC822.SIZE) for every hit, LOGOUT.
Prints the seconds of each check and the number of hits, one line per
repetition.

    imaplib_check.py HOST PORT USER PASSWORD [REPEAT]
    imaplib_check.py HOST PORT USER PASSWORD --serve

With --serve it stays up and runs one check per line on its standard input
(see reference_check.py).
"""
import imaplib
import sys

import reference_check


def check(host, port, user, password):
    imap = imaplib.IMAP4(host, port)
    try:
        imap.login(user, password)
        imap.select('"INBOX"')
        _typ, data = imap.search(None, "UNSEEN")
        hits = data[0].split()
        for n in hits:
            imap.fetch(n, "(RFC822.HEADER)")
            imap.fetch(n, "(RFC822.SIZE)")
    finally:
        imap.logout()
    return len(hits)


if __name__ == "__main__":
    sys.exit(reference_check.run(check, sys.argv, __doc__))
