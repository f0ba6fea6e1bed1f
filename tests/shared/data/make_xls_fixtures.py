#!/usr/bin/python3
# Writes the .xls fixtures of excel_test.cpp. Run once with Debian's python3-xlwt
# (/usr/bin/python3 make_xls_fixtures.py in this directory); the tests only read the results.
import datetime
import struct

import xlwt


def table():
    book = xlwt.Workbook(encoding="utf-8")
    data = book.add_sheet("Data")
    # The table starts at C3 (column 2, row 2); the header ends at the number in G3.
    for j, name in enumerate(["name", "count", "price", "flag"]):
        data.write(2, 2 + j, name)
    data.write(2, 6, 99)
    rows = [
        ["Gr\u00fc\u00dfe", 2, 2.5, True],
        ["b", 1234567.5, 3.14159265, False],
        ["", 0.000012345, "", ""],
    ]
    for i, row in enumerate(rows):
        for j, value in enumerate(row):
            if value != "":
                data.write(3 + i, 2 + j, value)
        data.write(3 + i, 6, "right of the table")
    data.write(6, 2, datetime.date(2024, 1, 31), xlwt.easyxf(num_format_str="YYYY-MM-DD"))
    # Row 8 is empty: it ends the table although row 9 has data.
    data.write(8, 2, "after the gap")

    far = book.add_sheet("Far")
    far.write(29, 25, "too far")  # Z30: column 25 + row 29 is not below 50
    near = book.add_sheet("Near")
    near.write(24, 24, "edge")  # Y25: 24 + 24 = 48, found
    near.write(24, 25, "second")
    near.write(25, 24, "v")
    numbers = book.add_sheet("Numbers")
    numbers.write(0, 0, 1)
    numbers.write(0, 1, 2.5)
    book.save("table.xls")


def large(rows):
    book = xlwt.Workbook(encoding="utf-8")
    sheet = book.add_sheet("Big")
    for j in range(10):
        sheet.write(0, j, "col%d" % j)
    for i in range(1, rows):
        for j in range(10):
            sheet.write(i, j, "r%dc%d" % (i, j) if j % 2 == 0 else i * 10 + j)
    book.save("large.xls")


def small_stream():
    """The BIFF stream of a one-sheet workbook without xlwt's padding to 4096 bytes."""
    book = xlwt.Workbook(encoding="utf-8")
    sheet = book.add_sheet("Small")
    sheet.write(0, 0, "key")
    sheet.write(0, 1, "value")
    sheet.write(1, 0, "k")
    sheet.write(1, 1, 42)
    stream = book.get_biff_data()
    end = stream.rfind(b"\x0a\x00\x00\x00")  # the last EOF record
    return stream[: end + 4]


def small():
    """A workbook whose stream is below 4096 bytes and so lives in the compound file's mini stream.
    xlwt always pads the stream to 4096 bytes; here the padding is cut and the container rebuilt."""
    write_mini_container(small_stream(), "small.xls")


def protected():
    """small.xls with a FILEPASS record (RC4 encryption header) after the first BOF: a workbook
    protected by a password, as far as a reader that only looks at the record can tell."""
    stream = small_stream()
    bof_length = struct.unpack("<H", stream[2:4])[0]
    filepass = struct.pack("<HHHHH", 0x002F, 54, 1, 1, 1) + b"\x11" * 48
    write_mini_container(stream[: 4 + bof_length] + filepass + stream[4 + bof_length :], "protected.xls")


