"""check_plots.py SVG...: each picture `test --plot` or `merge --plot` drew
is well-formed XML, shows a panel for every statistic its verdict table
judges, and renders (rsvg-convert) with no text running off the picture: the
texts alone, rendered, leave the outermost pixels blank. Without
rsvg-convert only the first two are checked. Prints what is wrong; status 1
then."""
import pathlib
import shutil
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
import zlib

SVG = "{http://www.w3.org/2000/svg}"
WHOLE_FILE = {"balance", "file runs"}


def png_pixels(data):
    """(width, height, rows of RGBA bytes) of an 8-bit RGBA PNG, as
    rsvg-convert writes them."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    at, idat = 8, b""
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            assert (depth, colour) == (8, 6), "not 8-bit RGBA"
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    raw, stride, rows, prior = zlib.decompress(idat), width * 4, [], bytearray(width * 4)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - 4] if i >= 4 else 0
            b, c = prior[i], prior[i - 4] if i >= 4 else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(line)
        prior = line
    return width, height, rows


def problems(path):
    with open(path, "rb") as f:
        if not f.read(64).startswith(b"<?xml"):
            return []  # a file of the case's own, not a picture
    try:
        root = ET.parse(path).getroot()
    except ET.ParseError as e:
        return [f"not well-formed XML: {e}"]
    texts = [t for t in root.iter(SVG + "text")]
    bold = ["".join(t.itertext()) for t in texts[1:] if t.get("font-weight") == "bold"]
    judged = [b[:-1] for b in bold if b.endswith(":") and b[:-1] not in WHOLE_FILE]
    found = []
    if not judged:
        found.append("no verdict table")
    for name in judged:
        if not any(b.startswith(name + " (") for b in bold):
            found.append(f"no panel for {name}")
    if shutil.which("rsvg-convert") is None:
        return found
    # The texts alone, on a transparent page of the picture's size.
    page = ET.Element(root.tag, root.attrib)
    page.extend(texts)
    with tempfile.TemporaryDirectory() as work:
        alone = pathlib.Path(work) / "texts.svg"
        alone.write_bytes(ET.tostring(page))
        png = subprocess.run(["rsvg-convert", "-z", "0.5", str(alone)], capture_output=True, check=False)
        if png.returncode != 0:
            return found + [f"rsvg-convert failed: {png.stderr.decode(errors='replace')}"]
    rows = png_pixels(png.stdout)[2]
    # The alpha of the top and bottom rows and of the left and right columns.
    if any(rows[0][3::4]) or any(rows[-1][3::4]) or any(r[3] for r in rows) or any(r[-1] for r in rows):
        found.append("a text reaches the edge of the picture (clipped)")
    return found


failed = False
for name in sys.argv[1:]:
    for p in problems(name):
        print(f"{name}: {p}")
        failed = True
sys.exit(1 if failed else 0)
