#!/usr/bin/env python3
"""Names outside ASCII, end to end: vexa reads and writes UTF-8 on Linux, the volumes
hold UTF-16 (8.3 names in code page 437). Latin-1, CJK and emoji (surrogate pairs)
names, lookups in another case, an 8.3 name with code page 437 bytes, puts read back
by mtools and exfat-fuse and checked with fsck, names that are not valid UTF-8
refused, and a lone surrogate on disk named as an error with its folder. On exFAT,
Japanese names that differ only in their last character, in fragmented files, are
each counted once and all defragmented.

    names_test.py --stage DIR GROUP      GROUP: fat, exfat

Exit 0 passed, 1 failed, 77 skipped (a tool, root or FUSE is missing).
"""
import argparse
import json
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "platform", "exfat"))
from cli_test import (MB, Failure, Install, check, check_fsck_clean, image_hash, mtools_env,  # noqa: E402
                      need_tools, run_tool)

SKIP = 77
LATIN = "\u00d1and\u00fa.bin"                       # Ñandú.bin
CJK = "\u65e5\u672c\u8a9e\u306e\u30d5\u30a1\u30a4\u30eb.txt"  # 日本語のファイル.txt
PUT_MIXED = "\u00d1and\u00fa \u2013 \u65e5\u672c\u8a9e.bin"   # Ñandú – 日本語.bin
PUT_EMOJI = "\U0001f600 smile.bin"                   # 😀 smile.bin
PUT_UMLAUT = "\u00dcn\u00efcode \u00df.txt"          # Ünïcode ß.txt


def utf8_env():
    env = mtools_env()
    env["LC_ALL"] = "C.UTF-8"
    return env


def host_file(work, name, size, seed):
    path = os.path.join(work, name)
    with open(path, "wb") as f:
        f.write(random.Random(seed).randbytes(size))
    return path


def json_lines(text):
    return [json.loads(line) for line in text.splitlines() if line.startswith("{")]


def lfn_entries(image, start, length):
    """(long name or None, 8.3 bytes) of each short entry in `length` bytes of folder
    entries at `start`; long names decoded with lone surrogates kept."""
    with open(image, "rb") as f:
        f.seek(start)
        data = f.read(length)
    out = []
    parts = {}
    for at in range(0, len(data), 32):
        e = data[at:at + 32]
        if e[0] == 0:
            break
        if e[0] == 0xE5:
            parts = {}
            continue
        if e[11] & 0x3F == 0x0F:
            units = e[1:11] + e[14:26] + e[28:32]
            parts[e[0] & 0x1F] = units
            continue
        if e[11] & 0x08:
            parts = {}
            continue
        name = None
        if parts:
            raw = b"".join(parts[k] for k in sorted(parts))
            name = raw.decode("utf-16-le", "surrogatepass").split("\0")[0]
        out.append((name, e[0:11]))
        parts = {}
    return out


def give_long_name(image, short11, attribute, name):
    """Gives the entry `short11` (the last of its folder, with free slots after it in
    its cluster) the long name `name`: LFN entries where it stood, the entry after them."""
    with open(image, "r+b") as f:
        data = f.read()
        at = data.index(short11 + bytes([attribute]))
        entry = data[at:at + 32]
        units = name.encode("utf-16-le")
        units += b"\0\0" if len(units) // 2 % 13 else b""
        while len(units) // 2 % 13:
            units += b"\xff\xff"
        parts = len(units) // 26
        check(data[at + 32:at + 32 * (parts + 1)] == bytes(32 * parts), "no room after " + repr(short11))
        total = 0
        for c in short11:
            total = (((total & 1) << 7) + (total >> 1) + c) & 0xFF
        out = b""
        for k in range(parts, 0, -1):
            chunk = units[(k - 1) * 26:k * 26]
            out += bytes([k | (0x40 if k == parts else 0)]) + chunk[0:10] + b"\x0f\x00" + bytes([total]) + \
                chunk[10:22] + b"\0\0" + chunk[22:26]
        f.seek(at)
        f.write(out + entry)


