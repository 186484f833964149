#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into tests/fuzz/corpus/.

    tests/fuzz/make_seeds.py [--edid DIR]

The monitor seeds wrap real EDIDs (copied from DIR, by default the shared
EDID collection; see corpus/ATTRIBUTION.md) and hand-made images in
the target's input header; the other targets' seeds are built from their
input formats as the comment at the top of each fuzz_<target>.cpp gives
them. Re-running rewrites the generated files and leaves any others alone.
"""
import argparse
import os
import struct
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")

DIGITAL, ANALOG_A, ANALOG_B, TV = 0, 1, 2, 3
ALWAYS_ACK = 0x8000

# (file in the EDID collection, connector, stretch us, first EDID request)
REAL_EDIDS = [
    ("digital/ACI19E5-c0da51.bin", DIGITAL, 0, 128),
    ("digital/ACI22A2-6ef37b.bin", DIGITAL, 5, 0),
    ("digital/ACR0079-1fd5f2.bin", DIGITAL, 0, 128),
    ("digital/ACRAD73-ac07be.bin", DIGITAL, 20, 0),
    ("digital/AMW1901-16796f.bin", DIGITAL, 0, 128),
    ("digital/ACI28A3-89299c.bin", DIGITAL, 0, 256),   # 3840x2160, one extension
    ("digital/ACR09F4-2b0eab.bin", DIGITAL, 0, 0),     # two extensions
    ("digital/AOC4930-72a021.bin", DIGITAL, 0, 128),   # 3840x1080, two extensions
    ("digital/ACR07E7-eb2433.bin", ANALOG_A, 0, 128),  # digital EDID on an analogue connector
    ("analog/ACR0000-47a26d.bin", ANALOG_A, 0, 128),
    ("analog/AOC1780-aa8d61.bin", ANALOG_B, 3, 0),
    ("analog/AOCD356-a4368d.bin", ANALOG_A, 0, 128),
    ("analog/CTX1502-8d0c0b.bin", ANALOG_B, 0, 128),
    ("analog/DEL4038-6fb269.bin", ANALOG_A, 10, 128),
    ("analog/SNY0571-c697d6.bin", DIGITAL, 0, 128),    # analogue EDID on the digital connector
    ("tv/JVC21B0-1bc033.bin", DIGITAL, 0, 256),        # interlaced first timing
    ("tv/TCL9653-937d33.bin", DIGITAL, 0, 128),        # three extensions
    ("tv/SHP106B-313f76.bin", TV, 0, 128),
    ("tv/KOA0030-bfa26c.bin", ANALOG_B, 0, 256),
    ("broken/CRM1B20-4cc4f6.bin", DIGITAL, 0, 256),    # byte 126 = 1, three blocks present
    ("broken/GBR0156-d1b615.bin", DIGITAL, 0, 128),    # byte 126 = 1, one block present
    ("broken/SAM7016-516525.bin", DIGITAL, 0, 256),    # bad extension checksum
]


def write(target, name, data):
    path = os.path.join(CORPUS, target, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


# ---------------------------------------------------------------- monitor

def monitor_input(edid, connector, stretch=0, nak=ALWAYS_ACK, mode=2, size=None, request=128, entry=0):
    head = struct.pack("<BBHB", connector, stretch, nak, mode)
    if mode >= 0xF0:
        head += struct.pack("<HH", *size)
    return head + struct.pack("<HB", request, entry) + edid


def checksummed(blocks):
    out = bytearray()
    for b in blocks:
        b = bytearray(b)
        b[127] = (-sum(b[:127])) & 0xFF
        out += b
    return bytes(out)


def base_block(maker=(0x4C, 0x2D), product=(0x01, 0x00), digital=True, dtd=None, ext=0, est=(0x21, 0x08, 0x00)):
    b = bytearray(128)
    b[0:8] = b"\x00\xff\xff\xff\xff\xff\xff\x00"
    b[8], b[9] = maker
    b[10], b[11] = product
    b[18], b[19] = 1, 3
    b[20] = 0x80 if digital else 0x0E
    b[35], b[36], b[37] = est
    if dtd:
        b[54:72] = dtd
    b[126] = ext
    return b


def dtd(clock_10khz, ha, hb, hso, hsw, va, vb, vso, vsw, features=0x18):
    return bytes([clock_10khz & 0xFF, clock_10khz >> 8, ha & 0xFF, hb & 0xFF, (ha >> 8) << 4 | hb >> 8,
                  va & 0xFF, vb & 0xFF, (va >> 8) << 4 | vb >> 8, hso & 0xFF, hsw & 0xFF,
                  (vso & 0xF) << 4 | (vsw & 0xF),
                  (hso >> 8) << 6 | (hsw >> 8) << 4 | (vso >> 4) << 2 | vsw >> 4, 0, 0, 0, 0, 0, features])


def extension(tag=0x02):
    e = bytearray(128)
    e[0], e[1] = tag, 3
    return e


def monitor_seeds(edid_dir):
    for name, connector, stretch, request in REAL_EDIDS:
        with open(os.path.join(edid_dir, name), "rb") as f:
            edid = f.read()
        write("monitor", "real-" + os.path.basename(name), monitor_input(
            edid, connector, stretch=stretch, mode=(len(edid) // 128) % 14, request=request, entry=0))

    sxga = dtd(10800, 1280, 408, 48, 112, 1024, 42, 1, 3)
    wsxga = dtd(14625, 1680, 560, 104, 176, 1050, 39, 3, 6)
    one = checksummed([base_block(dtd=wsxga)])
    write("monitor", "made-digital-1680", monitor_input(one, DIGITAL, mode=6))
    write("monitor", "made-digital-scaled", monitor_input(one, DIGITAL, mode=0xF0, size=(1000, 700)))
    write("monitor", "made-analog-b", monitor_input(checksummed([base_block(digital=False, dtd=sxga)]), ANALOG_B,
                                                    mode=3))
    # The board maker's television: vendor 06 10, product 08 9D, both standards.
    tv = checksummed([base_block(maker=(0x06, 0x10), product=(0x08, 0x9D), digital=False,
                                 est=(0x01, 0x00, 0x60))])
    write("monitor", "made-tv-both", monitor_input(tv, TV, mode=1))
    tv50 = checksummed([base_block(maker=(0x06, 0x10), product=(0x0C, 0x9D), digital=False, est=(0, 0, 0x20))])
    write("monitor", "made-tv-50hz", monitor_input(tv50, TV, mode=14, entry=0x83))
    # Images longer than the base block, with and without a true byte 126.
    two = checksummed([base_block(dtd=sxga, ext=1), extension()])
    write("monitor", "made-two-blocks", monitor_input(two, DIGITAL, mode=3, request=256))
    four = checksummed([base_block(dtd=sxga, ext=1), extension(), extension(0xF0), extension(0x70)])
    write("monitor", "made-four-blocks-says-one", monitor_input(four, DIGITAL, mode=3, request=256))
    write("monitor", "made-says-two-reads-base", monitor_input(
        checksummed([base_block(dtd=sxga, ext=2), extension(), extension()]), DIGITAL, mode=3, request=128))
    write("monitor", "made-short-image", monitor_input(one[:100], DIGITAL, mode=1))
    write("monitor", "made-one-byte", monitor_input(b"\x00", ANALOG_A, mode=1, request=0))
    # Bus faults: stretching, and a device that stops in the probe, inside
    # the base block and just after it.
    write("monitor", "made-stretch-60us", monitor_input(one, DIGITAL, stretch=60, mode=6))
    for after in (1, 3, 40, 131, 600):
        write("monitor", "made-nak-after-%d" % after, monitor_input(one, DIGITAL, nak=after, mode=6, request=0))
    write("monitor", "made-no-monitor", monitor_input(b"", DIGITAL, mode=1, request=128))


# ---------------------------------------------------------------- blt

BLT_MODES = 8  # rows of kModes in fuzz_blt.cpp


def blt_call(op, sx, sy, dx, dy, w, h, delta, buffer_kind=0, seed=0):
    return struct.pack("<BQQQQQQQBB", op, sx, sy, dx, dy, w, h, delta, buffer_kind, seed)


def blt_seeds():
    # mode row, then calls.
    write("blt", "fill", bytes([0]) + blt_call(0, 0, 0, 10, 20, 100, 50, 0))
    write("blt", "fill-source-row", bytes([1]) + blt_call(0, 3, 2, 0, 0, 16, 16, 0))
    write("blt", "read", bytes([2]) + blt_call(1, 5, 7, 1, 2, 30, 10, 0))
    write("blt", "read-delta", bytes([0]) + blt_call(1, 0, 0, 0, 0, 20, 5, 400))
    write("blt", "write", bytes([1]) + blt_call(2, 0, 0, 100, 100, 64, 32, 0))
    write("blt", "write-delta-offset", bytes([3]) + blt_call(2, 4, 3, 700, 500, 100, 100, 1024))
    write("blt", "copy-right-down", bytes([0]) + blt_call(2, 0, 0, 0, 0, 80, 80, 0) +
          blt_call(3, 10, 10, 30, 40, 50, 50, 0))
    write("blt", "copy-left-up", bytes([4]) + blt_call(2, 0, 0, 50, 50, 60, 60, 0) +
          blt_call(3, 60, 60, 20, 10, 40, 40, 0))
    write("blt", "edge", bytes([0]) + blt_call(0, 0, 0, 540, 380, 100, 100, 0) +
          blt_call(0, 0, 0, 541, 380, 100, 100, 0))
    write("blt", "huge", bytes([1]) + blt_call(1, 2**64 - 1, 0, 0, 0, 2, 2, 0) +
          blt_call(2, 0, 0, 0, 0, 2**63, 1, 0) + blt_call(3, 0, 0, 2**64 - 10, 0, 20, 1, 0))
    write("blt", "bad-op", bytes([0]) + blt_call(4, 0, 0, 0, 0, 1, 1, 0) + blt_call(0, 0, 0, 0, 0, 0, 1, 0))
    write("blt", "null-buffer", bytes([2]) + blt_call(2, 0, 0, 0, 0, 4, 4, 0, buffer_kind=1))
    # Graphics Output (mode byte bit 7): its own modes, SetMode as op 5.
    write("blt", "gop-fill-then-modes", bytes([0x80]) + blt_call(0, 9, 9, 10, 20, 100, 50, 0) +
          blt_call(5, 0, 0, 0, 0, 0, 0, 0, seed=3) + blt_call(2, 0, 0, 100, 100, 64, 32, 0) +
          blt_call(5, 0, 0, 0, 0, 0, 0, 0, seed=6) + blt_call(3, 0, 0, 30, 40, 50, 50, 0))
    write("blt", "gop-scaled-read", bytes([0x85]) + blt_call(1, 5, 7, 1, 2, 30, 10, 0) +
          blt_call(0, 0, 0, 0, 0, 0, 1, 0) + blt_call(2, 0, 0, 0, 0, 4, 4, 0, buffer_kind=1))


# ---------------------------------------------------------------- platform

def guid_bytes(text):
    return uuid.UUID(text).bytes_le


KEYS = {  # index into the key table of fuzz_platform.cpp
    "select": 0, "platform-info": 1, "saved-config": 2, "panel": 3, "tv": 4, "reserved": 5,
    "flags": 6, "edid": 7, "link-limits": 8, "answer": 9, "release": 10,
}


def op_set(key, data, size=None):
    size = len(data) if size is None else size
    return struct.pack("<BBH", 0, KEYS[key], size) + data


def op_get(key, size):
    return struct.pack("<BBH", 1, KEYS[key], size)


def op_query():
    return struct.pack("<BBH", 2, 0, 0)


def op_value(slot, value):
    return struct.pack("<BBHI", 3, slot, 0, value)


def platform_head(connector=DIGITAL, monitor=True, set_mode=True):
    return bytes([connector | (0 if monitor else 4) | (8 if set_mode else 0)])


def saved_record(checksum_a, code_a, clock=10800, width=1280, height=1024, flags=0):
    r = bytearray(256)
    r[7] = checksum_a
    words = [clock, width, 1688, 48, 112, height, 1066, 1, 3, height, width]
    r[0x10:0x10 + 22] = struct.pack("<11H", *words)
    r[0x10 + 22:0x10 + 24] = struct.pack(">H", flags)
    r[0x40 + 0x21] = code_a
    return bytes(r)


def platform_seeds():
    info = bytes(range(128))
    write("platform", "query-before-mode", platform_head(set_mode=False) + op_query() + op_get("answer", 4))
    write("platform", "select-and-ask", platform_head() + op_set("platform-info", info) +
          op_set("select", struct.pack("<I", 0)) + op_get("flags", 8) + op_get("edid", 0) + op_get("edid", 128) +
          op_get("link-limits", 48) + op_query())
    write("platform", "select-each", platform_head(ANALOG_B) + op_set("platform-info", info) +
          b"".join(op_set("select", struct.pack("<I", i)) + op_get("flags", 8) + op_get("link-limits", 48)
                   for i in range(6)))
    write("platform", "short-sizes", platform_head() + op_set("platform-info", info) + op_get("flags", 3) +
          op_get("edid", 100) + op_get("link-limits", 47) + op_get("answer", 5) + op_set("select", b"\0\0\0"))
    values = b"".join(op_value(slot, 1 + slot) for slot in range(18))
    panel = struct.pack("<13I", 7000, 1, 1024, 1344, 24, 136, 1, 768, 806, 3, 6, 2, 3)
    write("platform", "panel", platform_head(monitor=False) + values + op_set("platform-info", info) +
          op_set("select", struct.pack("<I", 0)) + op_set("panel", panel) + op_query())
    write("platform", "tv-standards", platform_head(TV) + op_set("tv", struct.pack("<Q", 1)) +
          op_set("tv", struct.pack("<Q", 2)) + op_set("tv", struct.pack("<Q", 3)))
    # The saved record names display A by the checksum byte of the EDID the
    # rig plugs (see kSeedEdid in fuzz_platform.cpp, checksum 0x89).
    write("platform", "saved-config", platform_head() + op_set("platform-info", info) +
          op_set("select", struct.pack("<I", 0)) + op_set("saved-config", saved_record(0x89, 0x08)) + op_query())
    write("platform", "saved-config-no-match", platform_head() + op_set("platform-info", info) +
          op_set("saved-config", saved_record(0x11, 0x10)))
    write("platform", "reserved-and-unknown", platform_head() + op_set("reserved", b"\1\2\3\4") +
          struct.pack("<BBH", 0, 0x80, 4) + b"abcd" + struct.pack("<BBH", 1, 0x81, 16))
    write("platform", "release-last", platform_head() + op_set("platform-info", info) + op_set("release", b""))


# ---------------------------------------------------------------- format

def format_input(capacity, fmt, args=b""):
    """capacity (u16), the format as UTF-16 code units and a 0 unit, then the
    arguments in the order the format takes them (see fuzz_format.cpp)."""
    return struct.pack("<H", capacity) + fmt.encode("utf-16-le") + b"\0\0" + args


def arg_num(v):
    return struct.pack("<Q", v & (2**64 - 1))


def arg_wide(s):
    return bytes([len(s)]) + s.encode("utf-16-le")


def arg_ascii(s):
    return bytes([len(s)]) + s


def arg_guid():
    return bytes([0]) + bytes.fromhex("8B292C98FAF4CB41B83877AA688FB839")


def arg_time():
    return bytes([0]) + struct.pack("<HBBBBBBIhBB", 2024, 12, 31, 23, 59, 58, 0, 0, 0, 0, 0)


def arg_null():
    return b"\xff"


def format_seeds():
    write("format", "plain", format_input(64, "hello\nworld"))
    write("format", "numbers", format_input(128, "%d %x %X %5d|%05x|%-05d|%+ ld|%Lx", arg_num(-42) + arg_num(0xBEEF) +
                                            arg_num(1) + arg_num(7) + arg_num(0xA) + arg_num(-7) + arg_num(9) +
                                            arg_num(2**64 - 1)))
    write("format", "left-and-commas", format_input(128, "%-5d|%-8x|%,d|%,05d", arg_num(7) + arg_num(0x1F) +
                                                    arg_num(-1234567890) + arg_num(12)))
    write("format", "strings", format_input(80, "[%s][%a][%-8s][%10a][%S]", arg_wide("wide") + arg_ascii(b"\xe9t\xe9") +
                                            arg_wide("pad") + arg_ascii(b"x") + arg_wide("")))
    write("format", "types", format_input(200, "%g %t %r %r %r", arg_guid() + arg_time() + arg_num(0) +
                                          arg_num(0x8000000000000005) + arg_num(0x1234)))
    write("format", "nulls", format_input(60, "%s|%a|%g|%t", arg_null() * 4))
    write("format", "star-width", format_input(40, "%*d|%*s|%c%c%%", arg_num(12) + arg_num(5) + arg_num(3) +
                                               arg_wide("ab") + arg_num(0x41) + arg_num(0x263A)))
    write("format", "tight", format_input(5, "%d%s\n", arg_num(123456) + arg_wide("xyz")))
    write("format", "tight-guid", format_input(12, "%g", arg_guid()))
    write("format", "one", format_input(1, "abc"))
    write("format", "zero", format_input(0, "abc"))
    write("format", "huge-width", format_input(50, "%4294967299d|%99999999999999999999s|%*a",
                                               arg_num(1) + arg_wide("q") + arg_num(2**40) + arg_ascii(b"z")))
    write("format", "unknown-and-end", format_input(30, "%q %E %N %"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--edid", default=os.path.join(HERE, "..", "..", "..", "shared", "edid"),
                        help="the EDID collection to copy real monitors from")
    args = parser.parse_args()
    if not os.path.isdir(args.edid):
        args.edid = "/work/shared/edid"
    monitor_seeds(args.edid)
    blt_seeds()
    platform_seeds()
    format_seeds()


if __name__ == "__main__":
    main()
