# SPDX-License-Identifier: GPL-3.0-or-later
"""Streak images (slit-scan pictures, keograms, kymographs) as NumPy arrays.

velmora runs velmora-scan's own engine in this process: the same options (with underscores,
``start``/``stop`` for ``--from``/``--to``), the same checks and messages, the same pixels.

    import velmora
    result = velmora.scan("clip.mp4", slit="50%:2")
    result.image      # (height, width, 3) uint8, or uint16 for deep clips
    result.timeline   # one record per strip: strip, position, frame, seconds, clock, file, note

    for strip, row in velmora.strips("/dev/video0", format="v4l2"):
        ...           # each strip as it is cut

Every value may be given as the command line's text (``slit="955:10"``, ``start="0.4s"``) or
as a Python value: several slits as a list, a path as a list of (x, y) points, times as
seconds (a float; an int is a frame number). Wrong usage raises UsageError (a ValueError),
an input that cannot be read or an output that cannot be written InputError (an OSError),
each with velmora-scan's message. The GIL is released while a run decodes, and Ctrl-C
stops it within a fraction of a second, leaving no file.
"""
import numbers
import os
import warnings

import numpy as np

from . import _velmora

__version__ = _velmora.__version__
UsageError = _velmora.UsageError
InputError = _velmora.InputError

__all__ = ["scan", "strips", "write", "Result", "UsageError", "InputError", "ScanWarning",
           "__version__"]


class ScanWarning(UserWarning):
    """A warning of a run (a damaged picture, an image without a clock, ...)."""


class Result:
    """One slit's streak image and its timeline.

    image: (height, width, 3) uint8 or uint16 array, as velmora-scan would write it (the
    band of ``ticks`` included); it owns its memory and is writable.
    timeline: structured array, one record per strip: strip, position (first column or row
    in the image), frame, seconds (NaN without a time), clock (datetime64[ns], UTC when the
    offset is known, else as the clock states it; NaT without one), file, note.
    """

    def __init__(self, image, timeline, request):
        self.image = image
        self.timeline = timeline
        self._request = request

    def __repr__(self):
        return "<velmora.Result image %s %s, %d strips>" % (
            "x".join(map(str, self.image.shape)), self.image.dtype, len(self.timeline))


def _text(value):
    if isinstance(value, str):
        return value
    if isinstance(value, os.PathLike):
        return os.fspath(value)
    if isinstance(value, bool):
        raise UsageError("%r: a value is wanted here, not a truth value" % value)
    if isinstance(value, numbers.Integral):
        return str(int(value))
    if isinstance(value, numbers.Real):
        return repr(float(value))
    raise UsageError("%r: not a value velmora-scan takes" % (value,))


def _seconds(value):
    """A time: a float is seconds, an int a frame number, a str the command line's."""
    if isinstance(value, numbers.Real) and not isinstance(value, (numbers.Integral, bool)):
        return repr(float(value)) + "s"
    return _text(value)


def _is_point(value):
    return (isinstance(value, (tuple, list)) and len(value) == 2 and
            all(isinstance(v, numbers.Real) and not isinstance(v, bool) for v in value))


def _path(value):
    """A path as text: the command line's, or a list of (x, y) points."""
    if isinstance(value, str):
        return value
    return ",".join(_text(c) for point in value for c in point)


def _slits(value):
    if isinstance(value, list):
        return [_slit(v) for v in value]
    return [_slit(value)]


def _slit(value):
    if isinstance(value, tuple):  # (position, width)
        return ":".join(_text(v) for v in value)
    return _text(value)


def _lines(value):
    if isinstance(value, str) or (isinstance(value, (list, tuple)) and value and
                                  all(_is_point(p) for p in value)):
        return [_path(value)]
    return [_path(v) for v in value]


# Keyword -> (option, how its value becomes the option's text); None for a flag.
_VALUES = {
    "cut": ("--cut", _text), "thickness": ("--thickness", _text),
    "reduce": ("--reduce", _text), "time_axis": ("--time-axis", _text),
    "every": ("--every", _text), "start": ("--from", _seconds), "stop": ("--to", _seconds),
    "threads": ("--threads", _text), "compress": ("--compress", _text),
    "decoder": ("--decoder", _text), "timeline": ("--timeline", _text),
    "clock": ("--clock", _text), "format": ("--format", _text),
}
_FLAGS = {"ticks": "--ticks", "force": "--force", "skip_existing": "--skip-existing"}


def _words(input, output, options):
    """The command line of a request: its options, INPUT and OUTPUT."""
    words, slits = [], 0
    for name, value in options.items():
        if value is None:
            continue
        if name == "slit":
            for text in _slits(value):
                words += ["--slit", text]
                slits += 1
        elif name == "line":
            for text in _lines(value):
                words += ["--line", text]
                slits += 1
        elif name == "rotate":
            if not value:
                words.append("--no-rotate")
        elif name == "bin":
            words += ["--bin", _text(value) if isinstance(value, str) else repr(float(value)) + "s"]
        elif name == "flush":
            words += ["--flush", _seconds(value)]
        elif name == "input_options":
            pairs = value.items() if isinstance(value, dict) else [(v, None) for v in value]
            for key, val in pairs:
                words += ["--input-option", _text(key) if val is None else "%s=%s" % (key, _text(val))]
        elif name in _FLAGS:
            if value:
                words.append(_FLAGS[name])
        elif name in _VALUES:
            option, text = _VALUES[name]
            words += [option, text(value)]
        else:
            raise TypeError("unexpected keyword argument %r" % name)
    # Without an output the image is kept in memory only; OUTPUT just holds its place.
    if output is None:
        output = "memory%d.png" if slits > 1 else "memory.png"
    return words + ["--", _text(input), _text(output)], slits


