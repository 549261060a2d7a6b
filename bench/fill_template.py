#!/usr/bin/python3
"""The benchmark's job done with openpyxl, for comparison with korva:
fill_template.py BOOK CSV. Numbers in columns 2, 3, 5 and 8 (from 0), text
elsewhere, row 1 of the CSV is its header, data from sheet row 2."""
import csv
import sys

from openpyxl import load_workbook

book, data = sys.argv[1], sys.argv[2]
wb = load_workbook(book)
ws = wb.worksheets[0]
with open(data, newline="", encoding="utf-8") as f:
    rows = csv.reader(f)
    next(rows)
    for i, row in enumerate(rows, start=2):
        for j, text in enumerate(row):
            if j in (2, 3, 5, 8):
                try:
                    value = float(text)
                except ValueError:
                    value = 0.0
            else:
                value = text
            ws.cell(row=i, column=j + 1, value=value)
wb.save(book)
