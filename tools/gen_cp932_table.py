#!/usr/bin/env python3
"""Generates codec/cp932_table.inc from Microsoft's best-fit table for cp932.

Usage: gen_cp932_table.py bestfit932.txt > codec/cp932_table.inc

The input has four kinds of section, each opened by a keyword line:
  MBTABLE n       n single bytes and their characters
  DBCSRANGE n     n "lead byte range" lines (first and last lead byte); each
                  range is followed by one DBCSTABLE per lead byte in it
  DBCSTABLE n     n trail bytes of one lead byte and their characters
  WCTABLE n       n characters and their bytes, best-fit entries included
Every section is read by its count, so a range line between two DBCSTABLEs
is never taken for an entry.

The generated tables:
  kSingleByteToText  character of each single byte; U+30FB for a lead byte
                     (what a lead byte without a trail byte gives)
  kLeadRow           0 for a single byte, else 1 + the lead byte's row
  kDoubleByteToText  per lead byte, the characters of trail bytes 0x40..0xFC;
                     0 for 0x7F (not a trail byte), U+30FB where the lead
                     byte's DBCSTABLE has no entry
  kTextToBytesExtra  (character << 16 | bytes) entries applied on top of the
                     inverse of the two tables above

The text-to-bytes table is built by the program at compile time: every
single byte and every byte pair, in ascending order, sets the entry of its
character (a later one replacing an earlier one), then kTextToBytesExtra
overrides. This script computes kTextToBytesExtra so that the result equals
WCTABLE plus the LOOK_ALIKES below, and checks that it does.
"""

import sys

DEFAULT_CHAR = 0x30FB
UNMAPPED = 0x3F  # '?'
FIRST_TRAIL, LAST_TRAIL = 0x40, 0xFC
TRAIL_COUNT = LAST_TRAIL - FIRST_TRAIL + 1

# Characters that input methods on other systems type in place of the
# code page's own; mapped to the bytes of their twins.
LOOK_ALIKES = {
    0x2014: 0x815C,  # EM DASH -> HORIZONTAL BAR
    0x2016: 0x8161,  # DOUBLE VERTICAL LINE -> PARALLEL TO
    0x2212: 0x817C,  # MINUS SIGN -> FULLWIDTH HYPHEN-MINUS
    0x301C: 0x8160,  # WAVE DASH -> FULLWIDTH TILDE
}


class TableError(Exception):
    pass


def tokens(path):
    """Yields (line number, fields) of every non-empty line, comments cut."""
    with open(path, "rb") as f:
        for number, raw in enumerate(f, 1):
            line = raw.decode("latin-1").split(";", 1)[0]
            fields = line.split()
            if fields:
                yield number, fields


def parse(path):
    single, double, wide, lead_ranges = {}, {}, {}, []
    lines = tokens(path)

    def entries(count):
        for _ in range(count):
            number, fields = next(lines)
            if len(fields) != 2:
                raise TableError(f"line {number}: expected two numbers")
            yield int(fields[0], 16), int(fields[1], 16)

    for number, fields in lines:
        keyword = fields[0]
        if keyword in ("CODEPAGE", "CPINFO"):
            continue
        if keyword == "ENDCODEPAGE":
            break
        count = int(fields[1]) if len(fields) > 1 else 0
        if keyword == "MBTABLE":
            single.update(entries(count))
        elif keyword == "WCTABLE":
            wide.update(entries(count))
        elif keyword == "DBCSRANGE":
            for _ in range(count):
                number, fields = next(lines)
                first, last = int(fields[0], 16), int(fields[1], 16)
                lead_ranges.append((first, last))
                for lead in range(first, last + 1):
                    number, fields = next(lines)
                    if fields[0] != "DBCSTABLE":
                        raise TableError(f"line {number}: DBCSTABLE expected")
                    for trail, char in entries(int(fields[1])):
                        double[(lead << 8) | trail] = char
        else:
            raise TableError(f"line {number}: unknown section {keyword}")
    return single, double, wide, lead_ranges


