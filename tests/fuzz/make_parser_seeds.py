#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# Writes the seeds of parsers_fuzzer into corpus-parsers/ (or the folder named): small
# pictures made by ImageMagick's convert, with EXIF put in by hand where convert writes
# none, command lines, names and patterns, and OME-XML. Each seed is the reader's number
# (the fuzzer's first byte) followed by its input.
#   tests/fuzz/make_parser_seeds.py [FOLDER]
import os
import struct
import subprocess
import sys
import tempfile
import zlib

here = os.path.dirname(os.path.abspath(__file__))
out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "corpus-parsers")
EXIF, NAMES, JPEG, OPTIONS, ROI = range(5)
OME = 0xE0  # 0xE0 to 0xFF: first bytes no other reader's seed has


def picture(ext, *args, size="24x16"):
    """A small gradient as convert writes it, without dates or comments."""
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "p." + ext)
        subprocess.run(["/usr/bin/convert", "-size", size, "gradient:red-blue", "-strip", *args, path],
                       check=True)
        with open(path, "rb") as f:
            return f.read()


def exif(orientation, date=None, subsec=None, offset=None, order=">"):
    """A TIFF header and IFD0 with the orientation, and an EXIF IFD with the date's fields."""
    def ifd(entries, start):
        # entries: (tag, type, count, payload bytes); payloads over 4 bytes go after the IFD.
        table = struct.pack(order + "H", len(entries))
        data = b""
        data_at = start + 2 + 12 * len(entries) + 4
        for tag, kind, count, payload in entries:
            if len(payload) <= 4:
                table += struct.pack(order + "HHI", tag, kind, count) + payload.ljust(4, b"\0")
            else:
                table += struct.pack(order + "HHII", tag, kind, count, data_at + len(data))
                data += payload + (b"\0" if len(payload) % 2 else b"")
        return table + struct.pack(order + "I", 0) + data

    def ascii(tag, text):
        raw = text.encode() + b"\0"
        return (tag, 2, len(raw), raw)

    fields = [ascii(0x9003, date)] if date else []
    if subsec:
        fields.append(ascii(0x9291, subsec))
    if offset:
        fields.append(ascii(0x9011, offset))
    first = [(0x0112, 3, 1, struct.pack(order + "H", orientation))]
    head = (b"MM" if order == ">" else b"II") + struct.pack(order + "HI", 42, 8)
    if fields:
        first.append((0x8769, 4, 1, b"\0\0\0\0"))
        zeroth = ifd(first, 8)
        first[-1] = (0x8769, 4, 1, struct.pack(order + "I", 8 + len(zeroth)))
        zeroth = ifd(first, 8)
        return head + zeroth + ifd(fields, 8 + len(zeroth))
    return head + ifd(first, 8)


def jpeg_with_exif(jpeg, tiff):
    app1 = b"Exif\0\0" + tiff
    return jpeg[:2] + b"\xff\xe1" + struct.pack(">H", len(app1) + 2) + app1 + jpeg[2:]


def png_with_exif(png, tiff):
    chunk = struct.pack(">I", len(tiff)) + b"eXIf" + tiff
    chunk += struct.pack(">I", zlib.crc32(b"eXIf" + tiff))
    at = 8 + 25  # after the signature and IHDR
    return png[:at] + chunk + png[at:]


def webp_with_exif(webp, tiff, width=24, height=16):
    # A simple (VP8 or VP8L) WebP becomes an extended one: VP8X with the EXIF flag first.
    vp8x = struct.pack("<I", 0x08) + (width - 1).to_bytes(3, "little") + (height - 1).to_bytes(3, "little")
    body = b"VP8X" + struct.pack("<I", len(vp8x)) + vp8x + webp[12:]
    body += b"EXIF" + struct.pack("<I", len(tiff)) + tiff + (b"\0" if len(tiff) % 2 else b"")
    return b"RIFF" + struct.pack("<I", 4 + len(body)) + b"WEBP" + body


