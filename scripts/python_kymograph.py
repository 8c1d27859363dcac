#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes README's picture of the Python module: the pendulum sample clip (velmora-clipgen's)
# scanned along a polyline across the bottom of the swing, shown with matplotlib with its
# axes in pixels along the line and seconds. The code between the marks is README's example.
#   PYTHONPATH=BUILD_DIR/python scripts/python_kymograph.py BUILD_DIR [OUT_DIR, default docs/]
import os
import subprocess
import sys
import tempfile

import matplotlib

matplotlib.use("Agg")
build = sys.argv[1]
out = sys.argv[2] if len(sys.argv) > 2 else os.path.join(os.path.dirname(__file__), "..", "docs")
work = tempfile.mkdtemp()
clip = os.path.join(work, "pendulum.avi")
subprocess.run([os.path.join(build, "velmora-clipgen"), clip, "--codec", "mjpeg", "--size",
                "640x480", "--frames", "150", "--fps", "25", "--pattern", "pendulum"],
               check=True, capture_output=True)
# -- example --
import matplotlib.pyplot as plt
import velmora

result = velmora.scan(clip, line=[(40, 140), (320, 190), (600, 140)])
seconds = result.timeline["seconds"]
plt.imshow(result.image, aspect="auto",
           extent=(seconds[0], seconds[-1], result.image.shape[0], 0))
plt.xlabel("seconds")
plt.ylabel("pixels along the line")
# -- end --
plt.title("velmora.scan along a polyline")
path = os.path.join(out, "velmora-python-kymograph.png")
plt.savefig(path, dpi=80)
print("wrote", path, os.path.getsize(path), "bytes")