def _warn(said):
    for line in said:
        warnings.warn(line, ScanWarning, stacklevel=3)


def _timeline(columns):
    files = columns["file"]
    width = max([len(f) for f in files] + [1])
    timeline = np.empty(len(columns["strip"]), dtype=[
        ("strip", "<i8"), ("position", "<i8"), ("frame", "<i8"), ("seconds", "<f8"),
        ("clock", "<M8[ns]"), ("file", "<U%d" % width), ("note", "<U8")])
    for name in ("strip", "position", "frame", "seconds"):
        timeline[name] = columns[name]
    timeline["clock"] = columns["clock"].view("<M8[ns]")
    timeline["file"] = files
    timeline["note"] = columns["note"]
    return timeline


def scan(input, *, slit=None, line=None, cut=None, thickness=None, reduce=None,
         time_axis=None, every=None, start=None, stop=None, threads=None, decoder=None,
         rotate=True, clock=None, bin=None, ticks=False, format=None, input_options=None,
         output=None, timeline=None, compress=None, flush=None, force=False,
         skip_existing=False):
    """Makes the streak image of `input` (a clip, an image sequence, a pipe, a URL, a device).

    The keywords are velmora-scan's options (``velmora-scan --help``, ``man velmora-scan``);
    None leaves an option out, so that its default holds. ``slit`` takes "POS[:WIDTH]", a
    position, a (position, width) tuple or a list of them; ``line`` the option's text, a
    list of (x, y) points, or a list of those; ``start``/``stop`` a frame (int), seconds
    (float) or the option's text; ``bin`` seconds or text; ``rotate=False`` is
    ``--no-rotate``; ``input_options`` a dict.

    With ``output`` (and ``timeline``) the files are written as velmora-scan writes them,
    under a temporary name, and the result is still returned. Returns a Result, or with
    several slits a list of them in the order given (empty when ``skip_existing`` skipped).
    """
    words, slits = _words(input, output, dict(
        slit=slit, line=line, cut=cut, thickness=thickness, reduce=reduce, time_axis=time_axis,
        every=every, start=start, stop=stop, threads=threads, decoder=decoder, rotate=rotate,
        clock=clock, bin=bin, ticks=ticks, format=format, input_options=input_options,
        timeline=timeline, compress=compress, flush=flush, force=force,
        skip_existing=skip_existing))
    made, said = _velmora.make(words, output is None)
    _warn(said)
    results = [Result(image, _timeline(columns), request) for image, columns, request in made]
    if slits > 1 or (skip_existing and not results):
        return results
    return results[0]


def strips(input, *, slit=None, line=None, cut=None, thickness=None, reduce=None,
           time_axis=None, every=None, start=None, stop=None, threads=None, decoder=None,
           rotate=True, clock=None, format=None, input_options=None):
    """Yields the strips of `input` as they are cut: (pixels, row) for each.

    pixels: (length, 3), or (length, thickness, 3) for a slit or line several pixels thick,
    uint8 or uint16; row: the strip's timeline record (as Result.timeline's; clock is the
    moment a stream's strip came, NaT for other inputs). Works on pipes, URLs and devices;
    the first slit only. Leaving the loop (break) stops the run and closes the input.
    """
    words, _ = _words(input, None, dict(
        slit=slit, line=line, cut=cut, thickness=thickness, reduce=reduce, time_axis=time_axis,
        every=every, start=start, stop=stop, threads=threads, decoder=decoder, rotate=rotate,
        clock=clock, format=format, input_options=input_options))
    across = cut == "horizontal" or time_axis == "down"
    feed = _velmora.StripFeed(words)
    try:
        while True:
            try:
                pixels, row = feed.next()
            except StopIteration:
                return
            if across:  # rows of the picture: the strip runs along them
                pixels = pixels.transpose(1, 0, 2)
            if pixels.shape[1] == 1:
                pixels = pixels[:, 0, :]
            yield pixels, _timeline({
                "strip": [row[0]], "position": [row[1]], "frame": [row[2]],
                "seconds": [row[3]], "clock": np.array([row[4]], dtype="<i8"),
                "file": [row[5]], "note": [row[6]]})[0]
    finally:
        feed.close()
        _warn(feed.said())


def write(result, path, *, force=False):
    """Writes ``result.image`` to `path` (.png, .tif, .tiff) exactly as velmora-scan writes
    the same request's OUTPUT: the same bytes, under a temporary name; an existing file is
    replaced only with ``force``."""
    _velmora.write(result.image, result._request, _text(path), bool(force))
