# make_pictures.py OUTDIR: sample pictures NAME.EXT, the pixels PIL reads
# from each (NAME.rgba: "W H\n", RGBA rows top-down) and manifest.txt with
# "NAME EXT TOLERANCE" lines. What PIL cannot write (interlaced PNG, 4-bit,
# bit-field and top-down bitmaps) is written by hand; PIL reads them all.
import os, struct, sys, zlib

from PIL import Image

W, H = 13, 7


colour = lambda x, y: ((x * 37 + y * 11) % 256, (x * 5 + y * 53) % 256, (x * y * 29 + 7) % 256)


def interlaced_png(img):
    # Adam7, filter 0 on every row.
    passes = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]
    raw = b""
    for x0, y0, dx, dy in passes:
        xs = range(x0, img.width, dx)
        for y in range(y0, img.height, dy):
            if len(xs):
                raw += b"\0" + b"".join(bytes(img.getpixel((x, y))) for x in xs)

    chunk = lambda kind, data: struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    ihdr = struct.pack(">IIBBBBB", img.width, img.height, 8, 2, 0, 0, 1)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")


def dib_file(bits, rows, palette=(), masks=(), top_down=False):
    # A whole .bmp; rows of packed row bytes, top row first.
    stride = (W * bits + 31) // 32 * 4
    data = b"".join(r.ljust(stride, b"\0") for r in (rows if top_down else rows[::-1]))
    compression = 3 if masks else 0
    pal = b"".join(bytes((b, g, r, 0)) for r, g, b in palette) + b"".join(struct.pack("<I", m) for m in masks)
    header = struct.pack("<IiiHHIIiiII", 40, W, -H if top_down else H, 1, bits, compression, len(data),
                         2835, 2835, len(palette), 0)
    off = 14 + len(header) + len(pal)
    return b"BM" + struct.pack("<IHHI", off + len(data), 0, 0, off) + header + pal + data


def main(out):
    os.makedirs(out, exist_ok=True)
    samples = []

    def save(name, ext, picture, tolerance=0, **kw):  # a PIL image or the file's bytes
        path = os.path.join(out, name + "." + ext)
        open(path, "wb").write(picture) if isinstance(picture, bytes) else picture.save(path, **kw)
        samples.append((name, ext, tolerance))

    rgb = Image.new("RGB", (W, H))
    rgb.putdata([colour(x, y) for y in range(H) for x in range(W)])
    pal = rgb.quantize(colors=12)
    save("png_palette", "png", pal, transparency=3)
    save("png_grey_alpha", "png", Image.merge("LA", (rgb.getchannel(0), rgb.getchannel(1))))
    save("png_grey16", "png", Image.frombytes("I;16", (W, H), b"".join(
        struct.pack("<H", colour(x, y)[0] * 257) for y in range(H) for x in range(W))))
    save("png_interlaced", "png", interlaced_png(rgb))
    save("bmp_1", "bmp", rgb.convert("1"))
    save("bmp_8", "bmp", pal)
    save("bmp_24", "bmp", rgb)
    save("bmp_32", "bmp", rgb.convert("RGBA"))
    idx = [[(x + y) % 16 for x in range(W)] for y in range(H)]
    palette16 = [colour(i, 3) for i in range(16)]
    save("bmp_4", "bmp", dib_file(4, [bytes(r[i] << 4 | (r + [0])[i + 1] for i in range(0, W, 2)) for r in idx], palette16))
    pixels = [b"".join(struct.pack("<I", r << 24 | g << 16 | b << 8) for x in range(W)
                       for r, g, b in [colour(x, y)]) for y in range(H)]
    save("bmp_bitfields", "bmp", dib_file(32, pixels, masks=(0xFF000000, 0xFF0000, 0xFF00)))
    save("bmp_top_down", "bmp", dib_file(8, [bytes(r) for r in idx], palette16, top_down=True))
    save("jpeg_grey", "jpg", rgb.convert("L"), 1, quality=90)
    save("jpeg_progressive", "jpg", rgb, 1, quality=90, progressive=True)

    with open(os.path.join(out, "manifest.txt"), "w") as manifest:
        for name, ext, tolerance in samples:
            img = Image.open(os.path.join(out, name + "." + ext))
            if img.mode in ("I", "I;16"):
                img = img.point(lambda v: v / 257).convert("L")
            img = img.convert("RGBA")
            with open(os.path.join(out, name + ".rgba"), "wb") as f:
                f.write(b"%d %d\n" % img.size + img.tobytes())
            manifest.write("%s %s %d\n" % (name, ext, tolerance))


if __name__ == "__main__":
    main(sys.argv[1])