def build(single, double, wide, lead_ranges):
    leads = [b for first, last in lead_ranges for b in range(first, last + 1)]
    if sorted(set(single) | set(leads)) != list(range(256)) or set(single) & set(leads):
        raise TableError("single bytes and lead bytes must split 0x00..0xFF")

    single_to_text = [single.get(b, DEFAULT_CHAR) for b in range(256)]
    lead_row = [0] * 256
    rows = []
    for index, lead in enumerate(leads):
        lead_row[lead] = index + 1
        row = []
        for trail in range(FIRST_TRAIL, LAST_TRAIL + 1):
            if trail == 0x7F:
                row.append(0)
            else:
                row.append(double.get((lead << 8) | trail, DEFAULT_CHAR))
        rows.append(row)
    for code in double:
        trail = code & 0xFF
        if trail < FIRST_TRAIL or trail > LAST_TRAIL or trail == 0x7F:
            raise TableError(f"double-byte entry {code:#06x} has a bad trail byte")

    wanted = dict(wide)
    for char, code in LOOK_ALIKES.items():
        if char in wanted:
            raise TableError(f"U+{char:04X} is already in WCTABLE")
        wanted[char] = code
    for char, code in wanted.items():
        if code < 0x100 and lead_row[code]:
            raise TableError(f"U+{char:04X} maps to the lone lead byte {code:#04x}")
        if char >= 0x10000 or 0xD800 <= char <= 0xDFFF:
            raise TableError(f"U+{char:04X} is not a BMP character")

    # The inversion the program does at compile time.
    inverse = [UNMAPPED] * 0x10000
    for b in range(256):
        if not lead_row[b]:
            inverse[single_to_text[b]] = b
    for index, lead in enumerate(leads):
        for offset, char in enumerate(rows[index]):
            if char:
                inverse[char] = (lead << 8) | (FIRST_TRAIL + offset)
    target = [wanted.get(char, UNMAPPED) for char in range(0x10000)]
    extra = [(char, target[char]) for char in range(0x10000) if inverse[char] != target[char]]

    for char, code in extra:
        inverse[char] = code
    if inverse != target:
        raise TableError("the extra entries do not reproduce WCTABLE")
    return single_to_text, lead_row, rows, extra, leads


def c_array(values, width, per_line, indent="    "):
    lines = []
    for start in range(0, len(values), per_line):
        chunk = values[start:start + per_line]
        lines.append(indent + ", ".join(f"0x{v:0{width}X}" for v in chunk) + ",")
    return "\n".join(lines)


def emit(single_to_text, lead_row, rows, extra, leads, source_name):
    out = []
    out.append(f"// Generated by tools/gen_cp932_table.py from {source_name}. Do not edit.")
    out.append("// Included inside namespace tessaly::cp932 by codec/cp932_table.cpp.")
    out.append("")
    out.append("// Character of each single byte; U+30FB for a lead byte.")
    out.append("constexpr std::uint16_t kSingleByteToText[256] = {")
    out.append(c_array(single_to_text, 4, 8))
    out.append("};")
    out.append("")
    out.append("// 0 for a single byte, else 1 + the lead byte's row in kDoubleByteToText.")
    out.append("constexpr std::uint8_t kLeadRow[256] = {")
    out.append(c_array(lead_row, 2, 16))
    out.append("};")
    out.append("")
    out.append(f"// Characters of trail bytes 0x{FIRST_TRAIL:02X}..0x{LAST_TRAIL:02X} per lead byte; 0 for 0x7F,")
    out.append("// U+30FB where the lead byte has no character for the trail byte.")
    out.append(f"constexpr std::uint16_t kDoubleByteToText[{len(rows)}][{TRAIL_COUNT}] = {{")
    for lead, row in zip(leads, rows):
        out.append(f"    {{  // lead byte 0x{lead:02X}")
        out.append(c_array(row, 4, 8, "        "))
        out.append("    },")
    out.append("};")
    out.append("")
    out.append("// (character << 16) | bytes: text-to-bytes entries that differ from the")
    out.append("// inverse of the tables above (best-fit entries, the preferred one of")
    out.append("// duplicate codes, look-alikes of other systems).")
    out.append(f"constexpr std::uint32_t kTextToBytesExtra[{len(extra)}] = {{")
    out.append(c_array([(c << 16) | b for c, b in extra], 8, 6))
    out.append("};")
    return "\n".join(out) + "\n"


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: gen_cp932_table.py bestfit932.txt > cp932_table.inc\n")
        return 2
    try:
        tables = build(*parse(argv[1]))
    except (TableError, StopIteration, ValueError, IndexError) as error:
        sys.stderr.write(f"gen_cp932_table.py: {argv[1]}: {error or 'unexpected end'}\n")
        return 1
    sys.stdout.write(emit(*tables, source_name=argv[1].rsplit("/", 1)[-1]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
