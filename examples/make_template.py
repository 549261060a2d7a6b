#!/usr/bin/python3
"""Builds the example's template workbook: an order sheet with a styled
table whose total row sums the table's columns, and a small rates sheet.
Run with Debian's python3-openpyxl: /usr/bin/python3 make_template.py"""
from openpyxl import Workbook
from openpyxl.styles import Alignment, Font, PatternFill
from openpyxl.worksheet.table import Table, TableColumn, TableStyleInfo

wb = Workbook()
ws = wb.active
ws.title = "Orders"
ws["A1"] = "Order report"
ws["A1"].font = Font(size=14, bold=True)
ws["A2"] = "Prepared:"
ws["B2"].number_format = "yyyy-mm-dd"

headers = ["Order", "Customer", "Date", "Quantity", "Price", "Amount"]
for col, name in enumerate(headers, start=1):
    cell = ws.cell(row=4, column=col, value=name)
    cell.font = Font(bold=True, color="FFFFFF")
    cell.fill = PatternFill("solid", fgColor="305496")
    cell.alignment = Alignment(horizontal="center")

# One empty data row: the script inserts a row above the total row per order.
formats = ["@", "@", "yyyy-mm-dd", "#,##0", "#,##0.00", "#,##0.00"]
for col, fmt in enumerate(formats, start=1):
    ws.cell(row=5, column=col).number_format = fmt
ws["A6"] = "Total"
ws["A6"].font = Font(bold=True)
ws["D6"] = "=SUBTOTAL(109,D5:D5)"
ws["F6"] = "=SUBTOTAL(109,F5:F5)"
ws["D6"].number_format = "#,##0"
ws["F6"].number_format = "#,##0.00"
for cell in ("D6", "F6"):
    ws[cell].font = Font(bold=True)

table = Table(displayName="Orders", ref="A4:F6", totalsRowCount=1)
table.tableStyleInfo = TableStyleInfo(name="TableStyleMedium2", showRowStripes=True)
table.tableColumns = [TableColumn(id=i + 1, name=name) for i, name in enumerate(headers)]
table.tableColumns[0].totalsRowLabel = "Total"
table.tableColumns[3].totalsRowFunction = "sum"
table.tableColumns[5].totalsRowFunction = "sum"
table.autoFilter = None
ws.add_table(table)

for col, width in zip("ABCDEF", (10, 24, 12, 10, 12, 14)):
    ws.column_dimensions[col].width = width
ws.page_setup.orientation = "landscape"
ws.print_title_rows = "4:4"

rates = wb.create_sheet("Rates")
rates["A1"] = "VAT rate"
rates["B1"] = 0.25
rates["B1"].number_format = "0%"

wb.save("template.xlsx")
