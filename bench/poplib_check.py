#!/usr/bin/env python3
"""One complete POP3 check done with Python's poplib, for comparison with
bench_pop3: connect, CAPA, USER/PASS, STAT, then TOP n 0 and LIST n for every
message, QUIT. Prints the seconds of each check, one line per repetition.

    poplib_check.py HOST PORT USER PASSWORD [REPEAT]
    poplib_check.py HOST PORT USER PASSWORD --serve

With --serve the process stays up and runs one check per line read on its
standard input, answering each with its line: the warm peer that the
benchmark interleaves with its own checks. End of input ends it.

bench_pop3 runs it against its own Dovecot; it can be pointed at any server.
"""
import poplib
import sys
import time


def check(host, port, user, password):
    pop = poplib.POP3(host, port)
    try:
        pop.capa()
        pop.user(user)
        pop.pass_(password)
        count, _size = pop.stat()
        for n in range(1, count + 1):
            pop.top(n, 0)
            pop.list(n)
    finally:
        pop.quit()
    return count


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
