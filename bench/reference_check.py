"""The command line shared by the reference clients of the check benchmarks
(poplib_check.py, imaplib_check.py): HOST PORT USER PASSWORD, then a number
of checks to run (default 1) or --serve, which keeps the process up and runs
one check per line read on standard input, answering each with its line: the
warm peer the benchmarks interleave with their own checks. End of input ends
it. Each check prints "seconds count".
"""
import sys
import time


def run(check, argv, usage):
    if len(argv) not in (5, 6):
        sys.stderr.write(usage)
        return 2
    host, port, user, password = argv[1], int(argv[2]), argv[3], argv[4]
    serve = len(argv) == 6 and argv[5] == "--serve"
    requests = sys.stdin if serve else range(int(argv[5]) if len(argv) == 6 else 1)
    for _request in requests:
        start = time.perf_counter()
        count = check(host, port, user, password)
        elapsed = time.perf_counter() - start
        print(f"{elapsed:.6f} {count}", flush=True)
    return 0
