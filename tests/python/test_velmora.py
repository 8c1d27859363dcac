# SPDX-License-Identifier: GPL-3.0-or-later
# The Python module against velmora-scan: the same request through both gives the same
# pixels (the command line's PNG read back) and the same timeline, the same refusals with
# the same messages; the strips end on `break` leaving nothing running; Ctrl-C stops a long
# scan and leaves no file; a scan lets other Python threads run.
import csv
import datetime
import os
import signal
import struct
import subprocess
import sys
import threading
import time
import zlib

import numpy as np
import pytest

import velmora

BUILD = os.environ["VELMORA_BUILD"]
SCAN = os.path.join(BUILD, "velmora-scan")


def clipgen(path, *args):
    subprocess.run([os.path.join(BUILD, "velmora-clipgen"), str(path), *args], check=True,
                   capture_output=True)
    return str(path)


@pytest.fixture(scope="session")
def clips(tmp_path_factory):
    d = tmp_path_factory.mktemp("clips")
    made = {
        "mjpeg": clipgen(d / "m.avi", "--codec", "mjpeg", "--size", "48x32", "--frames", "9"),
        "mpeg4": clipgen(d / "p.avi", "--codec", "mpeg4", "--size", "64x48", "--frames", "14",
                         "--gop", "5", "--bframes", "2"),
        "deep": clipgen(d / "d.avi", "--codec", "ffv1-10", "--size", "40x30", "--frames", "7"),
        "long": clipgen(d / "long.avi", "--codec", "mjpeg", "--size", "640x480", "--frames", "900"),
    }
    jpegs = d / "jpegs"
    jpegs.mkdir()
    subprocess.run(["ffmpeg", "-v", "error", "-i", made["mjpeg"], "-c:v", "copy",
                    str(jpegs / "img%03d.jpg")], check=True)
    made["jpegs"] = str(jpegs)
    return made


def read_png(path):
    """Packed RGB rows of an 8- or 16-bit PNG, as (height, width, 3) in the machine's order."""
    data = open(path, "rb").read()
    pos, idat = 8, b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth = struct.unpack(">IIB", body[:9])
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw, bpp = zlib.decompress(idat), 3 * depth // 8
    stride = width * bpp
    out, prior = bytearray(), bytearray(stride)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b, c = prior[i], prior[i - bpp] if i >= bpp else 0
            p = a + b - c
            pred = [0, a, b, (a + b) // 2,
                    a if abs(p - a) <= abs(p - b) and abs(p - a) <= abs(p - c)
                    else b if abs(p - b) <= abs(p - c) else c][kind]
            line[i] = (line[i] + pred) & 0xFF
        out += line
        prior = line
    return np.frombuffer(bytes(out), ">u2" if depth == 16 else "u1").reshape(height, width, 3)


def command_line(words):
    return subprocess.run([SCAN, *words], capture_output=True, text=True)


def assert_same_timeline(timeline, csv_path):
    rows = list(csv.DictReader(open(csv_path, newline="")))
    assert len(rows) == len(timeline)
    for row, mine in zip(rows, timeline):
        assert (int(row["strip"]), int(row["position"]), int(row["frame"])) == \
            (mine["strip"], mine["position"], mine["frame"])
        assert row["seconds"] == ("" if np.isnan(mine["seconds"]) else "%.6f" % mine["seconds"])
        if row["clock"]:
            stated = datetime.datetime.fromisoformat(row["clock"])
            if stated.tzinfo:
                stated = stated.astimezone(datetime.timezone.utc).replace(tzinfo=None)
            assert np.datetime64(stated, "ns") == mine["clock"]
        else:
            assert np.isnat(mine["clock"])
        assert (row["file"], row["note"]) == (mine["file"], mine["note"])


# (clip, keyword arguments, the same on the command line)
SAME = [
    ("mjpeg", dict(slit="10:3"), ["--slit", "10:3"]),
    ("mpeg4", dict(slit=(20, 2), every=2, start=0.2), ["--slit", "20:2", "--every", "2", "--from", "0.2s"]),
    ("mpeg4", dict(cut="horizontal", stop=9, ticks=True), ["--cut", "horizontal", "--to", "9", "--ticks"]),
    ("jpegs", dict(slit="50%"), ["--slit", "50%"]),
    ("deep", dict(time_axis="down"), ["--time-axis", "down"]),
    ("mpeg4", dict(line=[(4, 4), (40, 30), (60, 5)], thickness=3, reduce="mean"),
     ["--line", "4,4,40,30,60,5", "--thickness", "3", "--reduce", "mean"]),
    ("mjpeg", dict(slit=[5, "30:2"], line="0,0,47,31"),
     ["--slit", "5", "--slit", "30:2", "--line", "0,0,47,31"]),
]


@pytest.mark.parametrize("threads", [1, 2, 3])
@pytest.mark.parametrize("clip,kwargs,words", SAME)
def test_the_same_request_gives_the_command_lines_pixels_and_timeline(clips, tmp_path, clip, kwargs, words, threads):
    several = isinstance(kwargs.get("slit"), list)
    out = str(tmp_path / ("cli%d.png" if several else "cli.png"))
    done = command_line([*words, "--threads", str(threads), "--timeline", out[:-3] + "csv", clips[clip], out])
    assert done.returncode == 0, done.stderr
    made = velmora.scan(clips[clip], threads=threads, **kwargs)
    made = made if several else [made]
    assert len(made) == (3 if several else 1)
    for n, result in enumerate(made, 1):
        name = out.replace("%d", str(n)) if several else out
        expected = read_png(name)
        assert result.image.dtype == (np.uint16 if clip == "deep" else np.uint8)
        assert np.array_equal(result.image, expected)
        assert result.image.flags.writeable and not result.image.flags.owndata
        assert_same_timeline(result.timeline, name[:-3] + "csv")


