#!/usr/bin/env python3
"""Makes Find's built-in provider table from mail configuration files.

    provider_table.py OUTPUT FOLDER...

Reads every *.xml file of the folders (<clientConfig> files, as providers
publish them) and writes OUTPUT, the C++ rows that src/find/Providers.cpp
includes:

  ProviderText     every name below, once, referred to by offset and length
  ProviderServers  each provider's incoming servers that Find can set up
                   (IMAP4 or POP3 over SSL/TLS or STARTTLS with a port), in
                   the file's order: host and user name as written (they may
                   hold %EMAILADDRESS%, %EMAILLOCALPART%, %EMAILDOMAIN%),
                   port, and what the file says of them (IMAP4, STARTTLS,
                   OAuth2 offered, a password offered)
  ProviderRows     one per provider: its servers and the OAuth2 issuer the
                   file names (as written; empty where it names none)
  ProviderDomains  every domain the files list, sorted, with its provider

A provider whose servers are all plain text keeps its domains with no
server, so a lookup stops there instead of at a shorter domain. A broken
file, a name that is no host name, or a domain listed by two providers
fails the build with the file named: the table is never made from half a
file. A folder's README.md may name the files' source on a line that
starts with "Source:", and its LICENSE their licence on its first line:
both go into OUTPUT's heading.
"""
import os
import re
import sys
import xml.etree.ElementTree as ET

LABEL = re.compile(r"^[a-z0-9]([a-z0-9-]{0,61}[a-z0-9])?$")
PLACEHOLDERS = ("%EMAILADDRESS%", "%EMAILLOCALPART%", "%EMAILDOMAIN%")
PASSWORD_KINDS = ("password-cleartext", "password-encrypted", "plain")
# The offsets and lengths are 16 and 8 bits wide in Providers.cpp.
MAX_TEXT = 65535
MAX_NAME = 255


class Refused(Exception):
    pass


def host_name(text):
    """The host name as Find compares it, or None when it is not one."""
    name = text.strip().lower().rstrip(".")
    if not name or len(name) > 253 or "." not in name:
        return None
    return name if all(LABEL.match(label) for label in name.split(".")) else None


def element_text(parent, tag):
    child = parent.find(tag)
    return (child.text or "").strip() if child is not None else ""


def read_server(element):
    """One incoming server as the table keeps it, or None if Find cannot use it."""
    kind = (element.get("type") or "").lower()
    socket = element_text(element, "socketType").upper()
    if kind not in ("imap", "pop3") or socket not in ("SSL", "TLS", "STARTTLS"):
        return None
    host = element_text(element, "hostname")
    # A host written with the address's domain in it is checked with one put in.
    probe = host
    for placeholder in PLACEHOLDERS:
        probe = probe.replace(placeholder, "example.com")
    port = element_text(element, "port")
    if host_name(probe) is None or not port.isdigit() or not 1 <= int(port) <= 65535:
        return None
    auth = [(a.text or "").strip().lower() for a in element.findall("authentication")]
    return {
        "host": host,
        "user": element_text(element, "username") or "%EMAILADDRESS%",
        "port": int(port),
        "imap4": kind == "imap",
        "starttls": socket == "STARTTLS",
        "oauth2": "oauth2" in auth,
        "password": any(a in PASSWORD_KINDS for a in auth),
    }


def read_file(path):
    """The providers of one file: (domains, servers, issuer) each."""
    with open(path, "rb") as f:
        data = f.read()
    # Entities could make the table out of anything; the files need none.
    if b"<!DOCTYPE" in data or b"<!ENTITY" in data:
        raise Refused("declares a document type")
    try:
        root = ET.fromstring(data)
    except ET.ParseError as e:
        raise Refused("is not well-formed XML: %s" % e)
    if root.tag != "clientConfig":
        raise Refused("is not a mail configuration (<%s>)" % root.tag)
    providers = root.findall("emailProvider")
    if not providers:
        raise Refused("names no provider")
    issuer = element_text(root, "oAuth2/issuer")
    found = []
    for provider in providers:
        domains = []
        for element in provider.findall("domain"):
            name = host_name(element.text or "")
            if name is None:
                raise Refused("lists %r, which is no domain" % element.text)
            if name not in domains:
                domains.append(name)
        servers = [s for s in map(read_server, provider.findall("incomingServer")) if s]
        found.append((domains, servers, element_text(provider, "oAuth2/issuer") or issuer))
    return found


