#!/usr/bin/env python3
"""Whole files whose own members, tags or atoms start a sector, as disks hold
them: ZIP archives written by zip and by Python's zipfile, HTML and XHTML pages,
and MP4 files from ffmpeg whose media data starts a sector; beside each shape,
the same file with nothing on a sector start. Then 40 ZIP archives of 3 to 3,000
members and 20 pages, each with a later member or tag on a sector start.

Usage: carving_shapes.py TOOLS_FOLDER, run in the folder to fill. The tools'
folder holds ffmpeg's plain.mp4 and fast.mp4."""

import os
import random
import shutil
import struct
import subprocess
import sys
import zipfile

SECTOR = 512
WORDS = "the of disk sector file cluster table folder record image archive member page".split()


def text(rng, n):
    """n bytes of words, which deflate well."""
    out = bytearray()
    while len(out) < n:
        out += (rng.choice(WORDS) + " ").encode()
    return bytes(out[:n])


def data(rng, n):
    return text(rng, n) if rng.random() < 0.5 else rng.randbytes(n)


def header_offsets(path):
    with zipfile.ZipFile(path) as z:
        return [i.header_offset for i in z.infolist()]


def write_zip(path, tool, members, stored, folder):
    """The members (name, bytes) in order; a member named *.pad is stored. zip
    reads them from `folder`, where only the one that changed is written again."""
    if os.path.exists(path):
        os.remove(path)
    if tool == "zip":
        for name, body in members:
            file = os.path.join(folder, name)
            if not os.path.exists(file) or os.path.getsize(file) != len(body):
                with open(file, "wb") as f:
                    f.write(body)
        options = ["-0"] if stored else ["-n", ".pad"]
        names = "\n".join(name for name, _ in members).encode()
        subprocess.run(["zip", "-q", "-X", "-D"] + options + ["-@", os.path.abspath(path)],
                       cwd=folder, input=names, check=True)
    else:
        with zipfile.ZipFile(path, "w") as z:
            for name, body in members:
                kind = zipfile.ZIP_STORED if stored or name.endswith(".pad") else zipfile.ZIP_DEFLATED
                z.writestr(zipfile.ZipInfo(name, (2024, 5, 1, 12, 0, 0)), body, compress_type=kind)