def test_a_pipe_and_the_files_written_beside_the_result(clips, tmp_path):
    fifo = str(tmp_path / "fifo")
    os.mkfifo(fifo)
    feeder = subprocess.Popen(["sh", "-c", 'cat "$1" > "$2"', "-", clips["mpeg4"], fifo])
    result = velmora.scan(fifo, slit="7:2", output=tmp_path / "py.png", timeline=tmp_path / "py.csv")
    feeder.wait(timeout=10)
    assert np.array_equal(result.image, read_png(tmp_path / "py.png"))
    assert_same_timeline(result.timeline, tmp_path / "py.csv")
    # A pipe's clock is the moment each strip came.
    assert not np.isnat(result.timeline["clock"]).any()
    for name, cut in (("w.png", "vertical"), ("w.tif", "horizontal")):
        made = velmora.scan(clips["mpeg4"], slit="9:3", cut=cut, output=tmp_path / ("cli-" + name))
        velmora.write(made, tmp_path / name)
        assert open(tmp_path / name, "rb").read() == open(tmp_path / ("cli-" + name), "rb").read()


def test_a_png_written_beside_the_result_is_held_once(clips, tmp_path):
    # In a fresh interpreter, whose peak is this scan's: the image once (and the decoders),
    # not once for the file and again for the result.
    code = ("import resource, sys, velmora\n"
            "before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss\n"
            "r = velmora.scan(sys.argv[1], slit='300:40', output=sys.argv[2], threads=2)\n"
            "print(r.image.nbytes, (resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before) * 1024)\n")
    done = subprocess.run([sys.executable, "-c", code, clips["long"], str(tmp_path / "long.png")],
                          capture_output=True, text=True, check=True)
    image, grown = map(int, done.stdout.split())
    assert grown < 1.7 * image, (image, grown)


# (keyword arguments, exception): the message is the command line's, word for word.
BAD = [
    (dict(slit="999"), velmora.UsageError),
    (dict(reduce="mode"), velmora.UsageError),
    (dict(thickness=2), velmora.UsageError),
    (dict(every=0), velmora.UsageError),
    (dict(start="later"), velmora.UsageError),
    (dict(input="missing.avi"), velmora.InputError),
    (dict(input="text"), velmora.InputError),
]


@pytest.mark.parametrize("kwargs,exception", BAD)
def test_a_bad_request_raises_the_command_lines_message(clips, tmp_path, monkeypatch, kwargs, exception):
    (tmp_path / "text").write_text("not a clip\n")
    monkeypatch.chdir(tmp_path)
    kwargs = dict(kwargs)
    source = kwargs.pop("input", clips["mjpeg"])
    words, _ = velmora._words(source, str(tmp_path / "out.png"), kwargs)
    done = command_line(words)
    with pytest.raises(exception) as raised:
        velmora.scan(source, **kwargs)
    assert done.returncode == (2 if exception is velmora.UsageError else 1)
    assert done.stderr == "velmora-scan: %s\n" % raised.value
    assert not os.path.exists(tmp_path / "out.png")


def task_count():
    return len(os.listdir("/proc/self/task"))


def test_leaving_the_strips_of_a_pipe_closes_it_and_ends_the_thread(clips, tmp_path):
    fifo = str(tmp_path / "fifo")
    os.mkfifo(fifo)
    before = task_count()
    # A feeder that would go on for long: it ends only when the pipe is closed.
    feeder = subprocess.Popen(["sh", "-c", 'cat "$1" > "$2"', "-", clips["long"], fifo])
    seen = []
    for pixels, row in velmora.strips(fifo, slit="100:3"):
        assert pixels.shape == (480, 3, 3)
        seen.append(row["frame"])
        if len(seen) == 3:
            break
    assert seen == [0, 1, 2]
    assert feeder.wait(timeout=5) != 0  # its pipe closed under it
    assert task_count() == before
    assert os.listdir(tmp_path) == ["fifo"]


def test_ctrl_c_stops_a_long_scan_within_a_second_and_leaves_no_file(clips, tmp_path):
    out = tmp_path / "long.png"
    sent = []

    def interrupt():
        sent.append(time.monotonic())
        os.kill(os.getpid(), signal.SIGINT)

    # A stream that stalls after its pictures: the scan can only end by the signal.
    fifo = str(tmp_path / "fifo")
    os.mkfifo(fifo)
    feeder = subprocess.Popen(["sh", "-c", '{ cat "$1"; exec sleep 30; } > "$2"', "-",
                               clips["long"], fifo])
    threading.Timer(1.0, interrupt).start()
    try:
        with pytest.raises(KeyboardInterrupt):
            velmora.scan(fifo, output=out)
    finally:
        feeder.kill()
        feeder.wait()
    assert sent and time.monotonic() - sent[0] < 1.0
    assert os.listdir(tmp_path) == ["fifo"]


def test_two_scans_run_side_by_side_and_python_runs_meanwhile(clips):
    alone = velmora.scan(clips["long"], threads=1, every=3).image
    results, ticks = [], 0
    threads = [threading.Thread(target=lambda: results.append(
        velmora.scan(clips["long"], threads=1, every=3).image)) for _ in range(2)]
    for t in threads:
        t.start()
    while any(t.is_alive() for t in threads):
        ticks += 1  # only counts while no scan holds the GIL
    assert len(results) == 2 and all(np.array_equal(r, alone) for r in results)
    assert ticks > 1000
