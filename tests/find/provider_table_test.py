#!/usr/bin/env python3
"""The provider table's generator on folders of its own: what it keeps of a
file, and that it refuses a file it cannot read whole, naming it.

    provider_table_test.py SCRIPTS-FOLDER
"""
import os
import sys
import tempfile

# Nothing written into the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, sys.argv[1])
import provider_table  # noqa: E402


def config(domains, servers="", head='<?xml version="1.0"?>', root="clientConfig"):
    listed = "".join("<domain>%s</domain>" % d for d in domains)
    return '%s<%s version="1.1"><emailProvider id="x">%s%s</emailProvider></%s>' % (head, root, listed, servers, root)


def server(kind, host, port, socket, auth=("password-cleartext",)):
    return ('<incomingServer type="%s"><hostname>%s</hostname><port>%s</port><socketType>%s</socketType>%s'
            "</incomingServer>" % (kind, host, port, socket, "".join("<authentication>%s</authentication>" % a for a in auth)))


USABLE = server("imap", "imap.a.example", 993, "SSL") + server("pop3", "pop.a.example", 110, "STARTTLS")
CASES = [
    # name, {file: text}, expected in the table's text or in the refusal
    ("kept", {"a.xml": config(["A.example.", "a.example", "b.example"],
                              USABLE + server("pop3", "pop.a.example", 110, "plain")
                              + server("exchange", "ews.a.example", 443, "SSL") + server("imap", "bad host", 993, "SSL")
                              + server("imap", "imap.a.example", 0, "SSL")),
              "plain.xml": config(["plain.example"], server("pop3", "pop.plain.example", 110, "plain"))},
     ["2 providers, 2 servers, 3 domains.", "{0, 2, {0, 0}}, // a.xml", "{2, 0, {0, 0}}, // plain.xml"]),
    ("entities", {"e.xml": config(["e.example"], USABLE, '<!DOCTYPE c [<!ENTITY h "imap.e.example">]>')},
     ["e.xml declares a document type"]),
    ("broken", {"b.xml": config(["b.example"], USABLE)[:-5]}, ["b.xml is not well-formed XML"]),
    ("other", {"o.xml": config(["o.example"], USABLE, root="html")}, ["o.xml is not a mail configuration"]),
    ("baddomain", {"d.xml": config(["exa_mple.com"], USABLE)}, ["d.xml lists 'exa_mple.com', which is no domain"]),
    ("twice", {"1.xml": config(["same.example"], USABLE), "2.xml": config(["same.example"], USABLE)},
     ["2.xml lists same.example, which", "1.xml lists too"]),
    ("notascii", {"n.xml": config(["n.example"], server("imap", "imap.n.example", 993, "SSL").replace(
        "</port>", "</port><username>\u00e4%EMAILLOCALPART%</username>"))}, ["n.xml names", "not plain ASCII"]),
]

failures = 0
for name, files, expected in CASES:
    with tempfile.TemporaryDirectory() as folder:
        for file, text in files.items():
            with open(os.path.join(folder, file), "w", encoding="utf-8") as f:
                f.write(text)
        try:
            result = provider_table.make([folder])
        except provider_table.Refused as e:
            result = str(e)
    missing = [e for e in expected if e not in result]
    if missing:
        failures += 1
        print("%s: %s not in:\n%s" % (name, missing, result))
sys.exit(1 if failures else 0)
