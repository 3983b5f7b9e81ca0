#!/usr/bin/python3
# Writes fixtures/price.xls, the small spreadsheet in the old binary format that
# the extraction test reads. Needs Debian's python3-xlwt; run it again only to
# change the fixture.
import os
import xlwt

book = xlwt.Workbook(encoding="utf-8")
sheet = book.add_sheet("Прайс")
rows = [("Артикул", "Наименование", "Цена"),
        ("A-100", "Шайбы пружинные оцинкованные", 12.5),
        ("A-101", "Gaskets for flanges", 40)]
for r, row in enumerate(rows):
    for c, value in enumerate(row):
        sheet.write(r, c, value)
book.save(os.path.join(os.path.dirname(os.path.abspath(__file__)), "fixtures", "price.xls"))