class Text:
    """One string holding every name, each kept once."""

    def __init__(self):
        self.text = ""

    def add(self, name):
        if len(name) > MAX_NAME or any(ord(c) < 0x20 or ord(c) > 0x7e for c in name):
            raise Refused("names %r, too long or not plain ASCII" % name)
        at = self.text.find(name)
        if at < 0:
            at = len(self.text)
            self.text += name
        if len(self.text) > MAX_TEXT:
            raise Refused("makes the table's text longer than %d bytes" % MAX_TEXT)
        return "{%d, %d}" % (at, len(name))


def literal(text, width=100):
    """The text as adjacent C++ string literals, each escaped whole."""
    chunks = [text[i:i + width] for i in range(0, len(text), width)] or [""]
    return "\n".join('    "%s"' % c.replace("\\", "\\\\").replace('"', '\\"') for c in chunks)


def notices(folders):
    """The source and licence of each folder, for the table's heading."""
    lines = []
    for folder in folders:
        where = "/".join(os.path.abspath(folder).split(os.sep)[-2:])
        readme = os.path.join(folder, "README.md")
        if os.path.exists(readme):
            with open(readme, encoding="utf-8") as f:
                lines += ["%s: %s" % (where, line.strip()) for line in f if line.startswith("Source:")]
        licence = os.path.join(folder, "LICENSE")
        if os.path.exists(licence):
            with open(licence, encoding="utf-8") as f:
                lines.append("%s and what is made from it: %s (%s/LICENSE)" % (where, f.readline().strip(), where))
    return lines


def make(folders):
    text = Text()
    servers, rows, domains = [], [], {}
    files = 0
    for folder in folders:
        for name in sorted(os.listdir(folder)):
            if not name.endswith(".xml"):
                continue
            path = os.path.join(folder, name)
            files += 1
            try:
                for provider_domains, provider_servers, issuer in read_file(path):
                    for domain in provider_domains:
                        if domain in domains:
                            raise Refused("lists %s, which %s lists too" % (domain, domains[domain][1]))
                        domains[domain] = (len(rows), path)
                    if len(provider_servers) > 255:
                        raise Refused("names more than 255 servers")
                    rows.append("    {%d, %d, %s}, // %s" % (len(servers), len(provider_servers),
                                                               text.add(issuer), name))
                    for s in provider_servers:
                        flags = [f for f, on in (("sfImap4", s["imap4"]), ("sfStartTls", s["starttls"]),
                                                 ("sfOAuth2", s["oauth2"]), ("sfPassword", s["password"])) if on]
                        servers.append("    {%s, %s, %d, %s}," % (text.add(s["host"]), text.add(s["user"]), s["port"],
                                                                  " | ".join(flags) or "0"))
            except (Refused, OSError) as e:
                raise Refused("%s %s" % (path, e))
    if len(rows) > 65535 or len(servers) > 65535:
        raise Refused("too many providers or servers for the table")
    domain_rows = ["    {%s, %d}," % (text.add(name), domains[name][0]) for name in sorted(domains)]
    heading = ["// Made by scripts/provider_table.py from %d files; not to be edited." % files]
    heading += ["// %s" % line for line in notices(folders)]
    heading += ["// %d providers, %d servers, %d domains." % (len(rows), len(servers), len(domain_rows))]
    return "\n".join(heading + [
        "",
        "constexpr char ProviderText[] =",
        literal(text.text) + ";",
        "",
        "constexpr TServerRow ProviderServers[] = {",
        *servers,
        "};",
        "",
        "constexpr TProviderRow ProviderRows[] = {",
        *rows,
        "};",
        "",
        "constexpr TDomainRow ProviderDomains[] = {",
        *domain_rows,
        "};",
        "",
    ])


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    output, folders = sys.argv[1], sys.argv[2:]
    try:
        table = make(folders)
    except Refused as e:
        sys.exit("provider_table.py: %s" % e)
    os.makedirs(os.path.dirname(os.path.abspath(output)), exist_ok=True)
    with open(output, "w", encoding="ascii") as f:
        f.write(table)

if __name__ == "__main__":
    main()
