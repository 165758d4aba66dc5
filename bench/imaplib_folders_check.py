#!/usr/bin/env python3
"""A repeat check of an account's folders done with Python's imaplib the
usual way: LOGIN, then SELECT and UID SEARCH UNSEEN for each folder (INBOX
and F01..F19, as bench_folders fills them), LOGOUT. Prints the seconds of
each check and the number of unseen messages found.

    imaplib_folders_check.py HOST PORT USER PASSWORD [REPEAT | --serve]
"""
import imaplib
import sys

import reference_check

FOLDERS = ["INBOX"] + ["F%02d" % n for n in range(1, 20)]


def check(host, port, user, password):
    imap = imaplib.IMAP4(host, port)
    found = 0
    try:
        imap.login(user, password)
        for folder in FOLDERS:
            imap.select('"%s"' % folder, readonly=True)
            _typ, data = imap.uid("SEARCH", "UNSEEN")
            found += len(data[0].split())
    finally:
        imap.logout()
    return found


if __name__ == "__main__":
    sys.exit(reference_check.run(check, sys.argv, __doc__))
