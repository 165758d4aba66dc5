#!/usr/bin/env python3
"""Draws ternbell's artwork and writes its default sound and animation.

Everything is drawn here from simple shapes, so the pictures are our own and
can be regenerated. Needs Python's standard library; the animation also needs
the ffmpeg command. The outputs are committed, so a build never runs this.

    python3 resources/make-artwork.py
"""

import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import wave
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ART = os.path.join(HERE, "artwork")
RUNTIME = os.path.join(HERE, "runtime")

# --------------------------------------------------------------------------
# A tiny vector rasteriser: shapes are signed distance functions in pixel
# units; every pixel is supersampled, so 16x16 pictures come out smooth.


def sd_circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def sd_box(x0, y0, x1, y1, radius=0.0):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - radius, (y1 - y0) / 2 - radius

    def f(x, y):
        dx, dy = abs(x - cx) - hx, abs(y - cy) - hy
        outside = math.hypot(max(dx, 0.0), max(dy, 0.0))
        return outside + min(max(dx, dy), 0.0) - radius
    return f


def sd_segment(ax, ay, bx, by, half_width):
    def f(x, y):
        px, py, vx, vy = x - ax, y - ay, bx - ax, by - ay
        t = max(0.0, min(1.0, (px * vx + py * vy) / (vx * vx + vy * vy)))
        return math.hypot(px - vx * t, py - vy * t) - half_width
    return f


def sd_polygon(points):
    points = [q for i, q in enumerate(points) if q != points[i - 1]]
    n = len(points)

    def f(x, y):
        best = float("inf")
        inside = False
        for i in range(n):
            ax, ay = points[i]
            bx, by = points[(i + 1) % n]
            vx, vy = bx - ax, by - ay
            px, py = x - ax, y - ay
            t = max(0.0, min(1.0, (px * vx + py * vy) / (vx * vx + vy * vy)))
            best = min(best, math.hypot(px - vx * t, py - vy * t))
            if (ay > y) != (by > y) and x < ax + (y - ay) * vx / vy:
                inside = not inside
        return -best if inside else best
    return f


def union(*fs):
    return lambda x, y: min(f(x, y) for f in fs)


def subtract(a, b):
    return lambda x, y: max(a(x, y), -b(x, y))


def rotated(f, cx, cy, degrees):
    c, s = math.cos(math.radians(degrees)), math.sin(math.radians(degrees))

    def g(x, y):
        dx, dy = x - cx, y - cy
        return f(cx + dx * c + dy * s, cy - dx * s + dy * c)
    return g


def solid(rgba):
    return lambda x, y: rgba


def vertical(top, bottom, y0, y1):
    def paint(x, y):
        t = max(0.0, min(1.0, (y - y0) / (y1 - y0)))
        return tuple(a + (b - a) * t for a, b in zip(top, bottom))
    return paint


def horizontal(left, right, x0, x1):
    def paint(x, y):
        t = max(0.0, min(1.0, (x - x0) / (x1 - x0)))
        return tuple(a + (b - a) * t for a, b in zip(left, right))
    return paint


class Canvas:
    def __init__(self, width, height, background=(0, 0, 0, 0)):
        self.width, self.height = width, height
        self.layers = []
        self.background = background

    def fill(self, sdf, paint, grow=0.0):
        """Paints where sdf < grow; grow > 0 draws an outline around a later fill."""
        self.layers.append((sdf, paint if callable(paint) else solid(paint), grow))

    def render(self, samples=4, filter_=None):
        pixels = []
        step = 1.0 / samples
        for py in range(self.height):
            row = []
            for px in range(self.width):
                acc = [0.0, 0.0, 0.0, 0.0]  # premultiplied
                for sy in range(samples):
                    for sx in range(samples):
                        x, y = px + (sx + 0.5) * step, py + (sy + 0.5) * step
                        r, g, b, a = self.background
                        a /= 255.0
                        r, g, b = r * a, g * a, b * a
                        for sdf, paint, grow in self.layers:
                            if sdf(x, y) < grow:
                                cr, cg, cb, ca = paint(x, y)
                                ca /= 255.0
                                r = cr * ca + r * (1 - ca)
                                g = cg * ca + g * (1 - ca)
                                b = cb * ca + b * (1 - ca)
                                a = ca + a * (1 - ca)
                        acc[0] += r
                        acc[1] += g
                        acc[2] += b
                        acc[3] += a
                n = samples * samples
                a = acc[3] / n
                if a > 0:
                    rgba = [acc[0] / n / a, acc[1] / n / a, acc[2] / n / a, a * 255]
                else:
                    rgba = [0, 0, 0, 0]
                if filter_:
                    rgba = filter_(rgba)
                row.append(tuple(max(0, min(255, int(round(c)))) for c in rgba))
            pixels.append(row)
        return pixels


