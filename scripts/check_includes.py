#!/usr/bin/env python3
"""Checks the include rules of the source tree.

A unit is a header with its .cpp (folder/Name). The check fails when
  - units include each other round a cycle (a pair, or longer), or
  - a file includes a header of a library it does not stand on.

    check_includes.py [--self-test] [--allow A:B ...] SRC

--allow A:B accepts the cycle of exactly the two units A and B (as
config/ConfigStore:config/SettingsForm); a larger cycle through them still
fails. --self-test first runs the checker on small trees of its own.
"""

import argparse
import os
import re
import sys
import tempfile

# What each folder's library links (src/CMakeLists.txt); it may include the
# headers of these and of everything they stand on. "" is src/ itself, the
# executable's main.
LINKS = {
    "platform": [],
    "mail": ["platform"],
    "i18n": ["platform"],
    "desktop": ["i18n"],
    "check": ["mail", "i18n"],
    "oauth": ["check"],
    "find": ["check"],
    "notify": ["check", "desktop"],
    "config": ["notify", "oauth", "find"],
    "app": ["config"],
    "": ["app"],
    # The decoder and preview modules and the keyring helper link none of
    # our libraries.
    "decoders": [],
    "preview": [],
    "keyring": [],
    "finder": [],
}

# Headers seen without linking: desktop loads the decoder module at run time
# and shares the types of its entry points through the module's header;
# mail loads the preview module the same way, and find the network module of
# Find; platform speaks to the keyring helper through the helper's protocol
# header. The network module of Find builds the mail library's HTTP answer
# reader (plain C++) into itself.
HEADERS_ONLY = {"desktop": ["decoders"], "mail": ["preview"], "platform": ["keyring"], "find": ["finder"],
                "finder": ["mail"]}

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def allowed_folders():
    """Each folder with the folders it may include, itself among them."""
    below = {}

    def closure(folder):
        if folder not in below:
            below[folder] = {folder}
            for linked in LINKS[folder]:
                below[folder] |= closure(linked)
        return below[folder]

    allowed = {}
    for folder in LINKS:
        allowed[folder] = set(closure(folder))
        for extra in HEADERS_ONLY.get(folder, []):
            allowed[folder].add(extra)
    return allowed


def unit_of(relative):
    return os.path.splitext(relative)[0]


def folder_of(relative):
    return os.path.dirname(relative).split("/")[0]


def read_includes(src):
    """{file relative to src: [(line number, included file relative to src)]}"""
    files = {}
    for root, _dirs, names in os.walk(src):
        for name in names:
            if not name.endswith((".h", ".cpp")):
                continue
            path = os.path.join(root, name)
            relative = os.path.relpath(path, src).replace(os.sep, "/")
            found = []
            with open(path, encoding="utf-8", errors="replace") as f:
                for number, line in enumerate(f, 1):
                    m = INCLUDE.match(line)
                    if not m:
                        continue
                    # As the compiler looks: beside the file, then from src/.
                    for base in (os.path.dirname(relative), ""):
                        target = os.path.normpath(os.path.join(base, m.group(1))).replace(os.sep, "/")
                        if os.path.isfile(os.path.join(src, target)):
                            found.append((number, target))
                            break
            files[relative] = found
    return files


def cycles(edges):
    """The strongly connected components of more than one unit (Tarjan)."""
    index, low, on_stack, stack, found = {}, {}, set(), [], []

    def visit(start):
        # Iterative, so a long chain of includes cannot exhaust the stack.
        work = [(start, iter(sorted(edges.get(start, ()))))]
        index[start] = low[start] = len(index)
        stack.append(start)
        on_stack.add(start)
        while work:
            unit, successors = work[-1]
            advanced = False
            for nxt in successors:
                if nxt not in index:
                    index[nxt] = low[nxt] = len(index)
                    stack.append(nxt)
                    on_stack.add(nxt)
                    work.append((nxt, iter(sorted(edges.get(nxt, ())))))
                    advanced = True
                    break
                if nxt in on_stack:
                    low[unit] = min(low[unit], index[nxt])
            if advanced:
                continue
            work.pop()
            if work:
                parent = work[-1][0]
                low[parent] = min(low[parent], low[unit])
            if low[unit] == index[unit]:
                component = set()
                while True:
                    member = stack.pop()
                    on_stack.discard(member)
                    component.add(member)
                    if member == unit:
                        break
                if len(component) > 1:
                    found.append(component)

    for unit in sorted(edges):
        if unit not in index:
            visit(unit)
    return found


def path_round(component, edges):
    """One cycle through the component, as a list of units ending where it starts."""
    start = min(component)
    previous = {start: None}
    queue = [start]
    while queue:
        unit = queue.pop(0)
        for nxt in sorted(edges.get(unit, ())):
            if nxt == start:
                path = [unit]
                while previous[path[-1]] is not None:
                    path.append(previous[path[-1]])
                return list(reversed(path)) + [start]
            if nxt in component and nxt not in previous:
                previous[nxt] = unit
                queue.append(nxt)
    return sorted(component)


