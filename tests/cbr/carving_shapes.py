#!/usr/bin/env python3
"""Whole files whose own members, tags or atoms start a sector, as disks hold
them: ZIP archives written by zip and by Python's zipfile, HTML and XHTML pages,
and MP4 files from ffmpeg whose media data starts a sector; beside each shape,
the same file with nothing on a sector start. Then 40 ZIP archives of 3 to 3,000
members and 20 pages, each with a later member or tag on a sector start, and 40
small movies of a card, each with its media data or movie atom on one.

Usage: carving_shapes.py TOOLS_FOLDER, run in the folder to fill. The tools'
folder holds ffmpeg's plain.mp4 and fast.mp4."""

import concurrent.futures
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


def atom_at(b, kind, at):
    """The movie with its top-level atom `kind` moved on to byte `at`: the free
    space before it grown, or a free atom put in before it; where the media
    data moves, its chunk offsets move with it."""
    top = list(boxes(b, 0, len(b)))
    i = next(i for i, box in enumerate(top) if box[2] == kind)
    p = top[i][0]
    grow = at - p
    growable = i > 0 and top[i - 1][2] in (b"free", b"wide") and top[i - 1][3] == 8
    if grow < 0 or (not growable and 0 < grow < 8):
        sys.exit("the atom %s cannot be moved to %d" % (kind.decode(), at))
    media = next(box[0] for box in top if box[2] == b"mdat")
    b = bytearray(b)
    if p <= media:
        for q, size, name, head in top:
            if name == b"moov":
                move_chunks(b, q + head, q + size, grow)
    if growable:
        struct.pack_into(">I", b, top[i - 1][0], top[i - 1][1] + grow)
        b[p:p] = bytes(grow)
    elif grow:
        b[p:p] = struct.pack(">I4s", grow, b"free") + bytes(grow - 8)
    return b


def plays(path):
    subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-xerror", "-i", path, "-f", "null", "-"],
                   check=True)


def media_at(source, path, at):
    """The movie with the atom before its media data grown so that the media
    data starts at byte `at`, its chunk offsets moved with it; it plays."""
    b = open(source, "rb").read()
    top = list(boxes(b, 0, len(b)))
    i = next(i for i, box in enumerate(top) if box[2] == b"mdat")
    if top[i - 1][2] not in (b"free", b"wide") or top[i - 1][3] != 8:
        sys.exit("the media data of %s cannot be moved to %d" % (source, at))
    with open(path, "wb") as f:
        f.write(atom_at(b, b"mdat", at))
    plays(path)


def make_movie(n):
    """Movie n of a card: MPEG-4 video of a size, rate, length and quality of
    its own, in a MOV file mostly with PCM sound or in an MP4 file, some with
    the movie atom first; its media data or its movie atom moved on to the next
    sector start. It plays."""
    rng = random.Random(3600 + n)
    mov = rng.random() < 0.6
    width, height = rng.choice([(64, 48), (96, 64), (128, 96), (160, 120), (176, 144)])
    seconds = "%.2f" % rng.uniform(0.2, 1.5)
    source = rng.choice(["testsrc", "testsrc2", "rgbtestsrc", "smptebars"])
    command = ["ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
               "%s=size=%dx%d:rate=%d" % (source, width, height, rng.choice([5, 10, 15, 25]))]
    sound = mov and rng.random() < 0.7
    if sound:
        command += ["-f", "lavfi", "-i", "sine=frequency=%d:sample_rate=%d" % (
            rng.randint(200, 900), rng.choice([8000, 11025, 22050]))]
    command += ["-t", seconds, "-c:v", "mpeg4", "-q:v", str(rng.randint(2, 20))]
    if sound:
        command += ["-c:a", rng.choice(["pcm_s16be", "pcm_s16le", "pcm_u8"])]
    if rng.random() < 0.4:
        command += ["-movflags", "+faststart"]
    path = "movies/%02d.%s" % (n, "mov" if mov else "mp4")
    first = "movies/first-" + path[len("movies/"):]
    subprocess.run(command + [first], check=True)
    b = open(first, "rb").read()
    os.remove(first)
    kind = b"mdat" if rng.random() < 0.5 else b"moov"
    start = next(box[0] for box in boxes(b, 0, len(b)) if box[2] == kind)
    at = start if start % SECTOR == 0 else (start + 8 + SECTOR - 1) // SECTOR * SECTOR
    with open(path, "wb") as f:
        f.write(atom_at(b, kind, at))
    plays(path)


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

    os.makedirs("movies")
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        list(pool.map(make_movie, range(40)))

    os.makedirs("pages")
    for n in range(20):
        xhtml = n % 4 == 3
        title_at = SECTOR * rng.randint(1, 2) if n % 2 == 0 else None
        body_at = (title_at or 0) + SECTOR * rng.randint(1, 2) if n % 3 != 0 or title_at is None \
            else None
        make_page("pages/%02d.%s" % (n, "xhtml" if xhtml else "html"), rng, title_at, body_at, xhtml)


main()