def greyed(rgba):
    r, g, b, a = rgba
    lum = 0.3 * r + 0.59 * g + 0.11 * b
    v = lum * 0.6 + 85
    return [v, v, v, a * 0.9]


# --------------------------------------------------------------------------
# File writers


def png_bytes(pixels):
    height, width = len(pixels), len(pixels[0])
    raw = b"".join(b"\0" + bytes(c for px in row for c in px) for row in pixels)

    def chunk(tag, data):
        return (struct.pack(">I", len(data)) + tag + data
                + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF))
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    print("wrote", os.path.relpath(path, HERE), len(data), "bytes")


def ico_bytes(images):
    """An .ico of 32-bit DIB entries (BGRA plus the AND mask), readable everywhere."""
    entries, blobs = [], []
    offset = 6 + 16 * len(images)
    for pixels in images:
        h, w = len(pixels), len(pixels[0])
        header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0, 0, 0, 0, 0, 0)
        xor = b"".join(bytes((b, g, r, a)) for row in reversed(pixels) for r, g, b, a in row)
        mask_stride = ((w + 31) // 32) * 4
        mask = b""
        for row in reversed(pixels):
            bits = bytearray(mask_stride)
            for x, px in enumerate(row):
                if px[3] == 0:
                    bits[x // 8] |= 0x80 >> (x % 8)
            mask += bytes(bits)
        blob = header + xor + mask
        entries.append(struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(blob), offset))
        blobs.append(blob)
        offset += len(blob)
    return struct.pack("<HHH", 0, 1, len(images)) + b"".join(entries) + b"".join(blobs)


# --------------------------------------------------------------------------
# The motifs. Each draws into a canvas at a given size; coordinates are in
# units of a 16-pixel grid scaled by s.

GOLD_LIGHT = (255, 226, 120, 255)
GOLD_DARK = (214, 140, 20, 255)
BELL_LINE = (110, 62, 8, 255)
PAPER = (255, 255, 255, 255)
PAPER_SHADE = (222, 230, 242, 255)
ENVELOPE_LINE = (70, 92, 130, 255)
RED = (214, 38, 38, 255)
WHITE = (255, 255, 255, 255)


def bell_shape(s, ox=0.0, oy=0.0, scale=1.0):
    k = s * scale

    def p(x, y):
        return (ox + x * k, oy + y * k)
    # Dome and flared sides as one outline, a rim below, a clapper under it.
    side = [(5.0, 6.0), (4.7, 8.5), (4.1, 10.3), (2.9, 11.6)]
    outline = [p(8.0 - 3.0 * math.cos(math.radians(a)), 6.0 - 3.6 * math.sin(math.radians(a)))
               for a in range(0, 181, 15)]
    outline += [p(16.0 - x, y) for x, y in side]
    outline += [p(x, y) for x, y in reversed(side)]
    body = sd_polygon(outline)
    rim = sd_box(*p(2.2, 11.2), *p(13.8, 12.9), radius=0.8 * k)
    knob = sd_circle(*p(8.0, 2.1), 1.1 * k)
    clapper = sd_circle(*p(8.0, 13.5), 1.5 * k)
    return union(body, rim, knob), clapper, k


def draw_bell(canvas, s, ox=0.0, oy=0.0, scale=1.0, line=None):
    shape, clapper, k = bell_shape(s, ox, oy, scale)
    w = line if line is not None else max(0.55, 0.8 * k / s)
    canvas.fill(clapper, BELL_LINE, grow=w)
    canvas.fill(clapper, GOLD_DARK)
    canvas.fill(shape, BELL_LINE, grow=w)
    canvas.fill(shape, horizontal(GOLD_LIGHT, GOLD_DARK, ox + 4.0 * k, ox + 13.0 * k))
    # A highlight down the left of the body.
    canvas.fill(sd_segment(ox + 6.1 * k, oy + 4.4 * k, ox + 5.4 * k, oy + 9.6 * k, 0.45 * k),
                (255, 248, 210, 200))


def draw_envelope(canvas, s, ox=0.0, oy=0.0, scale=1.0):
    k = s * scale
    x0, y0, x1, y1 = ox + 1.0 * k, oy + 3.5 * k, ox + 15.0 * k, oy + 13.0 * k
    body = sd_box(x0, y0, x1, y1, radius=0.6 * k)
    w = max(0.5, 0.7 * k / s)
    canvas.fill(body, ENVELOPE_LINE, grow=w)
    canvas.fill(body, vertical(PAPER, PAPER_SHADE, y0, y1))
    mid = (x0 + x1) / 2
    flap_w = max(0.4, 0.45 * k / s)
    canvas.fill(sd_segment(x0 + 0.5 * k, y0 + 0.5 * k, mid, y0 + 5.0 * k, flap_w), ENVELOPE_LINE)
    canvas.fill(sd_segment(x1 - 0.5 * k, y0 + 0.5 * k, mid, y0 + 5.0 * k, flap_w), ENVELOPE_LINE)
    canvas.fill(sd_segment(x0 + 0.5 * k, y1 - 0.5 * k, mid - 2.4 * k, y0 + 4.0 * k, flap_w * 0.7),
                (150, 165, 190, 255))
    canvas.fill(sd_segment(x1 - 0.5 * k, y1 - 0.5 * k, mid + 2.4 * k, y0 + 4.0 * k, flap_w * 0.7),
                (150, 165, 190, 255))


def draw_cross_badge(canvas, cx, cy, r):
    canvas.fill(sd_circle(cx, cy, r), WHITE, grow=max(0.5, r * 0.14))
    canvas.fill(sd_circle(cx, cy, r), vertical((240, 80, 70, 255), (180, 20, 20, 255), cy - r, cy + r))
    d, w = r * 0.45, max(0.55, r * 0.16)
    canvas.fill(sd_segment(cx - d, cy - d, cx + d, cy + d, w), WHITE)
    canvas.fill(sd_segment(cx - d, cy + d, cx + d, cy - d, w), WHITE)


def tray_pictures():
    idle = Canvas(16, 16)
    draw_bell(idle, 1.0)
    grey = Canvas(16, 16)
    draw_bell(grey, 1.0)
    error = Canvas(16, 16)
    draw_bell(error, 1.0, ox=-1.0, oy=-0.5, scale=0.9)
    draw_cross_badge(error, 11.4, 11.4, 4.2)
    return [idle.render(), grey.render(filter_=greyed), error.render()]


def application_icon(size):
    s = size / 16.0
    c = Canvas(size, size)
    back = sd_box(0.4 * s, 0.4 * s, 15.6 * s, 15.6 * s, radius=3.0 * s)
    c.fill(back, (30, 60, 120, 255), grow=max(0.5, 0.4 * s))
    c.fill(back, vertical((80, 150, 230, 255), (30, 80, 170, 255), 0, size))
    draw_bell(c, s, ox=1.0 * s, oy=1.2 * s, scale=0.875)
    return c.render(samples=4 if size <= 48 else 3)


def about_background(width, height):
    c = Canvas(width, height, background=(20, 50, 110, 255))
    c.fill(sd_box(0, 0, width, height), vertical((40, 90, 170, 255), (10, 30, 80, 255), 0, height))
    # Soft rings, as of a bell's sound spreading out.
    for i, r in enumerate((30, 55, 80, 105, 130)):
        ring = subtract(sd_circle(width * 0.5, height * 0.62, r + 1.5),
                        sd_circle(width * 0.5, height * 0.62, r - 1.5))
        c.fill(ring, (255, 255, 255, 40 - i * 6))
    shape, clapper, _ = bell_shape(1.0, ox=width * 0.5 - 24, oy=height * 0.62 - 30, scale=3.0)
    c.fill(union(shape, clapper), (255, 255, 255, 46))
    return c.render(samples=2)


def list_icons():
    error = Canvas(16, 16)
    draw_cross_badge(error, 8.0, 8.0, 6.6)
    message = Canvas(16, 16)
    draw_envelope(message, 1.0)
    new = Canvas(16, 16)
    draw_envelope(new, 1.0, oy=1.0, scale=0.92)
    star = []
    for i in range(10):
        r = 3.6 if i % 2 == 0 else 1.6
        a = math.radians(-90 + i * 36)
        star.append((12.0 + r * math.cos(a), 4.2 + r * math.sin(a)))
    new.fill(sd_polygon(star), (150, 80, 0, 255), grow=0.6)
    new.fill(sd_polygon(star), (255, 200, 40, 255))
    return [error.render(), message.render(), new.render()]


def new_mail_icon(size):
    s = size / 16.0
    c = Canvas(size, size)
    draw_envelope(c, s, ox=-0.4 * s, oy=-1.6 * s)
    draw_bell(c, s, ox=6.8 * s, oy=6.6 * s, scale=0.56, line=max(0.5, 0.5 * s))
    return c.render()


# --------------------------------------------------------------------------
# Sound: a short two-note chime with inharmonic bell partials.


def chime_wav(path, rate=16000):
    notes = [(0.00, 1318.5, 0.9), (0.16, 1046.5, 1.0)]
    partials = [(1.0, 1.0), (2.0, 0.45), (2.76, 0.25), (5.4, 0.08)]
    length = int(rate * 0.75)
    samples = []
    for n in range(length):
        t = n / rate
        v = 0.0
        for start, freq, gain in notes:
            dt = t - start
            if dt < 0:
                continue
            attack = min(1.0, dt / 0.004)
            for mult, amp in partials:
                if freq * mult < rate / 2:
                    v += gain * amp * attack * math.exp(-dt * (5.0 + 2.0 * mult)) \
                        * math.sin(2 * math.pi * freq * mult * dt)
        fade = min(1.0, (length - n) / (rate * 0.05))
        samples.append(int(max(-1.0, min(1.0, v * 0.33 * fade)) * 32767))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(struct.pack("<%dh" % len(samples), *samples))
    print("wrote", os.path.relpath(path, HERE), os.path.getsize(path), "bytes")


# --------------------------------------------------------------------------
# Animation: a bell swinging on a white ground, one swing every 8 frames, so
# the first 8 frames loop seamlessly; 12 frames in all.


def animation_frames(count=12, width=72, height=62):
    frames = []
    scale = 2.4
    ox, oy = (width - 16 * scale) / 2, (height - 16 * scale) / 2 - 1
    for i in range(count):
        angle = 22.0 * math.sin(2 * math.pi * i / 8.0)
        c = Canvas(width, height, background=(255, 255, 255, 255))
        shape, clapper, k = bell_shape(1.0, ox=ox, oy=oy, scale=scale)
        pivot = (ox + 8.0 * k, oy + 2.0 * k)
        swung_clapper = rotated(rotated(clapper, *pivot, angle * 0.6), *pivot, angle)
        c.fill(swung_clapper, BELL_LINE, grow=1.2)
        c.fill(swung_clapper, GOLD_DARK)
        c.fill(rotated(shape, *pivot, angle), BELL_LINE, grow=1.4)
        c.fill(rotated(shape, *pivot, angle), horizontal(GOLD_LIGHT, GOLD_DARK, ox + 4 * k, ox + 13 * k))
        # Sound marks on the side the bell swings to.
        if abs(angle) > 15:
            side = -1 if angle < 0 else 1
            for j, r in enumerate((0.0, 4.0, 8.0)):
                cx = width / 2 + side * (22.0 + r)
                cy = oy + 8.0 * k
                c.fill(sd_segment(cx, cy - 5 - r * 0.5, cx + side * 2.0, cy + 5 + r * 0.5, 0.9),
                       (80, 110, 170, 255 - j * 60))
        frames.append(c.render(samples=3))
    return frames


def animation_avi(path):
    ffmpeg = shutil.which("ffmpeg")
    if not ffmpeg:
        sys.exit("ffmpeg is needed for the animation")
    with tempfile.TemporaryDirectory() as tmp:
        for i, frame in enumerate(animation_frames()):
            with open(os.path.join(tmp, "f%02d.png" % i), "wb") as f:
                f.write(png_bytes(frame))
        subprocess.run([ffmpeg, "-v", "error", "-y", "-framerate", "8",
                        "-i", os.path.join(tmp, "f%02d.png"),
                        "-c:v", "mjpeg", "-q:v", "3", "-pix_fmt", "yuvj420p",
                        "-an", "-map_metadata", "-1", "-fflags", "+bitexact",
                        "-flags", "+bitexact", path], check=True)
    print("wrote", os.path.relpath(path, HERE), os.path.getsize(path), "bytes")


def main():
    for i, pixels in enumerate(tray_pictures()):
        write(os.path.join(ART, "tray-%d.png" % i), png_bytes(pixels))
    for size in (16, 24, 32, 48, 64, 128):
        write(os.path.join(ART, "app-%d.png" % size), png_bytes(application_icon(size)))
    write(os.path.join(ART, "about-background.png"), png_bytes(about_background(120, 240)))
    for i, pixels in enumerate(list_icons()):
        write(os.path.join(ART, "list-%d.png" % i), png_bytes(pixels))
    write(os.path.join(RUNTIME, "newmsg.ico"), ico_bytes([new_mail_icon(16), new_mail_icon(32)]))
    chime_wav(os.path.join(RUNTIME, "notify.wav"))
    animation_avi(os.path.join(RUNTIME, "notify.avi"))


if __name__ == "__main__":
    main()
