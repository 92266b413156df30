#!/usr/bin/env python3
"""Writes export.zip and args of each zip_* golden case beside this script.

    tests/data/golden/make_zip_cases.py

The archives are written entry by entry here rather than by a zip program, so
that each one holds exactly the oddity it is about (names without the UTF-8
flag, links, sizes that lie, a flipped byte, traditional encryption) and comes
out byte for byte the same on every run with the same zlib. The tests use the
committed files; nothing here runs at test time. Expected output is made by
the converter: run the golden test with NI_UPDATE_GOLDEN=1 and read the diff.
"""

import dataclasses
import pathlib
import struct
import sys
import unicodedata
import zlib

HERE = pathlib.Path(__file__).resolve().parent
SAMPLE = HERE / "sample_export" / "export"

FILE, FOLDER, LINK = 0o100644, 0o040755, 0o120777
STORED, DEFLATED = 0, 8
ENCRYPTED, DESCRIPTOR, UTF8 = 0x0001, 0x0008, 0x0800
WHEN = (2024, 1, 5, 15, 4, 0)
DEFAULT_ARGS = ["-o", "@OUT@", "@EXPORT@"]
WITH_REPORT = ["-o", "@OUT@", "--report", "@REPORT@", "@EXPORT@"]


@dataclasses.dataclass
class Entry:
    name: bytes | str  # str: UTF-8 with the UTF-8 flag when not ASCII; bytes: as given, no flag
    data: bytes = b""
    mode: int = FILE
    method: int = DEFLATED
    flags: int = 0
    declared_size: int | None = None  # the uncompressed size the headers claim, when it isn't the true one
    password: bytes | None = None  # traditional PKWARE encryption
    mangle: object = None  # changes the compressed bytes after the CRC is taken

    def raw_name(self):
        if isinstance(self.name, bytes):
            return self.name, self.flags
        raw = self.name.encode()
        return raw, self.flags | (UTF8 if not self.name.isascii() else 0)


def deflated(data):
    packer = zlib.compressobj(9, zlib.DEFLATED, -15)
    return packer.compress(data) + packer.flush()


def crc_step(crc, byte):
    return zlib.crc32(bytes([byte]), crc ^ 0xFFFFFFFF) ^ 0xFFFFFFFF


def pkware_encrypted(data, password, check_byte):
    """Traditional PKWARE encryption, with a fixed header so the file doesn't change."""
    keys = [0x12345678, 0x23456789, 0x34567890]

    def update(byte):
        keys[0] = crc_step(keys[0], byte)
        keys[1] = ((keys[1] + (keys[0] & 0xFF)) * 134775813 + 1) & 0xFFFFFFFF
        keys[2] = crc_step(keys[2], keys[1] >> 24)

    for byte in password:
        update(byte)
    out = bytearray()
    for byte in bytes(range(7, 18)) + bytes([check_byte]) + data:
        temp = (keys[2] | 2) & 0xFFFF
        out.append(byte ^ (((temp * (temp ^ 1)) >> 8) & 0xFF))
        update(byte)
    return bytes(out)


def dos_time():
    year, month, day, hour, minute, second = WHEN
    return (hour << 11) | (minute << 5) | (second // 2), ((year - 1980) << 9) | (month << 5) | day


def zip_bytes(entries):
    """The archive, and where each entry's data lies in it (name -> (start, end))."""
    out, central, spans = bytearray(), bytearray(), {}
    time, date = dos_time()
    for entry in entries:
        name, flags = entry.raw_name()
        folder = (entry.mode & 0o170000) == 0o040000
        method = STORED if folder or (entry.mode & 0o170000) == 0o120000 else entry.method
        crc = zlib.crc32(entry.data)
        data = deflated(entry.data) if method == DEFLATED else entry.data
        if entry.mangle:
            data = entry.mangle(data)
        if entry.password is not None:
            flags |= ENCRYPTED
            data = pkware_encrypted(data, entry.password, (time >> 8) if flags & DESCRIPTOR else crc >> 24)
        size = len(entry.data) if entry.declared_size is None else entry.declared_size
        sizes = (crc, len(data), size)
        offset = len(out)
        out += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, flags, method, time, date,
                           *((0, 0, 0) if flags & DESCRIPTOR else sizes), len(name), 0) + name
        spans[entry.name] = (len(out), len(out) + len(data))
        out += data
        if flags & DESCRIPTOR:
            out += struct.pack("<IIII", 0x08074B50, *sizes)
        attributes = (entry.mode << 16) | (0x10 if folder else 0)
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, (3 << 8) | 30, 20, flags, method, time,
                               date, *sizes, len(name), 0, 0, 0, 0, attributes, offset) + name
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries), len(central), len(out), 0)
    return bytes(out + central + end), spans


def note(title, body, *metadata):
    text = title + "\n" + body + "\n"
    return (text + "\n" + "".join(line + "\n" for line in metadata) if metadata else text).encode()


