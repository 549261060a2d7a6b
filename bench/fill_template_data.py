#!/usr/bin/python3
"""Makes the benchmark's inputs: fill_template_data.py DIR ROWS writes
DIR/data.csv (a header and ROWS rows of 10 columns) and DIR/template.xlsx
(a header row and a formatted first data row)."""
import random
import sys

from openpyxl import Workbook
from openpyxl.styles import Font

folder, count = sys.argv[1], int(sys.argv[2])
random.seed(9)
names = ["Id", "Customer", "Quantity", "Price", "City", "Discount", "Code", "Note", "Weight", "Status"]
with open(folder + "/data.csv", "w", encoding="utf-8") as f:
    f.write(",".join(names) + "\n")
    for i in range(1, count + 1):
        f.write(",".join([
            "R%06d" % i, "Customer%d" % random.randint(1, 5000), str(random.randint(1, 500)),
            "%.2f" % random.uniform(0.5, 999), random.choice(["Zagreb", "Split", "Rijeka", "Osijek"]),
            "%.3f" % random.random(), "C%04d" % random.randint(0, 9999), "note%d" % (i % 97),
            "%.1f" % random.uniform(0.1, 80), random.choice(["open", "paid", "sent"])]) + "\n")

wb = Workbook()
ws = wb.active
ws.title = "Data"
for col, name in enumerate(names, start=1):
    ws.cell(row=1, column=col, value=name).font = Font(bold=True)
ws.cell(row=2, column=4).number_format = "#,##0.00"
wb.save(folder + "/template.xlsx")
