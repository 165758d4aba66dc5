#!/usr/bin/env python3
"""One complete IMAP4 check done with Python's imaplib, for comparison with
bench_imap4: LOGIN, CAPABILITY twice, SELECT "inbox", SEARCH UNSEEN, then
FETCH n (RFC822.HEADER) and FETCH n (RFC822.SIZE) for every hit, LOGOUT.
Prints the seconds of each check and the number of hits, one line per
repetition.

    imaplib_check.py HOST PORT USER PASSWORD [REPEAT]
    imaplib_check.py HOST PORT USER PASSWORD --serve

With --serve the process stays up and runs one check per line read on its
standard input, answering each with its line: the warm peer that the
benchmark interleaves with its own checks. End of input ends it.
"""
import imaplib
import sys
import time


def check(host, port, user, password):
    imap = imaplib.IMAP4(host, port)
    try:
        imap.login(user, password)
        imap.capability()
        imap.capability()
        imap.select('"inbox"')
        _typ, data = imap.search(None, "UNSEEN")
        hits = data[0].split()
        for n in hits:
            imap.fetch(n, "(RFC822.HEADER)")
            imap.fetch(n, "(RFC822.SIZE)")
    finally:
        imap.logout()
    return len(hits)


def main(argv):
    if len(argv) not in (5, 6):
        sys.stderr.write(__doc__)
        return 2
    host, port, user, password = argv[1], int(argv[2]), argv[3], argv[4]
    if len(argv) == 6 and argv[5] == "--serve":
        for _request in sys.stdin:
            start = time.perf_counter()
            count = check(host, port, user, password)
            elapsed = time.perf_counter() - start
            print(f"{elapsed:.6f} {count}", flush=True)
        return 0
    repeat = int(argv[5]) if len(argv) == 6 else 1
    for _ in range(repeat):
        start = time.perf_counter()
        count = check(host, port, user, password)
        elapsed = time.perf_counter() - start
        print(f"{elapsed:.6f} {count}", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