def walked(folder):
    """Each folder before its contents, names in reverse byte order, as a zip
    program walking the disk might meet them: the converter has to sort."""
    for path in sorted(folder.iterdir(), reverse=True):
        yield path
        if path.is_dir():
            yield from walked(path)


def sample_entries(top, folders):
    """The sample export, under the folder top ("" for none), with or without folder entries."""
    entries = []
    for path in walked(SAMPLE):
        name = top + path.relative_to(SAMPLE).as_posix()
        if path.is_dir():
            if folders:
                entries.append(Entry(name + "/", mode=FOLDER))
        else:
            entries.append(Entry(name, path.read_bytes()))
    if folders and top:
        entries.insert(0, Entry(top, mode=FOLDER))
    return entries


def stored(entries):
    for entry in entries:
        entry.method = STORED
    return entries


def apple_double():
    """What a Mac puts in __MACOSX/._name: an AppleDouble header and the Finder's type and creator."""
    header = struct.pack(">II16sH", 0x00051607, 0x00020000, b"Mac OS X        ", 1)
    return header + struct.pack(">III", 9, 38, 32) + b"TEXTttxt" + bytes(24)


DS_STORE = b"\x00\x00\x00\x01Bud1" + bytes(56)
LATTE = (SAMPLE / "Pictures" / "latte.jpg").read_bytes()
LANTERNS = (SAMPLE / "Pictures" / "lanterns.png").read_bytes()
SUITCASE = (SAMPLE / "Travel" / "Pictures" / "suitcase.jpg").read_bytes()
NFD = lambda text: unicodedata.normalize("NFD", text)


def walk_rules():
    evil = note("Evil", "This entry must never be written anywhere.")
    return [
        Entry("Top note.txt", note("Top note", "At the top, its picture in Pictures beside it.",
                                   "Picture: lanterns.png", "Tags: walk, top", "Created: Jan 5, 2024, 3:04 PM")),
        Entry(".DS_Store", DS_STORE),
        Entry("table.csv", b"item,price\nmilk,1.20\n"),
        Entry("Link.txt", b"Top note.txt", mode=LINK),
        Entry("Linked picture.txt", note("Linked picture", "Its picture is a link entry.", "Picture: link.png")),
        Entry("Pictures/link.png", b"lanterns.png", mode=LINK),
        Entry("Group/", mode=FOLDER),
        Entry("Group/Grouped.txt", note("Grouped", "In a group; the Mac wrote its picture's name decomposed.",
                                        "Picture: café.jpg")),
        Entry("Group/.DS_Store", DS_STORE),
        Entry("Group/Pictures/", mode=FOLDER),
        Entry(NFD("Group/Pictures/café.jpg"), LATTE, method=STORED),
        Entry("Group/Deeper/", mode=FOLDER),
        Entry("Group/Deeper/Too deep.txt", note("Too deep", "Two folders down: not converted.")),
        Entry("/etc/evil.txt", evil),
        Entry("C:\\evil.txt", evil),
        Entry("A: list.txt", note("A: list", "A colon second is no drive letter: a name like any other.")),
        Entry("../evil.txt", evil),
        Entry("Group/../../evil.txt", evil),
        Entry("Gr\x81\xe1e.txt".encode("latin-1"), note("Grüße", "Named in CP437 (ü, ß) by an old zip program.")),
        Entry("Résumé.txt", note("Résumé", "Its name carries the UTF-8 flag.", "Tags: cv")),
        Entry("Pictures/lanterns.png", LANTERNS, method=STORED),
        Entry("__MACOSX/", mode=FOLDER),
        Entry("__MACOSX/._Top note.txt", apple_double()),
        Entry("__MACOSX/Group/", mode=FOLDER),
        Entry("__MACOSX/Group/._Grouped.txt", apple_double()),
    ]


def mac_folder():
    """A folder compressed in the Mac's Finder: UTF-8 names, decomposed, without the UTF-8 flag;
    sizes in a data descriptor after each entry; the resource forks in __MACOSX."""
    top, picture = "Notes/", NFD("Crème brûlée.jpg")
    entries = [
        Entry(top, mode=FOLDER),
        Entry(top + "Dessert.txt", note("Dessert", "The picture's name is decomposed in the archive.",
                                        "Picture: Crème brûlée.jpg", "Tags: recipes")),
        Entry(top + ".DS_Store", DS_STORE),
        Entry(top + "Pictures/", mode=FOLDER),
        Entry(top + "Pictures/" + picture, LATTE),
        Entry(top + "Home/", mode=FOLDER),
        Entry(top + NFD("Home/Café.txt"), note(NFD("Café"), "A note whose own name is decomposed.")),
        Entry("__MACOSX/", mode=FOLDER),
        Entry("__MACOSX/" + top, mode=FOLDER),
        Entry("__MACOSX/" + top + "._Dessert.txt", apple_double()),
        Entry("__MACOSX/" + top + "Pictures/", mode=FOLDER),
        Entry("__MACOSX/" + top + "Pictures/._" + picture, apple_double()),
    ]
    for entry in entries:
        entry.name = entry.name.encode()  # the Finder sets no UTF-8 flag
        entry.flags |= DESCRIPTOR
    return entries


