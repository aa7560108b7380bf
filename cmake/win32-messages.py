#!/usr/bin/env python3
"""Writes the Win32 error texts of a PE file's message table (RT_MESSAGETABLE) as C++ table rows.

    win32-messages.py <module.dll> <output.inc>

Each row is {code, "text"}, for the codes below 65536 that have a text, in the table's English (US)
language, or its first one; the text as FormatMessage gives it without inserts, trailing line
breaks and blanks removed, in UTF-8.
"""
import struct
import sys

RT_MESSAGETABLE = 11
ENGLISH_US = 0x409


def message_table(image):
    def u16(at):
        return struct.unpack_from("<H", image, at)[0]

    def u32(at):
        return struct.unpack_from("<I", image, at)[0]

    pe = u32(0x3C)
    if image[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    sections, optional_size = u16(pe + 6), u16(pe + 20)
    optional = pe + 24
    directories = optional + (112 if u16(optional) == 0x20B else 96)
    resource_rva = u32(directories + 2 * 8)
    table = [struct.unpack_from("<IIII", image, optional + optional_size + 40 * i + 8) for i in range(sections)]

    def offset(rva):
        for size, address, raw_size, raw in table:
            if address <= rva < address + max(size, raw_size):
                return raw + rva - address
        raise ValueError("address %#x outside every section" % rva)

    root = offset(resource_rva)

    def entries(directory):
        count = u16(directory + 12) + u16(directory + 14)
        return [struct.unpack_from("<II", image, directory + 16 + 8 * i) for i in range(count)]

    def subdirectory(directory, wanted):
        for name, target in entries(directory):
            if name == wanted and target & 0x80000000:
                return root + (target & 0x7FFFFFFF)
        raise ValueError("no resource entry %#x" % wanted)

    names = subdirectory(root, RT_MESSAGETABLE)
    languages = root + (entries(names)[0][1] & 0x7FFFFFFF)
    found = dict((name, target) for name, target in entries(languages))
    data = root + found.get(ENGLISH_US, entries(languages)[0][1])
    start = offset(u32(data))
    for block in range(u32(start)):
        low, high, at = struct.unpack_from("<III", image, start + 4 + 12 * block)
        at += start
        for code in range(low, high + 1):
            length, flags = u16(at), u16(at + 2)
            text = image[at + 4:at + length]
            text = text.decode("utf-16-le" if flags & 1 else "cp1252").split("\0")[0]
            yield code, text.rstrip("\r\n ")
            at += length


def literal(text):
    out = []
    for byte in text.encode("utf-8"):
        char = chr(byte)
        out.append(char if 32 <= byte < 127 and char not in '"\\?' else "\\%03o" % byte)
    return '"' + "".join(out) + '"'


def main(module, output):
    with open(module, "rb") as f:
        image = f.read()
    rows = ["{%du, %s}," % (code, literal(text)) for code, text in message_table(image) if code < 0x10000 and text]
    if not rows:
        raise ValueError("%s has no message table rows" % module)
    with open(output, "w") as f:
        f.write("\n".join(rows) + "\n")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
