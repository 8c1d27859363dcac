# SPDX-License-Identifier: GPL-3.0-or-later
# The long view of a few synthetic nights (PNGs and CSV timelines made here) against a
# reference computed here with numpy from the same pixels and clocks.
import csv
import datetime as dt
import os
import struct
import subprocess
import sys
import tempfile
import zlib

import numpy as np

SCAN = sys.argv[1]
DAY = 86400


def write_png(path, pixels):
    h, w, _ = pixels.shape
    deep = pixels.dtype == np.uint16
    data = pixels.astype('>u2').tobytes() if deep else pixels.astype(np.uint8).tobytes()
    stride = w * 3 * (2 if deep else 1)
    raw = b''.join(b'\0' + data[y * stride:(y + 1) * stride] for y in range(h))

    def chunk(kind, body):
        return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))
    with open(path, 'wb') as f:
        f.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 16 if deep else 8, 2, 0, 0, 0))
                + chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b''))


def read_png(path):
    blob = open(path, 'rb').read()
    at, idat = 8, b''
    while at < len(blob):
        n, kind = struct.unpack('>I4s', blob[at:at + 8])
        body = blob[at + 8:at + 8 + n]
        if kind == b'IHDR':
            w, h, depth = struct.unpack('>IIB', body[:9])
        elif kind == b'IDAT':
            idat += body
        at += n + 12
    bpp = 6 if depth == 16 else 3
    raw, stride = zlib.decompress(idat), w * bpp
    rows, prev = [], bytearray(stride)
    for y in range(h):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b, c = prev[i], prev[i - bpp] if i >= bpp else 0
            p = a + b - c
            pred = [0, a, b, (a + b) // 2,
                    a if abs(p - a) <= abs(p - b) and abs(p - a) <= abs(p - c) else b if abs(p - b) <= abs(p - c) else c][kind]
            line[i] = (line[i] + pred) & 255
        rows.append(bytes(line))
        prev = line
    return np.frombuffer(b''.join(rows), dtype='>u2' if depth == 16 else np.uint8).reshape(h, w, 3)


def night(folder, date, starts, widths, height, deep, rng, gap_at=None):
    """A nightly image of strips taken at `starts` (datetimes), each `widths[i]` columns."""
    top = 65535 if deep else 255
    pixels = rng.integers(0, top + 1, (height, sum(widths), 3)).astype(np.uint16 if deep else np.uint8)
    name = os.path.join(folder, 'keogram-%s.png' % date.strftime('%Y%m%d'))
    write_png(name, pixels)
    with open(name[:-4] + '.csv', 'w', newline='') as f:
        out = csv.writer(f, lineterminator='\n')
        out.writerow(['strip', 'position', 'frame', 'seconds', 'clock', 'file', 'note'])
        position = 0
        for i, (t, w) in enumerate(zip(starts, widths)):
            out.writerow([i, position, i, i, t.isoformat(), 'x,%d.jpg' % i, 'gap' if i == gap_at else ''])
            position += w
    return pixels