def truncated():
    """Cut halfway through the last entry's data: the picture, which a reader that
    only looks at headers before copying would otherwise take short."""
    archive, spans = zip_bytes([
        Entry("Note.txt", note("Note", "Its picture is cut short.", "Picture: suitcase.jpg")),
        Entry("Pictures/suitcase.jpg", SUITCASE, method=STORED),
    ])
    start, end = spans["Pictures/suitcase.jpg"]
    return archive[: (start + end) // 2]


CORRUPT_TEXT = note("Corrupt", "Every line of this note is plain text, " * 40, "Tags: damaged")


def flipped(data):
    """One byte of the deflated data inverted, where the stream still inflates to
    text of the same length, so that only the CRC tells."""
    for at in range(len(data) // 2, len(data)):
        changed = data[:at] + bytes([data[at] ^ 0xFF]) + data[at + 1:]
        try:
            text = zlib.decompress(changed, -15)
        except zlib.error:
            continue
        if len(text) == len(CORRUPT_TEXT) and text != CORRUPT_TEXT and text.isascii():
            return changed
    sys.exit("no byte to flip that keeps the stream valid")


BIG_TEXT = note("Big", "A" * (4 << 20))

CASES = {
    "zip_sample_export": (WITH_REPORT, lambda: zip_bytes(sample_entries("Notara Export/", True))[0]),
    "zip_sample_stored": (DEFAULT_ARGS, lambda: zip_bytes(stored(sample_entries("", False)))[0]),
    "zip_walk_rules": (WITH_REPORT, lambda: zip_bytes(walk_rules())[0]),
    "zip_mac_folder": (DEFAULT_ARGS, lambda: zip_bytes(mac_folder())[0]),
    "zip_empty": (DEFAULT_ARGS, lambda: zip_bytes([])[0]),
    "zip_truncated": (WITH_REPORT, truncated),
    "zip_corrupt": (DEFAULT_ARGS, lambda: zip_bytes([
        Entry("Fine.txt", note("Fine", "Read before the damaged one.")),
        Entry("Corrupt.txt", CORRUPT_TEXT, mangle=flipped),
    ])[0]),
    "zip_size_lie": (DEFAULT_ARGS, lambda: zip_bytes([
        Entry("Fine.txt", note("Fine", "Read before the one that lies.")),
        Entry("Liar.txt", note("Liar", "Its headers say it is 100 bytes; it inflates to more. " * 50),
              declared_size=100),
    ])[0]),
    "zip_bomb": (DEFAULT_ARGS, lambda: zip_bytes([
        Entry("Fine.txt", note("Fine", "A note of ordinary size.")),
        Entry("Big.txt", BIG_TEXT),
    ])[0]),
    "zip_encrypted": (DEFAULT_ARGS, lambda: zip_bytes([
        Entry("Open.txt", note("Open", "Not encrypted.")),
        Entry("Secret.txt", note("Secret", "Encrypted with the password \u201csecret\u201d."), password=b"secret"),
    ])[0]),
    "zip_keep_going": (["--keep-going"] + DEFAULT_ARGS, lambda: zip_bytes([
        Entry("Good.txt", note("Good", "Converted.")),
        Entry("Bad.txt", b"Bad\n\xff\xfe not UTF-8\n"),
        Entry("Good.txt", note("Good again", "A second entry of the same name: left out, with a notice.")),
        Entry("Wide.txt", "\ufeffWide\nUTF-16 with a byte-order mark.\n".encode("utf-16-le")),
        Entry("Shows a note.txt", note("Shows a note", "Its picture is a note of the Pictures folder.",
                                       "Picture: Shown.txt")),
        Entry("Pictures/Shown.txt", note("Shown", "A note, and another note's picture.")),
    ])[0]),
    "zip_not_a_zip": (DEFAULT_ARGS, lambda: note("Not a zip", "Plain text in a file named export.zip.")),
}


def main():
    for case, (args, make) in CASES.items():
        folder = HERE / case
        folder.mkdir(exist_ok=True)
        (folder / "export.zip").write_bytes(make())
        (folder / "args").write_text("".join(arg + "\n" for arg in args))
    # Both zipped samples must give the folder's tree: theirs is that very file.
    for case in ("zip_sample_export", "zip_sample_stored"):
        if not (HERE / case / "tree").is_symlink():
            (HERE / case / "tree").symlink_to("../sample_export/tree")
    dry_run = HERE / "zip_sample_dry_run"
    dry_run.mkdir(exist_ok=True)
    if not (dry_run / "export.zip").is_symlink():
        (dry_run / "export.zip").symlink_to("../zip_sample_export/export.zip")
    (dry_run / "args").write_text("-n\n-o\n@OUT@\n@EXPORT@\n")


if __name__ == "__main__":
    main()
