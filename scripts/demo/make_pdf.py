#!/usr/bin/env python3
"""Writes a small US Letter PDF: each page carries its number in large type and a coloured band,
so the printed copy shows at a glance which page came out where.

    make_pdf.py OUTPUT [PAGES]
"""
import sys

MAX_PAGES = 100
COLOURS = ["0.85 0.1 0.1", "0.1 0.55 0.2", "0.1 0.3 0.8"]


def page_content(number, count):
    colour = COLOURS[(number - 1) % len(COLOURS)]
    return (f"{colour} rg 72 640 468 80 re f\n"
            f"BT /F1 48 Tf 0 0 0 rg 110 480 Td (Page {number} of {count}) Tj ET\n"
            f"BT /F1 18 Tf 0 0 0 rg 110 420 Td (Printed through Velmora) Tj ET\n")


def build(count):
    """The PDF's bytes: catalog, page tree, a font, then a page and its content per page."""
    if not 1 <= count <= MAX_PAGES:
        raise ValueError(f"between 1 and {MAX_PAGES} pages, not {count}")
    objects = ["<< /Type /Catalog /Pages 2 0 R >>", "",
               "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"]
    kids = []
    for number in range(1, count + 1):
        page_object = len(objects) + 1
        kids.append(f"{page_object} 0 R")
        content = page_content(number, count)
        objects.append("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] "
                       f"/Resources << /Font << /F1 3 0 R >> >> /Contents {page_object + 1} 0 R >>")
        objects.append(f"<< /Length {len(content)} >>\nstream\n{content}endstream")
    objects[1] = f"<< /Type /Pages /Kids [{' '.join(kids)}] /Count {count} >>"

    pdf = bytearray(b"%PDF-1.4\n")
    offsets = []
    for index, body in enumerate(objects, start=1):
        offsets.append(len(pdf))
        pdf += f"{index} 0 obj\n{body}\nendobj\n".encode("ascii")
    xref = len(pdf)
    pdf += f"xref\n0 {len(objects) + 1}\n0000000000 65535 f \n".encode("ascii")
    for offset in offsets:
        pdf += f"{offset:010d} 00000 n \n".encode("ascii")
    pdf += (f"trailer\n<< /Size {len(objects) + 1} /Root 1 0 R >>\n"
            f"startxref\n{xref}\n%%EOF\n").encode("ascii")
    return bytes(pdf)


def main(argv):
    if len(argv) not in (2, 3):
        sys.exit(__doc__)
    try:
        count = int(argv[2]) if len(argv) == 3 else 3
        data = build(count)
    except ValueError as error:
        sys.exit(f"make_pdf: {error}")
    with open(argv[1], "wb") as out:
        out.write(data)


if __name__ == "__main__":
    main(sys.argv)