def roi(kind, xs=(), ys=(), line=(0, 0, 0, 0), width=0, options=0, fx=(), fy=()):
    """An ImageJ selection file as its decoder reads it: header, short points, floats."""
    head = bytearray(64)
    head[0:4] = b"Iout"
    struct.pack_into(">hBxhhhhHffffh", head, 4, 228, kind, 0, 0, 0, 0, len(xs), *line, width)
    struct.pack_into(">h", head, 50, options)
    body = struct.pack(">%dh" % len(xs), *xs) + struct.pack(">%dh" % len(ys), *ys)
    return bytes(head) + body + struct.pack(">%df" % len(fx), *fx) + struct.pack(">%df" % len(fy), *fy)


def roi_set(entries):
    """A RoiSet.zip as ImageJ's ROI Manager saves one, entries deflated."""
    import io
    import zipfile
    data = io.BytesIO()
    with zipfile.ZipFile(data, "w", zipfile.ZIP_DEFLATED) as z:
        for name, payload in entries.items():
            z.writestr(zipfile.ZipInfo(name, date_time=(2026, 1, 1, 0, 0, 0)), payload,
                       compress_type=zipfile.ZIP_DEFLATED)
    return data.getvalue()


def ome(order="XYCZT", sizes=(2, 3, 4), inside="", extra=""):
    """An OME-TIFF's OME-XML: one image, its Pixels' sizes (C, Z, T) and what they hold."""
    c, z, t = sizes
    return ('<?xml version="1.0" encoding="UTF-8"?>'
            '<OME xmlns="http://www.openmicroscopy.org/Schemas/OME/2016-06"><Image ID="Image:0">'
            f'<Pixels ID="Pixels:0" DimensionOrder="{order}" Type="uint8" SizeX="8" SizeY="4" '
            f'SizeC="{c}" SizeZ="{z}" SizeT="{t}"{extra}>'
            f'<Channel ID="Channel:0:0" SamplesPerPixel="1"/>{inside}</Pixels></Image></OME>').encode()


def lines(*items):
    return "\n".join(items).encode()