def check(src, allowances=()):
    """The problems found under src, as lines of text."""
    files = read_includes(src)
    allowed = allowed_folders()
    problems = []
    edges = {}
    for relative, includes in sorted(files.items()):
        folder = folder_of(relative)
        if folder not in allowed:
            problems.append(f"{relative}: folder '{folder}' has no place among the layers")
            continue
        unit = unit_of(relative)
        edges.setdefault(unit, set())
        for number, target in includes:
            if unit_of(target) != unit:
                edges[unit].add(unit_of(target))
            if folder_of(target) not in allowed[folder]:
                problems.append(f"{relative}:{number}: includes {target}, "
                                f"above or beside what '{folder or 'src'}' links")
    accepted = [set(a) for a in allowances]
    for component in cycles(edges):
        if component in accepted:
            continue
        problems.append("units include each other: " + " -> ".join(path_round(component, edges)))
    return problems


def parse_allowance(text):
    parts = text.split(":")
    if len(parts) != 2 or not all(parts):
        raise argparse.ArgumentTypeError(f"not A:B: {text}")
    return tuple(parts)


# Trees of {file: text} with the problems expected of them, one fragment each.
SELF_TESTS = [
    ("clean layers",
     {"platform/A.h": "", "platform/A.cpp": '#include "platform/A.h"\n',
      "mail/B.cpp": '#include "platform/A.h"\n', "app/C.cpp": '#include "mail/B.h"\n',
      "mail/B.h": "", "desktop/D.h": '#include "decoders/E.h"\n', "decoders/E.h": ""},
     [], []),
    ("pair in one folder, through the .cpp files",
     {"i18n/A.h": "", "i18n/A.cpp": '#include "i18n/B.h"\n',
      "i18n/B.h": "", "i18n/B.cpp": '  #  include "i18n/A.h"\n'},
     [], ["units include each other: i18n/A -> i18n/B -> i18n/A"]),
    ("include beside the file",
     {"check/A.h": '#include "B.h"\n', "check/B.h": '#include "A.h"\n'},
     [], ["units include each other: check/A -> check/B -> check/A"]),
    ("three units round",
     {"notify/A.h": '#include "notify/B.h"\n', "notify/B.h": '#include "notify/C.h"\n',
      "notify/C.cpp": '#include "notify/A.h"\n', "notify/C.h": ""},
     [], ["units include each other: notify/A -> notify/B -> notify/C -> notify/A"]),
    ("an allowed pair",
     {"config/A.cpp": '#include "config/B.h"\n', "config/B.cpp": '#include "config/A.h"\n',
      "config/A.h": "", "config/B.h": ""},
     [("config/A", "config/B")], []),
    ("an allowed pair inside a larger cycle",
     {"config/A.cpp": '#include "config/B.h"\n', "config/B.cpp": '#include "config/A.h"\n',
      "config/A.h": "", "config/B.h": '#include "config/C.h"\n', "config/C.h": '#include "config/A.h"\n'},
     [("config/A", "config/B")], ["units include each other: config/A -> config/B"]),
    ("a library above",
     {"mail/A.cpp": '#include "desktop/B.h"\n', "desktop/B.h": ""},
     [], ["mail/A.cpp:1: includes desktop/B.h"]),
    ("the module includes the desktop",
     {"decoders/A.cpp": '\n#include "desktop/B.h"\n', "desktop/B.h": ""},
     [], ["decoders/A.cpp:2: includes desktop/B.h"]),
    ("a cycle across folders",
     {"check/A.cpp": '#include "i18n/B.h"\n', "check/A.h": "",
      "i18n/B.cpp": '#include "check/A.h"\n', "i18n/B.h": ""},
     [], ["i18n/B.cpp:1: includes check/A.h", "units include each other: check/A -> i18n/B -> check/A"]),
    ("a folder without a layer",
     {"extra/A.cpp": ""},
     [], ["extra/A.cpp: folder 'extra' has no place among the layers"]),
]


def self_test():
    failures = 0
    for name, tree, allowances, expected in SELF_TESTS:
        with tempfile.TemporaryDirectory() as src:
            for relative, text in tree.items():
                os.makedirs(os.path.join(src, os.path.dirname(relative)), exist_ok=True)
                with open(os.path.join(src, relative), "w", encoding="utf-8") as f:
                    f.write(text)
            problems = check(src, allowances)
        matched = len(problems) == len(expected) and all(
            any(e in p for p in problems) for e in expected)
        if not matched:
            failures += 1
            print(f"self-test '{name}': expected {expected}, found {problems}")
    return failures == 0


def main():
    parser = argparse.ArgumentParser(description="Checks the include rules of the source tree.")
    parser.add_argument("src")
    parser.add_argument("--allow", action="append", default=[], type=parse_allowance,
                        metavar="A:B", help="accept the cycle of exactly these two units")
    parser.add_argument("--self-test", action="store_true",
                        help="first check the checker on trees of its own")
    args = parser.parse_args()
    if args.self_test and not self_test():
        return 1
    if not os.path.isdir(args.src):
        print(f"no folder {args.src}")
        return 2
    problems = check(args.src, args.allow)
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