def make_zip(path, tool, count, stored, target, seed):
    """count members of random sizes. The local header of member `target`
    starts at a multiple of 512 from the archive's start; with None, no member
    after the first does. The member before it takes up the difference."""
    rng = random.Random(seed)
    pad = max((target if target is not None else count // 2) - 1, 0)
    sizes = [rng.randint(0, 800) if rng.random() < 0.98 else rng.randint(0, 8000)
             for _ in range(count)]
    members = [("m%04d%s" % (i, ".pad" if i == pad else ".txt"), data(rng, sizes[i]))
               for i in range(count)]
    folder = path + ".members"
    os.makedirs(folder)
    for _ in range(SECTOR):
        write_zip(path, tool, members, stored, folder)
        offsets = header_offsets(path)
        if target is None:
            if all(o % SECTOR for o in offsets[1:]):
                break
            grow = 1
        else:
            grow = -offsets[target] % SECTOR
            if grow == 0:
                break
        name, body = members[pad]
        members[pad] = (name, body + text(rng, grow))
    else:
        sys.exit("no layout found for " + path)
    shutil.rmtree(folder)


def fill(page, at):
    """The page grown to `at` bytes by a comment (or blanks, where none fits)."""
    gap = at - len(page)
    if gap < 0:
        sys.exit("a page's head is longer than %d bytes" % at)
    return page + ("<!--" + "-" * (gap - 7) + "-->" if gap >= 7 else " " * gap)


def make_page(path, rng, title_at, body_at, xhtml, shift=0):
    """A page whose <title and <body tags start at those bytes (None: where they
    come), moved on by `shift` bytes."""
    if xhtml:
        page = ('<?xml version="1.0" encoding="UTF-8"?>\n'
                '<!DOCTYPE html PUBLIC "-//W3C//DTD XHTML 1.0 Strict//EN" '
                '"http://www.w3.org/TR/xhtml1/DTD/xhtml1-strict.dtd">\n'
                '<html xmlns="http://www.w3.org/1999/xhtml">\n<head>\n')
    else:
        page = "<!DOCTYPE html>\n<html>\n<head>\n"
    page += "<meta charset=\"utf-8\"/>\n"
    if title_at is not None:
        page = fill(page, title_at + shift)
    page += "<title>%s</title>\n</head>\n" % text(rng, rng.randint(5, 40)).decode()
    if body_at is not None:
        page = fill(page, body_at + shift)
    page += "<body>\n"
    for _ in range(rng.randint(2, 30)):
        page += "<p>%s</p>\n" % text(rng, rng.randint(10, 600)).decode()
    page += "</body>\n</html>\n"
    with open(path, "w") as f:
        f.write(page)
    starts = [page[at:at + 6].lower() for at in range(SECTOR, len(page), SECTOR)]
    tagged = sum(s.startswith(("<title", "<body", "<html", "<?xml")) for s in starts)
    if tagged != (0 if shift else (title_at is not None) + (body_at is not None)):
        sys.exit("the tags of %s do not start the sectors meant" % path)


def boxes(b, start, end):
    p = start
    while p + 8 <= end:
        size, kind = struct.unpack(">I4s", b[p:p + 8])
        head = 8
        if size == 1:
            size, head = struct.unpack(">Q", b[p + 8:p + 16])[0], 16
        elif size == 0:
            size = end - p
        yield p, size, kind, head
        p += size


def move_chunks(b, start, end, delta):
    for p, size, kind, head in boxes(b, start, end):
        if kind in (b"moov", b"trak", b"mdia", b"minf", b"stbl"):
            move_chunks(b, p + head, p + size, delta)
        elif kind in (b"stco", b"co64"):
            width = 4 if kind == b"stco" else 8
            form = ">I" if width == 4 else ">Q"
            count = struct.unpack(">I", b[p + head + 4:p + head + 8])[0]
            for i in range(count):
                at = p + head + 8 + width * i
                struct.pack_into(form, b, at, struct.unpack(form, b[at:at + width])[0] + delta)


def media_at(source, path, at):
    """The movie with the atom before its media data grown so that the media
    data starts at byte `at`, its chunk offsets moved with it; it plays."""
    b = bytearray(open(source, "rb").read())
    top = list(boxes(b, 0, len(b)))
    i = next(i for i, box in enumerate(top) if box[2] == b"mdat")
    grow = at - top[i][0]
    before, size = top[i - 1][0], top[i - 1][1]
    if grow < 0 or top[i - 1][2] not in (b"free", b"wide") or top[i - 1][3] != 8:
        sys.exit("the media data of %s cannot be moved to %d" % (source, at))
    for p, size_, kind, head in top:
        if kind == b"moov":
            move_chunks(b, p + head, p + size_, grow)
    struct.pack_into(">I", b, before, size + grow)
    b[before + size:before + size] = bytes(grow)
    with open(path, "wb") as f:
        f.write(b)
    subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-xerror", "-i", path, "-f", "null", "-"],
                   check=True)


def main():
    tools = sys.argv[1]
    rng = random.Random(29)

    make_zip("member.zip", "zip", 8, False, 3, 1)
    make_zip("member-plain.zip", "zip", 8, False, None, 1)
    make_zip("last.zip", "zipfile", 8, False, 7, 2)
    make_zip("last-plain.zip", "zipfile", 8, False, None, 2)

    make_page("body.html", random.Random(3), None, 1024, False)
    make_page("body-plain.html", random.Random(3), None, 1024, False, 3)
    make_page("title.html", random.Random(4), 512, None, False)
    make_page("title-plain.html", random.Random(4), 512, None, False, 3)
    make_page("body.xhtml", random.Random(5), None, 1024, True)
    make_page("body-plain.xhtml", random.Random(5), None, 1024, True, 3)

    media_at(os.path.join(tools, "plain.mp4"), "media.mp4", 4096)
    subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                    "testsrc=size=64x48:rate=10:duration=1", "-c:v", "mpeg4", "-moov_size", "4000",
                    "reserved-first.mp4"], check=True)
    media_at("reserved-first.mp4", "reserved.mp4", 4096)
    os.remove("reserved-first.mp4")

    # Member counts spread evenly on a log scale; zip and zipfile, stored and
    # deflated by turns; the member made to start a sector somewhere inside.
    os.makedirs("archives")
    for n in range(40):
        count = round(3 * 1000 ** (n / 39))
        tool = "zip" if n % 2 == 0 else "zipfile"
        stored = n % 4 >= 2
        target = rng.randint(1, count - 1)
        name = "archives/%02d-%s-%s-%d.zip" % (n, tool, "stored" if stored else "deflated", count)
        make_zip(name, tool, count, stored, target, 100 + n)

    os.makedirs("pages")
    for n in range(20):
        xhtml = n % 4 == 3
        title_at = SECTOR * rng.randint(1, 2) if n % 2 == 0 else None
        body_at = (title_at or 0) + SECTOR * rng.randint(1, 2) if n % 3 != 0 or title_at is None \
            else None
        make_page("pages/%02d.%s" % (n, "xhtml" if xhtml else "html"), rng, title_at, body_at, xhtml)


main()
