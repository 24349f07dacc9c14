#!/usr/bin/env python3
"""Prepares the manual's sources for chmcmd.

    python3 make_pages.py SOURCEDIR MESSAGES_CPP SHOTSDIR WORKDIR

Copies the project and contents files and every html/*.htm into WORKDIR,
written in the code page the pages declare (windows-1252), with each
<!--shot:NAME--> replaced by the picture SHOTSDIR/NAME.png (copied to
html/shots/) or, when there is none, by a framed "Picture of the ..." text,
so a build without a prior end-to-end run still gives a complete manual.
Writes html/messages.htm from messages.htm.in, the program's message table
(MESSAGES_CPP) and the advice in messages.txt; every message id must have
advice exactly once. Lists every page and picture in the project's [FILES].
Standard library only. Exits 1 with a reason when something does not fit.
"""

import html
import os
import re
import shutil
import sys


def fail(text):
    print("make_pages: " + text, file=sys.stderr)
    sys.exit(1)


def read_table(path):
    """NAME <TAB> TEXT lines; '#' starts a comment line."""
    rows = []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            name, tab, text = line.partition("\t")
            if not tab or not name or not text:
                fail("%s:%d: expected NAME<TAB>TEXT" % (path, number))
            rows.append((name, text))
    return rows


def parse_ids(spec, where):
    ids = []
    for part in spec.split(","):
        lo, dash, hi = part.strip().partition("-")
        if not lo.isdigit() or (dash and not hi.isdigit()):
            fail("%s: bad id list %r" % (where, spec))
        first, last = int(lo), int(hi) if dash else int(lo)
        if last < first:
            fail("%s: bad range %r" % (where, part))
        ids.extend(range(first, last + 1))
    return ids


def read_messages(path):
    """The program's message table: {id: text}, from its C++ source."""
    table = {}
    with open(path, encoding="utf-8") as f:
        for m in re.finditer(r'\{\s*(\d+)\s*,\s*"((?:[^"\\]|\\.)*)"\s*\}', f.read()):
            text = m.group(2).encode("latin-1", "backslashreplace").decode("unicode_escape")
            table[int(m.group(1))] = text
    if not table:
        fail("no messages found in " + path)
    return table


def messages_table(messages, advice_rows):
    advice = {}
    order = []
    for spec, text in advice_rows:
        ids = parse_ids(spec, "messages.txt")
        for i in ids:
            if i in advice:
                fail("messages.txt: message %d has advice twice" % i)
            if i not in messages:
                fail("messages.txt: there is no message %d" % i)
            advice[i] = text
        order.append(ids)
    missing = sorted(set(messages) - set(advice))
    if missing:
        fail("messages.txt: no advice for message(s) " + ", ".join(map(str, missing)))
    out = ['<table>', '<tr><th>Number</th><th>Message</th><th>What to do</th></tr>']
    for i in sorted(messages):
        # Neighbours with the same text and advice share a row.
        if i - 1 in messages and messages[i - 1] == messages[i] and advice[i - 1] == advice[i]:
            continue
        last = i
        while last + 1 in messages and messages[last + 1] == messages[i] and advice[last + 1] == advice[i]:
            last += 1
        number = "%d" % i if last == i else "%d&ndash;%d" % (i, last)
        text = html.escape(messages[i].strip()).replace("\n", "<br>")
        out.append('<tr><td><a name="m%d"></a>%s</td><td>"%s"</td><td>%s</td></tr>' % (i, number, text, advice[i]))
    out.append('</table>')
    return "\n".join(out)


def write_page(path, text):
    try:
        data = text.encode("cp1252")
    except UnicodeEncodeError as e:
        fail("%s: character not in windows-1252: %r" % (path, text[e.start:e.end]))
    with open(path, "wb") as f:
        f.write(data)


def main():
    if len(sys.argv) != 5:
        fail("usage: make_pages.py SOURCEDIR MESSAGES_CPP SHOTSDIR WORKDIR")
    src, messages_cpp, shots_dir, work = sys.argv[1:]
    slots = dict(read_table(os.path.join(src, "shots.txt")))
    os.makedirs(os.path.join(work, "html", "shots"), exist_ok=True)

    pages = sorted(p for p in os.listdir(os.path.join(src, "html")) if p.endswith(".htm"))
    if "messages.htm" in pages:
        fail("html/messages.htm is generated from messages.htm.in: remove it")
    sources = {p: open(os.path.join(src, "html", p), encoding="utf-8").read() for p in pages}
    template = open(os.path.join(src, "messages.htm.in"), encoding="utf-8").read()
    table = messages_table(read_messages(messages_cpp), read_table(os.path.join(src, "messages.txt")))
    sources["messages.htm"] = template.replace("<!--messages-->", table)

    pictures = []

    def figure(m):
        name = m.group(1)
        if name not in slots:
            fail("unknown picture %r (add it to shots.txt)" % name)
        what = html.escape(slots[name])
        shot = os.path.join(shots_dir, name + ".png")
        if os.path.isfile(shot):
            if name not in pictures:
                shutil.copyfile(shot, os.path.join(work, "html", "shots", name + ".png"))
                pictures.append(name)
            return ('<div class="figure"><img src="shots/%s.png" alt="The %s"><div class="caption">The %s</div></div>'
                    % (name, what, what))
        return '<div class="figure"><div class="shot-missing">Picture of the %s</div></div>' % what

    for page, text in sorted(sources.items()):
        write_page(os.path.join(work, "html", page), re.sub(r"<!--shot:([a-z0-9_]+)-->", figure, text))
    shutil.copyfile(os.path.join(src, "html", "manual.css"), os.path.join(work, "html", "manual.css"))
    for name in ("manual.hhc", "manual.hhk"):
        shutil.copyfile(os.path.join(src, name), os.path.join(work, name))

    files = ["html/" + p for p in sorted(sources)] + ["html/manual.css"]
    files += ["html/shots/%s.png" % n for n in sorted(pictures)]
    project = open(os.path.join(src, "manual.hhp"), encoding="utf-8").read().rstrip("\n")
    with open(os.path.join(work, "manual.hhp"), "w", encoding="ascii", newline="\r\n") as f:
        f.write(project + "\n\n[FILES]\n" + "\n".join(files) + "\n")
    print("make_pages: %d pages, %d of %d pictures" % (len(sources), len(pictures), len(slots)))


if __name__ == "__main__":
    main()
