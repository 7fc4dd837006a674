#!/usr/bin/env python3
"""Copies a rich-text document for the resource script and appends the zero
byte that ends it in the program: the program reads the documents as
zero-terminated text.

    TerminateRtf.py SOURCE.rtf OUTPUT

The documents are ANSI RTF: anything beyond 7-bit ASCII must be written as an
RTF escape, so such a byte (or a zero byte, which would end the text early) in
the source is refused. So is a document whose braces do not balance.
"""
import sys


def check(name, data):
    for offset, byte in enumerate(data):
        if not (0x20 <= byte <= 0x7E or byte in (0x09, 0x0A, 0x0D)):
            return "%s: byte 0x%02x at offset %d is not plain ASCII; write it as an RTF escape" % (name, byte, offset)
    if not data.startswith(b"{\\rtf1"):
        return "%s: does not start with {\\rtf1" % name
    depth = 0
    escaped = False
    for offset, byte in enumerate(data):
        if escaped:
            escaped = False
        elif byte == ord("\\"):
            escaped = True
        elif byte == ord("{"):
            depth += 1
        elif byte == ord("}"):
            depth -= 1
            if depth < 0:
                return "%s: unbalanced '}' at offset %d" % (name, offset)
            if depth == 0 and data[offset + 1:].strip():
                return "%s: text after the closing brace at offset %d" % (name, offset)
    if depth != 0:
        return "%s: %d unclosed group(s)" % (name, depth)
    return None


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    source, output = sys.argv[1], sys.argv[2]
    with open(source, "rb") as f:
        data = f.read()
    problem = check(source, data)
    if problem:
        print(problem, file=sys.stderr)
        return 1
    with open(output, "wb") as f:
        f.write(data.rstrip(b"\r\n") + b"\0")
    return 0


if __name__ == "__main__":
    sys.exit(main())