seeds = {
    # EXIF: in each of the four containers, both byte orders, with and without the date.
    "exif-jpeg": (EXIF, jpeg_with_exif(picture("jpg", "-quality", "50"),
                                       exif(6, "2026:12:07 22:15:00", "25", "+01:00"))),
    "exif-png": (EXIF, png_with_exif(picture("png"), exif(3, "2026:02:28 23:59:59", order="<"))),
    "exif-webp": (EXIF, webp_with_exif(picture("webp", "-quality", "30"), exif(8, "1999:01:01 00:00:00"))),
    "exif-tiff": (EXIF, picture("tif", "-orient", "LeftBottom", "-compress", "none", size="8x4")),
    "exif-fields": (EXIF, lines("2026:12:07 22:15:00", "123456", "-09:30")),
    # Names: dates in several spellings, natural order, the three kinds of listing.
    "names-dates": (NAMES, lines("IMG_20261207_221500123.jpg", "2026-12-07T22-15-00.png",
                                 "2026-12-07 22.15.00.webp", "VID20261207221500.tif")),
    "names-folder": (NAMES, lines("", "img2.png", "img10.PNG", "img02.jpg", "notes.txt", ".hidden.jpg",
                                  "a.tiff", "b.bmp", "c.webp", "d.jpeg")),
    "names-glob": (NAMES, lines("img[0-9]*.p?g", "img1.png", "img9.png", "img10.png", "imgx.png",
                                ".img2.png")),
    "names-printf": (NAMES, lines("frame%03d.jpg", "frame001.jpg", "frame002.jpg", "frame003.jpg",
                                  "frame005.jpg", "frame004")),
    "names-printf-percent": (NAMES, lines("100%%_%d.png", "100%_1.png", "100%_2.png")),
    # JPEG: four bytes for the area, then 4:2:0, 4:2:2, 4:4:4, grey and progressive pictures.
    "jpeg-420": (JPEG, bytes([3, 2, 1, 5]) + picture("jpg", "-sampling-factor", "2x2", size="40x24")),
    "jpeg-422": (JPEG, bytes([30, 9, 0, 3]) + picture("jpg", "-sampling-factor", "2x1", size="40x24")),
    "jpeg-444": (JPEG, bytes([0, 0, 200, 200]) + picture("jpg", "-sampling-factor", "1x1", size="17x9")),
    "jpeg-grey": (JPEG, bytes([5, 5, 2, 2]) + picture("jpg", "-colorspace", "Gray", size="33x21")),
    "jpeg-progressive": (JPEG, bytes([1, 1, 1, 1]) + picture("jpg", "-interlace", "Plane")),
    # Command lines: every option, several slits, and refusals.
    "options-slit": (OPTIONS, lines("--slit", "50%:3", "--every", "2", "--cut", "horizontal",
                                    "--threads", "3", "-fq", "in.avi", "out.png")),
    "options-line": (OPTIONS, lines("--line", "0,0,10%,100%..5,5,20.5,20", "--thickness", "3",
                                    "--reduce", "median", "--time-axis", "down", "in", "out.tif")),
    "options-several": (OPTIONS, lines("--slit", "10", "--slit=20..30%", "--line", "1,2,3,4",
                                       "--timeline", "t%d.json", "in/%04d.jpg", "out%d.png")),
    "options-time": (OPTIONS, lines("--from", "12.5s", "--to", "100", "--bin", "2m", "--clock", "exif",
                                    "--ticks", "--compress", "zstd", "--no-rotate", "in", "out.tiff")),
    "options-input": (OPTIONS, lines("--flush", "30s", "--input-option", "rtsp_transport=tcp",
                                     "--format", "v4l2", "--decoder", "ffmpeg", "--skip-existing",
                                     "/dev/video0", "out.png")),
    "options-wrong": (OPTIONS, lines("--threads=65", "--every", "0", "-x", "--slit")),
    "options-help": (OPTIONS, lines("--version", "--help", "a")),
    # ImageJ selections: a straight line, a segmented line whole and sub-pixel, a rectangle.
    "roi-line": (ROI, roi(3, line=(1.5, 2, 30, 4.25), width=3)),
    "roi-polyline": (ROI, roi(5, xs=(1, 20, 9), ys=(3, 3, 40))),
    "roi-subpixel": (ROI, roi(5, xs=(1, 2), ys=(1, 2), options=128, fx=(1.25, 2.5), fy=(0.75, 9))),
    "roi-rectangle": (ROI, roi(1)),
    "roi-set": (ROI, roi_set({"0001-0002.roi": roi(5, xs=(1, 20, 9), ys=(3, 3, 40)),
                              "0003-0004.roi": roi(3, line=(1.5, 2, 30, 4.25), width=3)})),
}
# OME-XML: each order; pages placed by TiffData; time from planes' DeltaT; a single file
# naming itself; calibration with units.
for order in ("XYCZT", "XYCTZ", "XYZCT", "XYZTC", "XYTCZ", "XYTZC"):
    seeds["ome-" + order.lower()] = (OME, ome(order))
seeds["ome-tiffdata"] = (OME, ome("XYZTC", (2, 1, 3), '<TiffData IFD="3" FirstC="1" PlaneCount="3"/>'
                                  '<TiffData IFD="0" PlaneCount="3"/>'))
seeds["ome-deltat"] = (OME, ome("XYCZT", (1, 1, 3), "".join(
    f'<Plane TheC="0" TheZ="0" TheT="{t}" DeltaT="{t * 250}" DeltaTUnit="ms"/>' for t in range(3))))
seeds["ome-uuid"] = (OME, ome("XYCZT", (1, 2, 2), '<TiffData IFD="0" PlaneCount="4">'
                              '<UUID FileName="stack.ome.tif">urn:uuid:0</UUID></TiffData>',
                              ' PhysicalSizeX="0.25" PhysicalSizeXUnit="\u00b5m" TimeIncrement="2"'
                              ' TimeIncrementUnit="min"'))

os.makedirs(out, exist_ok=True)
for name, (reader, data) in seeds.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(bytes([reader]) + data)
