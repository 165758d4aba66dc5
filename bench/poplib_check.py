#!/usr/bin/env python3
"""One complete POP3 check done with Python's poplib, for comparison with
bench_pop3: connect, CAPA, USER/PASS, STAT, UIDL, then TOP n 0 and LIST n for
every message, QUIT. Prints the seconds of each check, one line per repetition.

    poplib_check.py HOST PORT USER PASSWORD [REPEAT]
    poplib_check.py HOST PORT USER PASSWORD --serve

With --serve it stays up and runs one check per line on its standard input
(see reference_check.py).

bench_pop3 runs it against its own Dovecot; it can be pointed at any server.
"""
import poplib
import sys

import reference_check


def check(host, port, user, password):
    pop = poplib.POP3(host, port)
    try:
        pop.capa()
        pop.user(user)
        pop.pass_(password)
        count, _size = pop.stat()
        pop.uidl()
        for n in range(1, count + 1):
            pop.top(n, 0)
            pop.list(n)
    finally:
        pop.quit()
    return count


if __name__ == "__main__":
    sys.exit(reference_check.run(check, sys.argv, __doc__))
