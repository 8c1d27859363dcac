#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# velmora.scan with the image returned in memory against velmora-scan on the same work, in
# turns: scan_bench's 1080p H.264 clip (600 frames), a 10-column slit at column 955, two
# threads. velmora-scan writes an uncompressed TIFF (--compress none): the same decoding and
# cutting, and the cheapest file it writes, as no deflate is spent (a PNG always deflates).
# Each side runs in a fresh process; the Python side's time is that of the scan() call
# alone (the interpreter and NumPy starting are not the run's), velmora-scan's its whole
# process. Prints medians, the median of the paired ratios, and peak resident memory.
#   PYTHONPATH=BUILD/python bench/python_bench.py BUILD [repetitions, default 5]
import os
import resource
import statistics
import subprocess
import sys
import time

build = sys.argv[1]
repetitions = int(sys.argv[2]) if len(sys.argv) > 2 else 5
clip = "/tmp/velmora-scan-bench-h264-1080p-600.mp4"
if not os.path.exists(clip):
    sys.exit(clip + " is missing: run build/bench/scan_bench h264 once, which writes it")
out = "/tmp/velmora-python-bench.tif"

PYTHON_SIDE = r"""
import resource, sys, time, velmora
start = time.monotonic()
image = velmora.scan(sys.argv[1], slit="955:10", threads=2).image
seconds = time.monotonic() - start
print(seconds, image.nbytes, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)
"""
IMPORT_ONLY = "import resource, velmora; print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)"


def command_line():
    start = time.monotonic()
    # Its own peak: RUSAGE_CHILDREN would hold the Python side's too.
    child = subprocess.Popen([os.path.join(build, "velmora-scan"), "--force", "--quiet",
                              "--threads", "2", "--slit", "955:10", "--compress", "none", clip, out])
    _, status, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        sys.exit("velmora-scan failed")
    return time.monotonic() - start, usage.ru_maxrss


def python():
    done = subprocess.run([sys.executable, "-c", PYTHON_SIDE, clip], check=True,
                          capture_output=True, text=True)
    seconds, image_bytes, peak_kb = done.stdout.split()
    return float(seconds), int(image_bytes), int(peak_kb)


scan_times, python_times, cli_peak, py_peak = [], [], 0, 0
for _ in range(repetitions):
    seconds, peak = command_line()
    scan_times.append(seconds)
    cli_peak = max(cli_peak, peak)
    seconds, image_bytes, peak = python()
    python_times.append(seconds)
    py_peak = max(py_peak, peak)
os.remove(out)
started = int(subprocess.run([sys.executable, "-c", IMPORT_ONLY], check=True,
                             capture_output=True, text=True).stdout)
ratio = statistics.median(p / s for p, s in zip(python_times, scan_times))
print("| what | velmora-scan (TIFF, no compression) | velmora.scan (in memory) | ratio | goal |")
print("|---|---|---|---|---|")
print("| 1080p H.264, 600 frames, --slit 955:10, 2 threads | %.2f s | %.2f s | %.2fx | <= 1.03x: %s |"
      % (statistics.median(scan_times), statistics.median(python_times), ratio,
         "met" if ratio <= 1.03 else "missed"))
image_mb = image_bytes / 1e6
print("\npeak resident memory: velmora-scan %.1f MB; Python %.1f MB, of which the interpreter "
      "with velmora and NumPy imported %.1f MB and the image %.1f MB; goal: at most the image "
      "+ velmora-scan's + the interpreter's = %.1f MB: %s"
      % (cli_peak / 1024, py_peak / 1024, started / 1024, image_mb,
         image_mb + cli_peak / 1024 + started / 1024,
         "met" if py_peak / 1024 <= image_mb + cli_peak / 1024 + started / 1024 else "missed"))
