# SPDX-License-Identifier: GPL-3.0-or-later
"""--viewer's page opened from file:// in headless Chromium, driven by its DevTools protocol:
what it draws at the deepest level and over the whole image is the image's own pixels
there, and the pointer over a column shows that column's row of the timeline.
77 (skipped) without Chromium or python3-websocket, unless CI=true.
  viewer_in_chromium.py VELMORA_SCAN VELMORA_CLIPGEN"""
import base64, json, os, re, shutil, subprocess, sys, tempfile, time, urllib.request
from datetime import datetime

try:
    import websocket
except ImportError:
    websocket = None
chromium = shutil.which("chromium")
if websocket is None or chromium is None:
    print("chromium or python3-websocket is not installed", file=sys.stderr)
    sys.exit(1 if os.environ.get("CI") == "true" else 77)


def png_pixels(png):
    """The colour (r, g, b) at (x, y) of a PNG, as FFmpeg decodes it."""
    raw = subprocess.run(["ffmpeg", "-v", "error", "-f", "png_pipe", "-i", "-", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
                         input=png, capture_output=True, check=True).stdout
    width = int.from_bytes(png[16:20], "big")
    return lambda x, y: tuple(raw[3 * (y * width + x):3 * (y * width + x) + 3])


scan, clipgen = sys.argv[1:3]
work = tempfile.mkdtemp()
origin = "2026-12-07T18:00:10Z"
# Column k is frame 13 k (red 13 k: each column apart from its neighbours) cut at x = k / 999
# of 255 (green: a ramp across the image); blue is the row.
subprocess.run([clipgen, f"{work}/c.avi", "--codec", "mjpeg", "--size", "256x48", "--frames", "13000"], check=True, stdout=subprocess.DEVNULL)
subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", f"{work}/c.avi", "-c", "copy", "-metadata", "creation_time=2026-12-07T18:00:00.25Z", f"{work}/clip.mkv"], check=True)
run = [scan, "-q", "--every", "13", "--slit", "0..255", f"{work}/clip.mkv"]
subprocess.run(run + [f"{work}/image.png"], check=True)
subprocess.run(run + ["--tile-format", "png", "--viewer", "--timeline", f"{work}/t.csv", "--time-origin", origin, f"{work}/image.dzi"], check=True)
image = png_pixels(open(f"{work}/image.png", "rb").read())
timeline = [line.split(",") for line in open(f"{work}/t.csv").read().splitlines()[1:]]

browser = subprocess.Popen([chromium, "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                            "--remote-debugging-port=0", "--remote-allow-origins=*",
                            f"--user-data-dir={work}/profile", f"file://{work}/image.html"], stderr=subprocess.PIPE, text=True)
failures = []
try:
    port = next(m.group(1) for line in browser.stderr if (m := re.search(r"ws://[^:]+:(\d+)/", line)))
    page = next(t for t in json.load(urllib.request.urlopen(f"http://127.0.0.1:{port}/json/list")) if t["type"] == "page")
    ws = websocket.create_connection(page["webSocketDebuggerUrl"], suppress_origin=True)

    def call(method, **params):
        ws.send(json.dumps({"id": 1, "method": method, "params": params}))
        while (reply := json.loads(ws.recv())).get("id") != 1:  # events are not asked for
            pass
        return reply.get("result", {})

    def js(expression):
        return call("Runtime.evaluate", expression=expression, returnByValue=True, awaitPromise=True).get("result", {}).get("value")

    def view(how):
        """Sets the view (once the page has made its viewer) and waits until its tiles are drawn."""
        for _ in range(200):
            js(f"velmoraViewer.viewport.{how}")
            if js("new Promise(r => requestAnimationFrame(() => requestAnimationFrame(() => r(window.velmoraViewer && velmoraViewer.world.getItemCount() && velmoraViewer.world.getItemAt(0).getFullyLoaded()))))"):
                return png_pixels(base64.b64decode(call("Page.captureScreenshot", format="png")["data"]))
            time.sleep(0.05)
        sys.exit("the tiles did not load")

    def screen(x, y):
        p = js(f"(p => [p.x, p.y])(velmoraViewer.viewport.imageToViewerElementCoordinates(new OpenSeadragon.Point({x}, {y})))")
        return int(p[0]), int(p[1])

    call("Emulation.setDeviceMetricsOverride", width=400, height=300, deviceScaleFactor=1, mobile=False)
    column = 777  # in the fourth column of tiles at the deepest level
    cases = [("whole image", "goHome(true)", [(x, 24) for x in (40, 260, 500, 760, 960)], (1, 2)),
             ("deepest level", f"zoomTo(velmoraViewer.viewport.imageToViewportZoom(8), null, true); "
              f"velmoraViewer.viewport.panTo(velmoraViewer.viewport.imageToViewportCoordinates({column}, 24), true)",
              [(x, y) for x in range(column - 3, column + 4) for y in (20, 28)], (0, 1, 2))]
    for name, how, points, channels in cases:
        shot = view(how)
        for x, y in points:
            sx, sy = screen(x + 0.5, y + 0.5)
            drawn, own = shot(sx, sy), image(x, y)
            if any(abs(drawn[c] - own[c]) > 4 for c in channels):
                failures.append(f"{name}: column {x} row {y} drawn {drawn}, the image has {own}")
    pointed = column + 2
    sx, sy = screen(pointed + 0.5, 24)
    call("Input.dispatchMouseEvent", type="mouseMoved", x=sx, y=sy)
    shown = js("['strip', 'frame', 'clock', 'seconds', 'since'].map(id => document.getElementById(id).textContent)")
    row = [r for r in timeline if int(r[1]) <= pointed][-1]  # the last strip that starts by it
    since = datetime.fromisoformat(row[4]) - datetime.fromisoformat(origin)
    micros = since.days * 86400_000_000 + since.seconds * 1_000_000 + since.microseconds
    want = [row[0], row[2], row[4], row[3] + " s", f"{'-' if micros < 0 else ''}{abs(micros) // 1_000_000}.{abs(micros) % 1_000_000:06d} s"]
    if shown != want:
        failures.append(f"under the pointer at column {pointed}: {shown}, the timeline says {want}")
finally:
    browser.kill()
    browser.wait()
    shutil.rmtree(work, ignore_errors=True)
for failure in failures:
    print("FAIL:", failure, file=sys.stderr)
sys.exit(1 if failures else 0)
