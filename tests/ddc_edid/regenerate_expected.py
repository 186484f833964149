#!/usr/bin/env python3
"""Stores what edid-decode prints for the first descriptor of each EDID's
base block, one file per EDID under expected/ (same folders as the corpus).

    tests/ddc_edid/regenerate_expected.py [corpus-dir]

The corpus defaults to ../shared/edid beside the repository. The test
compares the driver's parse of descriptor 1 against these files, so the
test itself never needs edid-decode. Review changes with git diff.
"""
import pathlib
import subprocess
import sys

HERE = pathlib.Path(__file__).resolve().parent
REPO = HERE.parent.parent
CORPUS = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else REPO.parent / "shared" / "edid"
OUT = HERE / "expected"


def tool_version():
    try:
        return subprocess.run(["dpkg-query", "-W", "-f=${Version}", "edid-decode"],
                              capture_output=True, text=True, check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return "unknown"


def first_descriptor(path):
    """edid-decode's lines for descriptor 1 of block 0: the DTD line and its
    H and V lines (two V lines for an interlaced timing), or the heading of
    a display descriptor."""
    text = subprocess.run(["edid-decode", str(path)], capture_output=True, text=True).stdout
    lines = text.splitlines()
    start = next(i for i, l in enumerate(lines) if l.startswith("Block 0"))
    end = next((i for i in range(start + 1, len(lines)) if lines[i].startswith("Block ")), len(lines))
    block = lines[start:end]
    at = next(i for i, l in enumerate(block) if l.strip() == "Detailed Timing Descriptors:")
    head = block[at + 1].strip()
    if not head.startswith("DTD 1:"):
        return [head]
    body = [head]
    for line in block[at + 2:]:
        s = line.strip()
        if not (s.startswith("Hfront") or s.startswith("Vfront")):
            break
        body.append(s)
    return body


def main():
    if not CORPUS.is_dir():
        sys.exit(f"no corpus at {CORPUS}")
    version = tool_version()
    files = sorted(p for p in CORPUS.glob("*/*.bin"))
    written = set()
    for path in files:
        rel = path.relative_to(CORPUS)
        target = OUT / rel.with_suffix(".txt")
        target.parent.mkdir(parents=True, exist_ok=True)
        body = first_descriptor(path)
        target.write_text(f"# edid-decode {version}, descriptor 1 of block 0\n" + "\n".join(body) + "\n")
        written.add(target)
    for stale in OUT.glob("*/*.txt"):
        if stale not in written:
            stale.unlink()
    print(f"{len(files)} expectations in {OUT}")


if __name__ == "__main__":
    main()
