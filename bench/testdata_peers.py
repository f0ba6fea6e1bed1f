#!/usr/bin/python3
# The peers of testdata_bench, timed on the same files: Python's csv module on data.csv, openpyxl in
# read-only mode on data.xlsx, xlrd on data.xls (written here with xlwt when missing: 65,000 rows x 10
# columns, text in even columns, numbers in odd ones), in CPU time, keeping the rows as a data set
# keeps them. Debian packages: python3, python3-openpyxl,
# python3-xlrd, python3-xlwt. Run with Debian's interpreter: /usr/bin/python3 testdata_peers.py DIR
import csv
import os
import resource
import sys
import time


def best(function, runs=3):
    times = []
    for _ in range(runs):
        start = time.process_time()
        rows = function()
        times.append(time.process_time() - start)
    return min(times), rows


def report(name, seconds, rows, megabytes):
    print("%-26s %8.1f ms %10.0f rows/s %8.1f MB/s" % (name, seconds * 1000, rows / seconds, megabytes / seconds))


def read_csv(path):
    # The table is kept, as a data set keeps it.
    with open(path, newline="", encoding="utf-8") as f:
        return len(list(csv.reader(f)))


def read_xlsx(path):
    import openpyxl

    book = openpyxl.load_workbook(path, read_only=True)
    rows = len(list(book.worksheets[0].iter_rows(values_only=True)))
    book.close()
    return rows


def read_xls(path):
    import xlrd

    sheet = xlrd.open_workbook(path).sheet_by_index(0)
    return len([sheet.row_values(r) for r in range(sheet.nrows)])


def write_xls(path):
    import xlwt

    book = xlwt.Workbook(encoding="utf-8")
    sheet = book.add_sheet("Big")
    for c in range(10):
        sheet.write(0, c, "col%d" % c)
    for r in range(1, 65000):
        for c in range(10):
            sheet.write(r, c, "text_%d_%d" % (r, c) if c % 2 == 0 else float("%d.%02d" % (r * 7 + c, r % 100)))
    book.save(path)


def main():
    directory = sys.argv[1]
    csv_path = os.path.join(directory, "data.csv")
    xlsx_path = os.path.join(directory, "data.xlsx")
    xls_path = os.path.join(directory, "data.xls")
    if not os.path.exists(xls_path):
        write_xls(xls_path)
    seconds, rows = best(lambda: read_csv(csv_path))
    report("python csv", seconds, rows, os.path.getsize(csv_path) / 1e6)
    seconds, rows = best(lambda: read_xlsx(xlsx_path), runs=1)
    report("openpyxl read-only", seconds, rows, os.path.getsize(xlsx_path) / 1e6)
    seconds, rows = best(lambda: read_xls(xls_path))
    report("xlrd", seconds, rows, os.path.getsize(xls_path) / 1e6)
    print("peak RSS of this process: %d KiB" % resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)


if __name__ == "__main__":
    main()