def enumerate_entries(image, start, length):
    """(slot index, first 11 bytes) of every folder entry slot."""
    with open(image, "rb") as f:
        f.seek(start)
        data = f.read(length)
    return [(at // 32, data[at:at + 11]) for at in range(0, len(data), 32)]


def fat16_root(image):
    with open(image, "rb") as f:
        b = f.read(64)
    sector = struct.unpack_from("<H", b, 11)[0]
    reserved = struct.unpack_from("<H", b, 14)[0]
    fats = b[16]
    root_entries = struct.unpack_from("<H", b, 17)[0]
    fat_sectors = struct.unpack_from("<H", b, 22)[0]
    return (reserved + fats * fat_sectors) * sector, root_entries * 32


def vexa(install, *args):
    return install.run(*args)


def group_fat(install, work):
    need_tools("mkfs.fat", "mcopy", "mdir", "mmd", "fsck.fat")
    image = os.path.join(work, "names.img")
    with open(image, "wb") as f:
        f.truncate(64 * MB)  # the engine defragments with 50 MiB free
    run_tool("mkfs.fat", "-F", "16", "-s", "8", "-n", "NAMES", image)
    volume = "C=" + image
    env = utf8_env()
    latin = host_file(work, "latin.bin", 5000, 1)
    cjk = host_file(work, "cjk.bin", 7000, 2)
    subprocess.run(["mcopy", "-i", image, latin, "::" + LATIN], check=True, env=env)
    subprocess.run(["mcopy", "-i", image, cjk, "::" + CJK], check=True, env=env)
    cafe = host_file(work, "CAFE.TXT", 100, 3)
    subprocess.run(["mcopy", "-i", image, cafe, "::CAFE.TXT"], check=True, env=env)
    subprocess.run(["mmd", "-i", image, "::DOCS"], check=True, env=env)
    broken = host_file(work, "broken.bin", 300, 4)
    subprocess.run(["mcopy", "-i", image, broken, "::DOCS/Broken name.bin"], check=True, env=env)
    # The 8.3 name CAF<0x90>.TXT: code page 437 byte 0x90 is É.
    root, root_size = fat16_root(image)
    with open(image, "r+b") as f:
        f.seek(root + 32 * [i for i, e in enumerate_entries(image, root, root_size) if e == b"CAFE    TXT"][0] + 3)
        f.write(b"\x90")
    check_fsck_clean(image)

    # Every name read as UTF-8, each file once.
    result = vexa(install, "--json", "check", "C", "--volume", volume)
    check(result.returncode == 0, "check: %d %s" % (result.returncode, result.stderr))
    paths = sorted(line["path"] for line in json_lines(result.stdout))
    want = sorted(["C:\\" + LATIN, "C:\\" + CJK, "C:\\CAF\u00c9.TXT", "C:\\DOCS\\Broken name.bin"])
    check(paths == want, "check lists %s, expected %s" % (paths, want))

    # Lookups in another case: Unicode simple case folding, long names and 8.3 names.
    for typed, stored in (("C:\\\u00f1AND\u00da.BIN", LATIN), ("C:\\caf\u00e9.txt", "CAF\u00c9.TXT"),
                          ("C:\\" + CJK.upper(), CJK)):
        result = vexa(install, "--json", "check", "C", typed, "--volume", volume)
        lines = json_lines(result.stdout)
        check(result.returncode == 0 and [l["path"] for l in lines] == ["C:\\" + stored],
              "%s: %d %s %s" % (typed, result.returncode, result.stdout, result.stderr))

    # Long names: a file of 255 CJK characters (765 bytes of UTF-8) in a folder of 200,
    # in pieces: listed with its whole path (more than 999 bytes), then joined. mtools
    # takes no names this long, so its entries are given their long names here.
    long_folder = "\u6587" * 200
    long_file = "\u66f8" * 251 + ".bin"
    gap = host_file(work, "gap", 4096, 8)
    for name in ("GAPA.BIN", "GAPB.BIN", "GAPC.BIN"):
        subprocess.run(["mcopy", "-i", image, gap, "::" + name], check=True, env=env)
    subprocess.run(["mmd", "-i", image, "::LONGDIR"], check=True, env=env)
    subprocess.run(["mdel", "-i", image, "::GAPB.BIN"], check=True, env=env)
    big = host_file(work, "big", 30000, 9)
    subprocess.run(["mcopy", "-i", image, big, "::LONGDIR/LONG.BIN"], check=True, env=env)
    give_long_name(image, b"LONG    BIN", 0x20, long_file)
    give_long_name(image, b"LONGDIR    ", 0x10, long_folder)
    check_fsck_clean(image)
    long_path = "C:\\" + long_folder + "\\" + long_file

    def long_pieces():
        result = vexa(install, "--json", "check", "C", "--volume", volume)
        lines = [l for l in json_lines(result.stdout) if l["path"] == long_path]
        check(len(lines) == 1, "the long name is not listed whole: %s" % result.stdout[-3000:])
        return lines[0]["pieces"]

    check(long_pieces() > 1, "the long-named file is not in pieces: the fixture is wrong")
    result = vexa(install, "defrag", "C", "--volume", volume)
    check(result.returncode == 0, "defrag: %d %s %s" % (result.returncode, result.stdout, result.stderr))
    check(long_pieces() == 1, "the long-named file was not joined")
    check_fsck_clean(image)
    out = os.path.join(work, "back")
    subprocess.run(["mcopy", "-n", "-i", image, "::LONGDIR/LONG.BIN", out], check=True, env=env)
    with open(out, "rb") as a, open(big, "rb") as b:
        check(a.read() == b.read(), "the long-named file reads back other bytes")
    os.remove(out)

    # put: the UTF-8 name stored as UTF-16 with the alias Windows forms.
    sources = {}
    for name, size, seed in ((PUT_MIXED, 9000, 5), (PUT_EMOJI, 3000, 6), (PUT_UMLAUT, 1000, 7)):
        source = host_file(work, "src%d" % seed, size, seed)
        sources[name] = source
        result = vexa(install, "put", "C", source, "C:\\" + name, "--volume", volume)
        check(result.returncode == 0, "put %s: %d %s" % (name, result.returncode, result.stderr))
    check_fsck_clean(image)
    names = dict(lfn_entries(image, root, root_size))
    check(names.get(PUT_MIXED) == b"\xa5AND__~1BIN", "alias of %s: %r" % (PUT_MIXED, names.get(PUT_MIXED)))
    check(names.get(PUT_EMOJI) == b"__SMIL~1BIN", "alias of %s: %r" % (PUT_EMOJI, names.get(PUT_EMOJI)))
    check(names.get(PUT_UMLAUT) == b"\x9aN_COD~1TXT", "alias of %s: %r" % (PUT_UMLAUT, names.get(PUT_UMLAUT)))
    listing = subprocess.run(["mdir", "-i", image, "::"], check=True, capture_output=True, env=env).stdout.decode("utf-8", "replace")
    for name in (PUT_MIXED, PUT_UMLAUT, LATIN, CJK):
        check(name in listing, "mdir does not show %s:\n%s" % (name, listing))
    # mtools shows no character beyond the BMP (its own limit): the emoji file is read
    # back by its alias, its long name above from the entries themselves.
    for name, source in sources.items():
        out = os.path.join(work, "back")
        typed = "__SMIL~1.BIN" if name == PUT_EMOJI else name
        subprocess.run(["mcopy", "-n", "-i", image, "::" + typed, out], check=True, env=env)
        with open(out, "rb") as a, open(source, "rb") as b:
            check(a.read() == b.read(), "%s reads back other bytes" % name)
        os.remove(out)

    # Names that are not UTF-8 are refused before anything is written.
    before = image_hash(image)
    result = subprocess.run([install.program, "put", "C", latin, b"C:\\caf\xe9.bin", "--volume", volume],
                            capture_output=True, env=install_env(install))
    check(result.returncode != 0 and b"not valid UTF-8" in result.stderr,
          "a Latin-1 name: %d %r" % (result.returncode, result.stderr))
    check(image_hash(image) == before, "a refused put changed the image")

    # A lone surrogate on disk: an error that names its folder; nothing is moved.
    with open(image, "r+b") as f:
        raw = f.read()
        at = raw.index("Broke".encode("utf-16-le"))
        f.seek(at)
        f.write(b"\x00\xd8")
    result = vexa(install, "analyze", "C", "--volume", volume)
    text = result.stdout + result.stderr
    check("a long name in folder \\DOCS is not valid UTF-16" in text, "lone surrogate: %d %s" % (result.returncode, text))
    result = vexa(install, "defrag", "C", "--volume", volume)
    check(result.returncode != 0 and "not valid UTF-16" in result.stderr,
          "defrag of a volume with a lone surrogate: %d %s %s" % (result.returncode, result.stdout, result.stderr))

    # A long name no path can carry (a '/' written by something else): named, not skipped.
    image = os.path.join(work, "slash.img")
    with open(image, "wb") as f:
        f.truncate(16 * MB)
    run_tool("mkfs.fat", "-F", "16", image)
    subprocess.run(["mmd", "-i", image, "::DOCS"], check=True, env=env)
    subprocess.run(["mcopy", "-i", image, broken, "::DOCS/Slash name.bin"], check=True, env=env)
    with open(image, "r+b") as f:
        raw = f.read()
        f.seek(raw.index("name.".encode("utf-16-le")))
        f.write("/".encode("utf-16-le"))
    result = vexa(install, "analyze", "C", "--volume", "C=" + image)
    text = result.stdout + result.stderr
    check("a long name in folder \\DOCS holds a character no path can carry" in text, "slash: %s" % text)

    # Two long names that are one name in any case: named, never merged into one file.
    image = os.path.join(work, "twins.img")
    with open(image, "wb") as f:
        f.truncate(16 * MB)
    run_tool("mkfs.fat", "-F", "16", image)
    subprocess.run(["mmd", "-i", image, "::DOCS"], check=True, env=env)
    for name in ("File one.bin", "File onf.bin"):
        subprocess.run(["mcopy", "-i", image, broken, "::DOCS/" + name], check=True, env=env)
    with open(image, "r+b") as f:
        raw = f.read()
        f.seek(raw.index("onf".encode("utf-16-le")) + 4)
        f.write("E".encode("utf-16-le"))
    result = vexa(install, "analyze", "C", "--volume", "C=" + image)
    text = result.stdout + result.stderr
    check("folder \\DOCS holds two entries named File one.bin" in text, "twins: %s" % text)


def install_env(install):
    env = dict(os.environ)
    env.pop("VEXA_VOLUMES", None)
    return env


def group_exfat(install, work):
    import exfat_jobs_test as ex
    ex.need_tools()
    image = os.path.join(work, "card.img")
    with open(image, "wb") as f:
        f.truncate(96 << 20)
    subprocess.run(["mkfs.exfat", "-c", "4096", "-L", "CARD", image], check=True, capture_output=True)
    rng = random.Random(11)
    folder = "\u5199\u771f"  # 写真
    # Names that differ only in their last character, grown in turns so each is in pieces.
    japanese = ["\u65c5\u884c\u306e\u5199\u771f" + c + ".jpg" for c in "\u4e00\u4e8c\u4e09\u56db"]  # 旅行の写真一..四
    # The longest name Linux passes: 85 CJK characters, 255 bytes.
    others = [LATIN, PUT_EMOJI, "\u00e9t\u00e9.bin", "\u97f3" * 81 + ".mp3"]
    with ex.Mount(image, os.path.join(work, "fill")) as m:
        os.makedirs(os.path.join(m.folder, folder))
        paths = [os.path.join(m.folder, folder, n) for n in japanese] + [os.path.join(m.folder, n) for n in others]
        # Whole clusters in turns: more than ten pieces each, so the report lists them.
        for _ in range(12):
            for path in paths:
                with open(path, "ab") as f:
                    f.write(rng.randbytes(4096 * rng.randint(1, 3)))
                    f.flush()
                    os.fsync(f.fileno())
        for k in range(6):
            with open(os.path.join(m.folder, "pad %d.bin" % k), "wb") as f:
                f.write(rng.randbytes(20000))
        os.remove(os.path.join(m.folder, "pad 1.bin"))
        os.remove(os.path.join(m.folder, "pad 3.bin"))
    ex.fsck_clean(image)
    volume = "C=" + image
    hashes = ex.fuse_hashes(image, work)
    before = ex.chains(image)
    fragmented = [p for p, (c, _, _) in before.items() if ex.pieces(c) > 1]
    for name in japanese:
        check(folder + "/" + name in fragmented, "%s is not fragmented: the fixture is wrong" % name)

    # Each file counted once, by its own name.
    a = install.analysis(image)
    check(int(a["scannedFiles"]) == len(hashes), "scanned %s files, the mount shows %d" % (a["scannedFiles"], len(hashes)))
    found = int(a["bigFragmentFiles"]) + int(a["smallFragmentFiles"])
    check(found == len(fragmented), "the engine finds %d fragmented files, the chains show %d" % (found, len(fragmented)))
    # The report page declares UTF-8 and holds the names so.
    with open(a["page"], "rb") as f:
        page = f.read().decode("utf-8")
    for name in japanese:
        check(name in page, "the analysis report does not show %s" % name)
    result = install.run("--json", "check", "C", "--volume", volume)
    listed = sorted(l["path"][3:].replace("\\", "/") for l in json_lines(result.stdout))
    check(listed == sorted(hashes), "check lists %s, the mount shows %s" % (listed, sorted(hashes)))
    # Another case, through the volume's up-case table.
    result = install.run("--json", "check", "C", "C:\\\u00f1AND\u00da.BIN", "--volume", volume)
    check([l["path"] for l in json_lines(result.stdout)] == ["C:\\" + LATIN],
          "lookup in another case: %d %s %s" % (result.returncode, result.stdout, result.stderr))

    # Every fragmented file joined (those whose entry set straddles two sectors excepted).
    result = install.run("--json", "defrag", "C", "--volume", volume)
    check(result.returncode == 0, "defrag: %d %s %s" % (result.returncode, result.stdout, result.stderr))
    ex.fsck_clean(image)
    check(ex.fuse_hashes(image, work) == hashes, "file contents changed")
    after = ex.chains(image)
    kept = [p for p, (c, _, straddles) in before.items() if ex.pieces(c) > 1 and straddles]
    for path in fragmented:
        if path not in kept:
            check(ex.pieces(after[path][0]) == 1, "%s is still in %d pieces" % (path, ex.pieces(after[path][0])))
    # What stays in pieces is named, with its reason.
    left = {}
    for line in json_lines(result.stdout):
        for entry in line.get("leftFragmented") or []:
            left[entry["path"][3:].replace("\\", "/")] = entry["reason"]
    check(left == {p: "entrySpansSectors" for p in kept}, "left in pieces: %s; straddling: %s" % (left, kept))

    # put: the names read back through exfat-fuse exactly as given.
    sources = {}
    for name, seed in ((PUT_MIXED, 21), ("\U0001f3b5 " + japanese[0], 22)):
        source = host_file(work, "src%d" % seed, 12000, seed)
        sources[name] = source
        result = install.run("put", "C", source, "C:\\" + folder + "\\" + name, "--volume", volume)
        check(result.returncode == 0, "put %s: %d %s" % (name, result.returncode, result.stderr))
    ex.fsck_clean(image)
    with ex.Mount(image, os.path.join(work, "read"), read_only=True) as m:
        present = os.listdir(os.path.join(m.folder, folder))
        for name, source in sources.items():
            check(name in present, "exfat-fuse does not show %s: %s" % (name, present))
            with open(os.path.join(m.folder, folder, name), "rb") as a, open(source, "rb") as b:
                check(a.read() == b.read(), "%s reads back other bytes" % name)
    before_hash = image_hash(image)
    result = subprocess.run([install.program, "put", "C", sources[PUT_MIXED], b"C:\\\xff.bin", "--volume", volume],
                            capture_output=True, env=install_env(install))
    check(result.returncode != 0 and b"not valid UTF-8" in result.stderr,
          "an invalid name: %d %r" % (result.returncode, result.stderr))
    check(image_hash(image) == before_hash, "a refused put changed the image")

    # A lone surrogate on disk (the entry set's checksum made right again): an error
    # that names the folder, and no write job.
    with open(image, "r+b") as f:
        data = f.read()
        unit = data.index((japanese[0][:-4]).encode("utf-16-le")) + 2 * (len(japanese[0]) - 5)
        name_entry = unit - (unit % 32)
        start = name_entry - 64
        check(data[start] == 0x85 and data[name_entry] == 0xC1, "the entry set of %s was not found" % japanese[0])
        entry_set = bytearray(data[start:start + 32 * (data[start + 1] + 1)])
        entry_set[unit - start:unit - start + 2] = b"\x00\xd8"
        total = 0
        for i, byte in enumerate(entry_set):
            if i not in (2, 3):
                total = (((total << 15) | (total >> 1)) + byte) & 0xFFFF
        entry_set[2:4] = struct.pack("<H", total)
        f.seek(start)
        f.write(entry_set)
    result = install.run("analyze", "C", "--volume", volume)
    text = result.stdout + result.stderr
    check("a name in folder \\" + folder + " is not valid UTF-16" in text, "lone surrogate: %d %s" % (result.returncode, text))
    result = install.run("defrag", "C", "--volume", volume)
    check(result.returncode != 0 and "not valid UTF-16" in result.stderr,
          "defrag with a lone surrogate: %d %s %s" % (result.returncode, result.stdout, result.stderr))


GROUPS = {"fat": group_fat, "exfat": group_exfat}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--stage", required=True)
    parser.add_argument("group", choices=sorted(GROUPS))
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="vexa_names_")
    try:
        if args.group == "exfat":
            import exfat_jobs_test as ex
            install = ex.Install(args.stage, work)
        else:
            install = Install(args.stage, work)
        GROUPS[args.group](install, work)
    except Failure as e:
        print("FAILED: %s" % e)
        return 1
    except Exception as e:  # an exFAT helper's own Failure class
        if type(e).__name__ != "Failure":
            raise
        print("FAILED: %s" % e)
        return 1
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
