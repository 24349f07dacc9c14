#!/usr/bin/env python3
"""perfdump.py FILE: the plug-in instances a performance file holds, one line
each, tab-separated:

    wrapper-tag  name  state-hex  user-hex  values

wrapper-tag is the wrapper blob's tag ("DEFWRAP_", "VSTWRAP_", "VST3WRAP",
"CLAPWRAP"); name is the effect module's file name (default wrapper) or the
plug-in's path (VST, VST 3, CLAP); a VST 3 instance's state is its
component's state, a CLAP instance's the plug-in's state;
user-hex is the host's user data (the slot byte); values are the parameter
values of a VST state saved as parameters ("PARAM"), rounded to three
places, else "-". The scenarios read chains and states back through this."""

import struct
import sys


def vst3_instances(blob):
    """PLUG, u16 path length, path, class id (16), u32 component state size,
    component state, u32 controller state size, controller state, DATA, u32
    user data size, user data."""
    p = 8
    while p + 6 <= len(blob):
        n = struct.unpack_from("<H", blob, p + 4)[0]
        name = blob[p + 6:p + 6 + n].decode("latin-1")
        p += 6 + n + 16
        s = struct.unpack_from("<I", blob, p)[0]
        state = blob[p + 4:p + 4 + s]
        p += 4 + s
        p += 4 + struct.unpack_from("<I", blob, p)[0]
        u = struct.unpack_from("<I", blob, p + 4)[0]
        user = blob[p + 8:p + 8 + u]
        p += 8 + u
        yield "VST3WRAP", name, state, user


def clap_instances(blob):
    """PLUG, u16 path length, path, u16 id length, id, u32 state size,
    state, DATA, u32 user data size, user data."""
    p = 8
    while p + 6 <= len(blob):
        n = struct.unpack_from("<H", blob, p + 4)[0]
        name = blob[p + 6:p + 6 + n].decode("latin-1")
        p += 6 + n
        p += 2 + struct.unpack_from("<H", blob, p)[0]
        s = struct.unpack_from("<I", blob, p)[0]
        state = blob[p + 4:p + 4 + s]
        p += 4 + s
        u = struct.unpack_from("<I", blob, p + 4)[0]
        user = blob[p + 8:p + 8 + u]
        p += 8 + u
        yield "CLAPWRAP", name, state, user


def instances(blob):
    tag = blob[:8]
    if tag == b"VST3WRAP":
        yield from vst3_instances(blob)
        return
    if tag == b"CLAPWRAP":
        yield from clap_instances(blob)
        return
    p = 8
    while p + 6 <= len(blob):
        n = struct.unpack_from("<H", blob, p + 4)[0]
        name = blob[p + 6:p + 6 + n].decode("latin-1")
        p += 6 + n
        s = struct.unpack_from("<i", blob, p)[0]
        state = blob[p + 4:p + 4 + max(s, 0)]
        p += 4 + max(s, 0)
        if tag == b"VSTWRAP_":
            p += 4  # the VST record tags its user data "DATA"
        u = struct.unpack_from("<i", blob, p)[0]
        user = blob[p + 4:p + 4 + max(u, 0)]
        p += 4 + max(u, 0)
        yield tag.decode(), name, state, user


def parameter_values(state):
    if state[:5] != b"PARAM" or len(state) < 9:
        return "-"
    count = struct.unpack_from("<I", state, 5)[0]
    return " ".join("%.3f" % v for v in struct.unpack_from("<%df" % count, state, 9))


def main(path):
    data = open(path, "rb").read()
    assert data[:4] == b"PERF" and data[8:14] == b"ACCOMP", "not a performance file"
    at = 16 + struct.unpack_from("<H", data, 14)[0]
    while at < len(data):
        assert data[at:at + 7] == b"WRAPPER"
        at += 9 + struct.unpack_from("<H", data, at + 7)[0]
        assert data[at:at + 5] == b"STATE"
        size = struct.unpack_from("<i", data, at + 5)[0]
        blob = data[at + 9:at + 9 + max(size, 0)]
        at += 9 + max(size, 0)
        if blob[:8] not in (b"DEFWRAP_", b"VSTWRAP_", b"VST3WRAP", b"CLAPWRAP"):
            continue
        for tag, name, state, user in instances(blob):
            print("\t".join([tag, name, state.hex() or "-", user.hex() or "-", parameter_values(state)]))


if __name__ == "__main__":
    main(sys.argv[1])
