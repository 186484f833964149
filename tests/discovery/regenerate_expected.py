#!/usr/bin/env python3
"""Writes expected/corpus.txt: for every EDID of the corpus, the display that
discovery should find when that EDID is the only one on DDC channel 1, and
for the analogue ones also when it is the only one on channel 2.

    tests/discovery/regenerate_expected.py [corpus-dir]

The corpus defaults to ../shared/edid beside the repository. The rules are
worked out here from the EDID bytes alone, apart from the driver, so the
test compares two separate readings of the same rules. Review changes with
git diff.
"""
import pathlib
import sys

HERE = pathlib.Path(__file__).resolve().parent
REPO = HERE.parent.parent
CORPUS = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else REPO.parent / "shared" / "edid"
OUT = HERE / "expected" / "corpus.txt"

# Built-in mode list: (width, height, refresh) and the EDID bit declaring it.
MODES = [
    (800, 600, 60, 35, 0), (800, 600, 56, 35, 1), (640, 480, 75, 35, 2), (640, 480, 72, 35, 3),
    (640, 480, 67, 35, 4), (640, 480, 60, 35, 5), (720, 400, 88, 35, 6), (720, 400, 70, 35, 7),
    (1280, 1024, 75, 36, 0), (1024, 768, 75, 36, 1), (1024, 768, 70, 36, 2), (1024, 768, 60, 36, 3),
    (1024, 768, 87, 36, 4), (832, 624, 75, 36, 5), (800, 600, 75, 36, 6), (800, 600, 72, 36, 7),
    (1152, 870, 75, 37, 7), (800, 600, 60, 37, 6), (800, 600, 50, 37, 5),
]

U16 = 0xFFFF


def declared(e):
    mask = 0
    for row, (_, _, _, offset, bit) in enumerate(MODES):
        if (e[offset] >> bit) & 1:
            mask |= 0x80000000 >> row
    return mask


def timing(e):
    """(width, height, refresh) from the first descriptor as the record holds
    it: untouched (zero) for an analogue display without separate sync, and
    filled even when the descriptor is then refused."""
    d = e[54:72]
    digital = e[20] & 0x80
    separate = (d[17] & 0x18) == 0x18
    if not digital and not separate:
        return 0, 0, 0
    clock = (d[1] * 256 + d[0]) & U16
    h_active = (d[2] + (d[4] & 0xF0) * 16) & U16
    h_total = (h_active + d[3] + (d[4] & 0x0F) * 256) & U16
    v_active = (d[5] + (d[7] & 0xF0) * 16) & U16
    v_total = (v_active + d[6] + (d[7] & 0x0F) * 256) & U16
    if d[17] & 0x80:
        v_total = (2 * v_total + 1) & U16
        v_active = (2 * v_active) & U16
    refresh = 0 if h_total == 0 or v_total == 0 else ((clock * 20000) // h_total // v_total + 1) // 2
    return h_active & ~7, v_active, refresh


def discover(e, channel):
    vendor = e[8] == 0x06 and e[9] == 0x10
    v13 = e[18] == 1 and e[19] == 3
    tv_product = e[11] == 0x9D and e[10] in (0x08, 0x0C)
    digital = bool(e[20] & 0x80)
    d = dict(kind=0, out=1, crtc=255, mask=0, list=0, row=0, vendor=0, ntsc=1)

    def take(kind):
        d.update(kind=kind, out=channel, crtc=0)

    if channel == 1:
        d["vendor"] = int(vendor)  # the digital rule runs first
        if not (vendor and v13 and (e[79] & 0x0F) == 0) and digital:
            take(0x02)
            d["mask"] = declared(e)
        elif not tv_product and not digital:
            take(0x04)
            d["mask"] = declared(e)
    else:
        if not tv_product and not digital:
            take(0x08)
            d["mask"] = declared(e)
        else:
            d["vendor"] = int(vendor)
            if vendor and v13 and tv_product:
                take(0x20)
                if not (e[37] & 0x40) and (e[37] & 0x20):
                    d["ntsc"] = 0
                d.update(list=1, row=17 if d["ntsc"] else 18)
    if d["kind"] == 0:
        d.update(kind=0x0C, out=1, crtc=0, mask=0x80000000, list=1, row=0)
    if d["list"]:
        w, h, r = MODES[d["row"]][:3]
    else:
        w, h, r = timing(e)
    return ("kind=0x%02x out=%d crtc=%d mask=0x%08x list=%d row=%d vendor=%d ntsc=%d mode=%dx%dx32@%d" %
            (d["kind"], d["out"], d["crtc"], d["mask"], d["list"], d["row"], d["vendor"], d["ntsc"], w, h, r))


def channels_for(name):
    """Channel 2 only judges analogue monitors and the maker's televisions;
    the digital folders would all give the default display there."""
    return (1, 2) if name.startswith("analog/") else (1,)


def main():
    files = sorted(p.relative_to(CORPUS).as_posix() for p in CORPUS.glob("*/*.bin"))
    if not files:
        sys.exit("no EDIDs under %s" % CORPUS)
    lines = ["# file channel: what discovery finds with this EDID alone on the channel",
             "# written by regenerate_expected.py"]
    for name in files:
        e = (CORPUS / name).read_bytes()[:128]
        for channel in channels_for(name):
            lines.append("%s ch%d: %s" % (name, channel, discover(e, channel)))
    OUT.parent.mkdir(parents=True, exist_ok=True)
    OUT.write_text("\n".join(lines) + "\n")
    print("%d files, %d lines -> %s" % (len(files), len(lines) - 2, OUT))


if __name__ == "__main__":
    main()
