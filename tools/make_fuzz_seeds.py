#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpus into fuzz/corpus/ (run from the project root)."""
import os

def utf16(s):
    return s.encode("utf-16-le")

def sjis(s):
    return s.encode("cp932")

seeds = {
    "codepage": [
        b"\x01" + sjis("テスト漢字ｱｲｳ abc\r\n"),
        b"\x01" + b"\x80\xa0\xfd\xfe\xff\x81\x20\x81\xfc\xfc\x81",
        b"\x00" + utf16("テスト〜—‖−ÀéＡ") + b"\x00\xd8\x3d\xd8\x00\xde",
        b"\x00" + utf16("\u30fb\uf8f0\uf8f1\u0080\r\n"),
    ],
    "encode": [
        b"\x00" + utf16("テスト a b\r\nA\t"),
        b"\x01" + utf16("A\r\nB\rC\r\rあ\r"),
        b"\x01" + utf16("\r") + b"\x3d\xd8\x00\xde",
        b"\x00" + bytes(range(256)),
    ],
    "decode": [
        b"\x00" + utf16("%83e%83X%83g%0D%0A%82%A0"),
        b"\x01" + utf16("A&B&&%82&%41%42%43"),
        b"\x00" + utf16("x%4 x%41 %G1B %41% %82%zz 50%"),
        b"\x00" + utf16("%09%82%A0%83あ%83\u00e9%83") + b"\x3d\xd8\x00\xde",
        b"\x01" + utf16("%e3%81%82%8a%bf%8E%9a"),
        # Longer than one of the decoder's 2048-unit chunks.
        b"\x00" + utf16(("%83e%83X%83g%0D%0Aabc&x=%82%A0%" * 120)[:3000]),
    ],
    # Byte 0: decode, option, UTF-8 bits; byte 1: cut count; two bytes a cut.
    "stream": [
        b"\x00\x03\x01\x00\x05\x00\x09\x00" + sjis("テスト\r\nabc %あ"),
        b"\x03\x04\x02\x00\x04\x00\x07\x00\x0b\x00" + b"x%41%82%A0&%83e&%41",
        b"\x06\x02\x01\x00\x03\x00" + "\r😀\r\nテ—\xe3".encode("utf-8", "surrogatepass") + b"\xe3\x81",
        b"\x05\x02\x02\x00\x05\x00" + b"%E3%81%82%0D%0A\xff%41",
    ],
    # Byte 0: bit 0 from bytes (else from text), the rest where the input is cut.
    "eucjp": [
        b"\x33" + "テスト漢字ｱｲｳ abc\r\n".encode("euc_jp") + b"\x8f\xb0\xa1\x8e\xe0\xa1\x41\x8f",
        b"\x65" + b"\x80\x8e\x8e\x8f\xa1\x41\xa4\xff\xa4\xa2\xf9\xa1\xfe",
        b"\x32" + utf16("テスト¥‾−－ｱ丂 abc") + b"\x00\xd8\x3d\xd8\x00\xde\x3d\xd8",
        b"\x80" + utf16("漢字かなカナ①ⅰ＼～\r\n"),
    ],
    "history": [
        b"".join(b'"' + sjis(n) + b'"\r\n' for n in ["/home/u/a.txt", "/tmp/テスト.ATT", "", "b", ""]),
        b'"a"\n"b"\r"c"\r\n"d\r\n',
        b'plain, with comma\r\n\r\n"x\x01y"\r\n"q"""\r\n',
        b"\x00\xff\x81" * 10,
    ],
    "lines": [
        sjis("テスト\r\nx\ry\nz"),
        b"\r\r\n\n\r",
        b"\x81\r\n\x82\xa0\x00\x00\xfc",
        b"",
    ],
    # A width, then operations: 0-3 replace (at the caret, anywhere, a longer
    # text), 4 set the text, 5 undo, 6 redo, 7 select; each followed by a byte
    # that sometimes asks for a row. Text units: one byte from a small
    # alphabet (CR, LF, a, a surrogate pair's halves, TAB, a combining mark,
    # a kana), or 200-255 and two bytes of a raw unit.
    "editor": [
        bytes([5, 4, 12, 2, 0, 0, 1, 2, 3, 4, 5, 0, 1, 1, 0, 0, 0, 1, 1, 2, 0, 0, 5, 1, 5, 1, 6, 1, 6, 1]),
        bytes([8, 4, 20] + [0, 1] * 10 + [1, 1, 0, 0, 3, 0, 0, 1, 0, 5, 1, 6, 1, 7, 4, 0, 2, 0, 1]),
        bytes([3, 3, 2, 0, 2, 0, 3, 6, 3, 4, 6, 7, 0, 1, 0, 5, 1, 6, 1, 1, 3, 0, 1, 0, 1, 0, 1]),
        bytes([1, 4, 6, 201, 0x3d, 0xd8, 2, 201, 0x00, 0xde, 0, 1, 0, 2, 0, 0, 1, 3, 0, 0, 0, 3, 0, 1, 1, 5, 0]),
    ],
}

for target, items in seeds.items():
    folder = os.path.join("fuzz", "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for i, data in enumerate(items):
        with open(os.path.join(folder, f"seed{i}"), "wb") as f:
            f.write(data)