def reference(nights, bins, window):
    """Each night's empty bins and band: per bin the half-up mean of its strips' columns."""
    tods = sorted({t.hour * 3600 + t.minute * 60 + t.second for n in nights.values() if n for t, _, _ in n['strips']})
    if window is None:  # the shortest arc of the day holding every time of day
        gaps = [(tods[(i + 1) % len(tods)] - tods[i]) % DAY or DAY for i in range(len(tods))]
        last = int(np.argmax(gaps))
        start, length, closed = tods[(last + 1) % len(tods)], (tods[last] - tods[(last + 1) % len(tods)]) % DAY, True
    else:
        start, length, closed = window[0], (window[1] - window[0] - 1) % DAY + 1, False
    bands = {}
    for date, n in nights.items():
        if n is None:
            continue
        h = n['pixels'].shape[0]
        sums = np.zeros((h, bins, 3), dtype=np.int64)
        count = np.zeros(bins, dtype=np.int64)
        for t, x, w in n['strips']:
            off = (t.hour * 3600 + t.minute * 60 + t.second - start) % DAY
            if off > length or (off == length and not closed):
                continue
            b = min(bins - 1, off * bins // length)
            sums[:, b] += n['pixels'][:, x:x + w].astype(np.int64).sum(axis=1)
            count[b] += w
        bands[date] = ' '.join(str(b) for b in range(bins) if count[b] == 0), np.where(count[None, :, None] > 0, (sums + count[None, :, None] // 2) // np.maximum(count, 1)[None, :, None], 0)
    return bands


def main():
    rng = np.random.default_rng(7)
    failures = []
    d0 = dt.date(2026, 12, 1)
    for deep, window, arg in [(False, None, []), (True, None, []), (False, (18 * 3600, 6 * 3600), ['--window', '18:00-06:00'])]:
        with tempfile.TemporaryDirectory() as folder:
            nights, plan = {}, [  # date offset, first clock, strips, widths, gap strip
                (0, dt.time(20, 0), 14, 1, None),     # runs past midnight
                (1, dt.time(17, 30), 10, 2, 3),       # starts before 18:00, a gap strip
                (3, dt.time(23, 0), 3, 1, None),      # few strips: empty bins; the night of day 2 is missing
            ]
            for off, first, count, width, gap in plan:
                date = d0 + dt.timedelta(days=off)
                t0 = dt.datetime.combine(date, first)
                starts = [t0 + dt.timedelta(minutes=37 * i) for i in range(count)]
                widths = [width + (i % 2) for i in range(count)]
                pixels = night(folder, date, starts, widths, 4, deep, rng, gap)
                xs = np.cumsum([0] + widths)
                nights[date] = {'pixels': pixels, 'strips': [(t, xs[i], widths[i]) for i, t in enumerate(starts) if i != gap]}
            nights[d0 + dt.timedelta(days=2)] = None
            odd = d0 + dt.timedelta(days=4)  # another height: noted, black
            night(folder, odd, [dt.datetime.combine(odd, dt.time(21, 0))], [1], 5, deep, rng)
            nights[odd] = None
            broken = d0 + dt.timedelta(days=5)  # no PNG: dated by its name, black
            open(os.path.join(folder, 'keogram-%s.png' % broken.strftime('%Y%m%d')), 'w').write('not a picture')
            nights[broken] = None
            bins = 9
            want = reference({d: n for d, n in nights.items()}, bins, window)
            for threads in (1, 2, 3):
                out, line = os.path.join(folder, 'year%d.png' % threads), os.path.join(folder, 'year%d.csv' % threads)
                run = subprocess.run([SCAN, '--nights', '--bin', str(bins), '--threads', str(threads), *arg,
                                      '--timeline', line, os.path.join(folder, 'keogram-*.png'), out],
                                     capture_output=True, text=True)
                got = read_png(out) if run.returncode == 0 else None
                expected = np.concatenate([want[d][1] if d in want else np.zeros((4, bins, 3), dtype=np.int64) for d in sorted(nights)])
                rows = list(csv.DictReader(open(line))) if run.returncode == 0 else []
                notes = {r['date']: r['note'] for r in rows}
                case = 'deep=%s window=%s threads=%d' % (deep, arg, threads)
                if got is None or got.shape != expected.shape or not np.array_equal(got.astype(np.int64), expected):
                    failures.append(case + ': pixels differ from the reference; ' + run.stderr)
                if notes != {'2026-12-01': '', '2026-12-02': '', '2026-12-03': 'missing', '2026-12-04': '', '2026-12-05': 'odd-size',
                             '2026-12-06': 'unreadable'}:
                    failures.append(case + ': notes %s' % notes)
                empty = {r['date']: r['empty_bins'] for r in rows}
                want_empty = {str(d): e for d, (e, _) in want.items()}
                if any(empty.get(d) != ranges(v) for d, v in want_empty.items()):
                    failures.append(case + ': empty bins %s' % empty)
                if any('keogram-%s.png' % d not in run.stderr for d in ('20261205', '20261206')):
                    failures.append(case + ': no warning names the odd or broken night: ' + run.stderr)
    print('\n'.join(failures) or 'ok')
    return 1 if failures else 0


def ranges(spaced):
    """'0 1 2 5' as the timeline writes it: '0-2 5'."""
    bins, parts = [int(b) for b in spaced.split()], []
    for b in bins:
        if parts and parts[-1][1] == b - 1:
            parts[-1][1] = b
        else:
            parts.append([b, b])
    return ' '.join(str(a) if a == b else '%d-%d' % (a, b) for a, b in parts)


if __name__ == '__main__':
    sys.exit(main())
