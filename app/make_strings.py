#!/usr/bin/env python3
"""Writes the program's string table (a resource script fragment) from the
message table in messages.cpp, so the texts live in one place.

Usage: make_strings.py messages.cpp strings.rc
"""
import re
import sys

ROW = re.compile(r'^\s*\{(\d+),\s*"((?:[^"\\]|\\.)*)"\},\s*$')


def main():
    source, target = sys.argv[1], sys.argv[2]
    rows = []
    with open(source, encoding="ascii") as f:
        for line in f:
            m = ROW.match(line)
            if m:
                rows.append((int(m.group(1)), m.group(2)))
    if len(rows) < 100:
        sys.exit(f"make_strings: only {len(rows)} messages found in {source}")
    with open(target, "w", encoding="ascii", newline="\n") as out:
        out.write("// Generated from messages.cpp; do not edit.\nSTRINGTABLE\nBEGIN\n")
        for ident, text in rows:
            # The C escapes the table uses (\n) are the resource compiler's too.
            out.write(f'    {ident}, "{text}"\n')
        out.write("END\n")


if __name__ == "__main__":
    main()
