#!/usr/bin/env python3
"""Writes the starting seeds in fuzz/corpus: valid files of every image
variant that the parsers read, and random inputs for the other targets
(their inputs are parameters, so any bytes are valid). Deterministic and
additive: the inputs merged in from long runs (libFuzzer -merge=1) stay.
Needs Pillow (Debian's /usr/bin/python3 has it)."""
import io
import os
import random

from PIL import Image

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def write(target, name, data):
    d = os.path.join(ROOT, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def picture(mode, w, h):
    img = Image.new("L", (w, h))
    img.putdata([((x // 3 + y // 3) % 2) * 200 + 20 for y in range(h) for x in range(w)])
    return img.convert(mode)


def main():
    rng = random.Random(12)
    g = picture("L", 13, 9)
    write("image_pnm", "grey.pgm", b"P5\n# comment\n13 9\n255\n" + g.tobytes())
    write("image_pnm", "colour.ppm", b"P6 13 9 255\n" + picture("RGB", 13, 9).tobytes())
    write("image_pnm", "sixteen.pgm", b"P5 4 2 1000\n" + bytes(rng.randrange(4) for _ in range(16)))
    for mode in ("L", "LA", "RGB", "RGBA", "P", "1"):
        for interlace in (0, 1):
            buf = io.BytesIO()
            picture(mode, 13, 9).save(buf, "PNG", interlace=interlace)
            write("image_png", f"{mode}{'-interlaced' if interlace else ''}.png", buf.getvalue())
    for mode in ("L", "RGB", "CMYK"):
        for progressive in (False, True):
            buf = io.BytesIO()
            picture(mode, 17, 11).save(buf, "JPEG", quality=80, progressive=progressive)
            write("image_jpeg", f"{mode}{'-progressive' if progressive else ''}.jpg", buf.getvalue())
    buf = io.BytesIO()
    picture("RGB", 17, 11).save(buf, "JPEG", quality=80, subsampling=2)
    write("image_jpeg", "420.jpg", buf.getvalue())
    w, h = 6, 4
    frame = bytes(range(w * h))
    write("image_y4m", "mono.y4m", f"YUV4MPEG2 W{w} H{h} F25:1 Cmono\n".encode() + 2 * (b"FRAME\n" + frame))
    chroma = bytes(2 * (w // 2) * (h // 2))
    write("image_y4m", "420.y4m", f"YUV4MPEG2 W{w} H{h} C420jpeg\n".encode() + b"FRAME\n" + frame + chroma)
    write("image_y4m", "444.y4m", f"YUV4MPEG2 W{w} H{h} C444 Ip\n".encode() + b"FRAME X=1\n" + frame + 2 * frame)

    # Parameter-driven targets: random inputs of a few lengths.
    for t, count, sizes in (("read_frame", 24, (40, 400)), ("decode_chain", 24, (8, 600)),
                            ("reed_solomon", 24, (8, 300))):
        for i in range(count):
            n = rng.randint(*sizes)
            write(t, f"seed-{i:02d}", bytes(rng.randrange(256) for _ in range(n)))


if __name__ == "__main__":
    main()