def formulas():
    """Formula cells with cached results as LibreOffice writes them: a number, a text (in the STRING
    record after the formula), booleans (TRUE() and FALSE() formulas), an error, and a text formula in
    the header row; beside them a boolean cell as xlwt writes it (BOOLERR). xlwt itself writes formulas
    without cached results, so those are patched into its records here."""
    book = xlwt.Workbook(encoding="utf-8")
    sheet = book.add_sheet("Formulas")
    rows = [
        ["name", xlwt.Formula('"val"&"ue"'), "kind"],
        ["sum", xlwt.Formula("1+2"), "number"],
        ["text", xlwt.Formula('"a"&"b"'), "text"],
        ["yes", xlwt.Formula("TRUE"), "bool"],
        ["no", xlwt.Formula("FALSE"), "bool"],
        ["err", xlwt.Formula("1/0"), "error"],
        ["cell", True, "xlwt"],
        ["empty", xlwt.Formula('""'), "text"],
    ]
    for i, row in enumerate(rows):
        for j, value in enumerate(row):
            sheet.write(i, j, value)
    # The cached results, in the order of the formula cells above.
    special = b"\xff\xff"
    results = [
        ("text", "value"),
        ("number", 3.0),
        ("text", "a\u00dfb"),
        ("bool", 1),
        ("bool", 0),
        ("error", 0x07),
        ("text", ""),
    ]
    stream = small_stream_of(book)
    out = bytearray()
    pos = 0
    while pos + 4 <= len(stream):
        kind, length = struct.unpack("<HH", stream[pos : pos + 4])
        record = bytearray(stream[pos : pos + 4 + length])
        extra = b""
        if kind == 0x0006:
            what, value = results.pop(0)
            if what == "number":
                record[10:18] = struct.pack("<d", value)
            elif what == "text" and value:
                record[10:18] = b"\0" * 6 + special
                text = value.encode("latin-1")
                body = struct.pack("<HB", len(text), 0) + text
                extra = struct.pack("<HH", 0x0207, len(body)) + body
            elif what == "text":
                record[10:18] = b"\x03" + b"\0" * 5 + special
            elif what == "bool":
                record[10:18] = bytes([1, 0, value, 0, 0, 0]) + special
            else:
                record[10:18] = bytes([2, 0, value, 0, 0, 0]) + special
        out += record + extra
        pos += 4 + length
    assert not results
    write_mini_container(bytes(out), "formulas.xls")


def small_stream_of(book):
    stream = book.get_biff_data()
    end = stream.rfind(b"\x0a\x00\x00\x00")  # the last EOF record
    return stream[: end + 4]


def write_mini_container(stream, name):
    assert len(stream) < 4096

    free, end_chain, fat_sect = 0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFD
    minis = (len(stream) + 63) // 64
    container = stream + b"\0" * (minis * 64 - len(stream))
    container_sectors = (len(container) + 511) // 512
    container += b"\0" * (container_sectors * 512 - len(container))
    # Sectors: 0 FAT, 1 directory, 2 mini FAT, 3.. the mini stream container.
    fat = [fat_sect, end_chain, end_chain] + [4 + i for i in range(container_sectors - 1)] + [end_chain]
    fat += [free] * (128 - len(fat))
    minifat = [i + 1 for i in range(minis - 1)] + [end_chain]
    minifat += [free] * (128 - len(minifat))

    def entry(name, kind, child, start, size):
        encoded = (name + "\0").encode("utf-16-le") if name else b""
        return (encoded.ljust(64, b"\0") + struct.pack("<HBB", len(encoded), kind, 1)
                + struct.pack("<III", free, free, child) + b"\0" * 16 + b"\0" * 4 + b"\0" * 16
                + struct.pack("<III", start, size, 0))

    directory = (entry("Root Entry", 5, 1, 3, minis * 64)
                 + entry("Workbook", 2, free, 0, len(stream))
                 + entry("", 0, free, free, 0) * 2)
    header = (bytes.fromhex("d0cf11e0a1b11ae1") + b"\0" * 16
              + struct.pack("<HHHHH", 0x3E, 3, 0xFFFE, 9, 6) + b"\0" * 6
              + struct.pack("<IIIIIIIII", 0, 1, 1, 0, 4096, 2, 1, end_chain, 0)
              + struct.pack("<I", 0) + struct.pack("<I", free) * 108)
    assert len(header) == 512 and len(directory) == 512
    with open(name, "wb") as out:
        out.write(header)
        out.write(struct.pack("<128I", *fat))
        out.write(directory)
        out.write(struct.pack("<128I", *minifat))
        out.write(container)


def big_dimensions():
    """table.xls with every sheet declaring 65536 rows x 256 columns in its DIMENSIONS record."""
    data = bytearray(open("table.xls", "rb").read())
    at = data.find(b"\x00\x02\x0e\x00")
    while at >= 0:
        data[at + 4 : at + 18] = struct.pack("<IIHHH", 0, 65536, 0, 256, 0)
        at = data.find(b"\x00\x02\x0e\x00", at + 1)
    open("bigdimensions.xls", "wb").write(data)


if __name__ == "__main__":
    table()
    small()
    protected()
    big_dimensions()
    formulas()
