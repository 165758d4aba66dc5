#!/usr/bin/env python3
"""Writes the application icon sizes that only the installed menu entry uses.

icons/ternbell.svg is the same drawing as the PNG sizes that
resources/make-artwork.py renders (a rounded blue square with the bell on it),
given as vector shapes in the same 16-unit grid and with the same colours, so
every size matches; icons/ternbell-256.png is rendered by that script's own
code. The outputs are committed, so a build never runs this.

    python3 data/make-icons.py
"""

import importlib.util
import math
import os

HERE = os.path.dirname(os.path.abspath(__file__))
spec = importlib.util.spec_from_file_location(
    "artwork", os.path.join(HERE, "..", "resources", "make-artwork.py"))
art = importlib.util.module_from_spec(spec)
spec.loader.exec_module(art)


def rgb(c):
    return "#%02x%02x%02x" % c[:3]


def opacity(c):
    return "%.3g" % (c[3] / 255.0)


def num(v):
    return ("%.3f" % v).rstrip("0").rstrip(".")


def bell(ox, oy, k):
    """The bell of application_icon(): body, rim and knob, the clapper, the highlight."""
    def p(x, y):
        return (ox + x * k, oy + y * k)
    side = [(5.0, 6.0), (4.7, 8.5), (4.1, 10.3), (2.9, 11.6)]
    outline = [p(8.0 - 3.0 * math.cos(math.radians(a)), 6.0 - 3.6 * math.sin(math.radians(a)))
               for a in range(0, 181, 15)]
    outline += [p(16.0 - x, y) for x, y in side]
    outline += [p(x, y) for x, y in reversed(side)]
    body = '<polygon points="%s"/>' % " ".join("%s,%s" % (num(x), num(y)) for x, y in outline)
    x0, y0 = p(2.2, 11.2)
    x1, y1 = p(13.8, 12.9)
    rim = '<rect x="%s" y="%s" width="%s" height="%s" rx="%s"/>' % (
        num(x0), num(y0), num(x1 - x0), num(y1 - y0), num(0.8 * k))
    kx, ky = p(8.0, 2.1)
    knob = '<circle cx="%s" cy="%s" r="%s"/>' % (num(kx), num(ky), num(1.1 * k))
    cx, cy = p(8.0, 13.5)
    clapper = '<circle cx="%s" cy="%s" r="%s"/>' % (num(cx), num(cy), num(1.5 * k))
    hx0, hy0 = p(6.1, 4.4)
    hx1, hy1 = p(5.4, 9.6)
    highlight = '<line x1="%s" y1="%s" x2="%s" y2="%s"/>' % (num(hx0), num(hy0), num(hx1), num(hy1))
    return body + rim + knob, clapper, highlight, (ox + 4.0 * k, ox + 13.0 * k)


def main():
    k = 0.875
    # The PNGs outline the bell with a line of a fixed 0.7 pixel; at the 128
    # pixel size that is 0.7 / 8 units of the grid.
    line = 0.7 / 8
    shape, clapper, highlight, (gx0, gx1) = bell(1.0, 1.2, k)
    svg = f'''<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="128" height="128" viewBox="0 0 16 16">
  <defs>
    <linearGradient id="back" x1="0" y1="0" x2="0" y2="16" gradientUnits="userSpaceOnUse">
      <stop offset="0" stop-color="{rgb((80, 150, 230))}"/>
      <stop offset="1" stop-color="{rgb((30, 80, 170))}"/>
    </linearGradient>
    <linearGradient id="gold" x1="{num(gx0)}" y1="0" x2="{num(gx1)}" y2="0" gradientUnits="userSpaceOnUse">
      <stop offset="0" stop-color="{rgb(art.GOLD_LIGHT)}"/>
      <stop offset="1" stop-color="{rgb(art.GOLD_DARK)}"/>
    </linearGradient>
  </defs>
  <rect x="0.4" y="0.4" width="15.2" height="15.2" rx="3" fill="url(#back)" stroke="{rgb((30, 60, 120))}" stroke-width="0.8" paint-order="stroke"/>
  <g fill="none" stroke="{rgb(art.BELL_LINE)}" stroke-width="{num(2 * line)}" stroke-linejoin="round">{clapper}</g>
  <g fill="{rgb(art.GOLD_DARK)}">{clapper}</g>
  <g fill="none" stroke="{rgb(art.BELL_LINE)}" stroke-width="{num(2 * line)}" stroke-linejoin="round">{shape}</g>
  <g fill="url(#gold)">{shape}</g>
  <g stroke="#fff8d2" stroke-opacity="0.784" stroke-width="{num(0.9 * k)}" stroke-linecap="round">{highlight}</g>
</svg>
'''
    path = os.path.join(HERE, "icons", "ternbell.svg")
    with open(path, "w") as f:
        f.write(svg)
    print("wrote", os.path.relpath(path, HERE), len(svg), "bytes")
    art.write(os.path.join(HERE, "icons", "ternbell-256.png"), art.png_bytes(art.application_icon(256)))


if __name__ == "__main__":
    main()
