#!/usr/bin/env python3
"""Writes a large ASCII DXF R2000 drawing for the end-to-end benchmark of tarnvelox-cli.

    python3 bench/generate_dxf.py OUT.dxf [ENTITIES]      (default: 1000000 entities)

Model space holds a grid of "cells", each a small floor-plan-like part: wall lines, a door arc,
column circles, a room outline and a furniture outline as LWPOLYLINEs (some with bulges) and
now and then a room label as TEXT, spread over a few layers. Every entity carries a handle,
its owner (330) and the subclass markers (100) in the order CAD programs write them, and the
numbers are written with the usual six decimals, so the file's size per entity is close to a
real drawing's. The same arguments always give the same file."""
import math
import random
import sys

LAYERS = [("0", 7, "Continuous", -3), ("WALLS", 7, "Continuous", 50),
          ("DOORS", 3, "Continuous", 25), ("COLUMNS", 1, "Continuous", 35),
          ("FURNITURE", 8, "Continuous", 18), ("ROOMS", 4, "Continuous", 13),
          ("TEXT", 5, "Continuous", 18)]

# One cell: the kinds of its entities in drawing order. 20 entities per cell:
# 8 LINE, 3 CIRCLE, 3 ARC, 5 LWPOLYLINE, 1 TEXT.
CELL = ["L", "L", "L", "L", "P", "A", "C", "L", "L", "P", "A", "C", "L", "L", "P", "P",
        "A", "C", "P", "T"]
CELL_SIZE = 10000.0


def num(v):
    return f"{v:.6f}"


class Writer:
    def __init__(self, f):
        self.f = f
        self.handle = 0x100
        self.buf = []

    def next_handle(self):
        self.handle += 1
        return f"{self.handle:X}"

    def put(self, *pairs):
        # pairs: code, value, code, value, ...
        b = self.buf
        for i in range(0, len(pairs), 2):
            b.append(f"{pairs[i]:>3}\n{pairs[i + 1]}\n")
        if len(b) > 20000:
            self.flush()

    def flush(self):
        self.f.write("".join(self.buf))
        self.buf.clear()


def write(path, count):
    rng = random.Random(20261208)
    with open(path, "w", newline="\n") as f:
        w = Writer(f)
        h_block_table = w.next_handle()
        h_model, h_paper = w.next_handle(), w.next_handle()
        h_root, h_layouts = w.next_handle(), w.next_handle()
        h_layout_model, h_layout_paper = w.next_handle(), w.next_handle()

        cells = (count + len(CELL) - 1) // len(CELL)
        side = max(1, int(math.ceil(math.sqrt(cells))))
        extent = side * CELL_SIZE

        w.put(0, "SECTION", 2, "HEADER", 9, "$ACADVER", 1, "AC1015", 9, "$HANDSEED", 5,
              "FFFFFFFF", 9, "$INSUNITS", 70, 4, 9, "$MEASUREMENT", 70, 1,
              9, "$EXTMIN", 10, num(0.0), 20, num(0.0), 30, num(0.0),
              9, "$EXTMAX", 10, num(extent), 20, num(extent), 30, num(0.0),
              9, "$TILEMODE", 70, 1, 0, "ENDSEC")
        w.put(0, "SECTION", 2, "CLASSES", 0, "ENDSEC")
        w.put(0, "SECTION", 2, "TABLES")

        def table(name, entries):
            h = w.next_handle()
            w.put(0, "TABLE", 2, name, 5, h, 330, "0", 100, "AcDbSymbolTable", 70, len(entries))
            for groups in entries:
                w.put(0, name, 5, w.next_handle(), 330, h, *groups)
            w.put(0, "ENDTAB")

        table("VPORT", [[100, "AcDbSymbolTableRecord", 100, "AcDbViewportTableRecord",
                         2, "*Active", 70, 0, 10, num(0), 20, num(0), 11, num(1), 21, num(1),
                         12, num(extent / 2), 22, num(extent / 2), 40, num(extent), 41, num(1.5)]])
        table("LTYPE", [[100, "AcDbSymbolTableRecord", 100, "AcDbLinetypeTableRecord", 2, n,
                         70, 0, 3, "", 72, 65, 73, 0, 40, num(0)]
                        for n in ("ByBlock", "ByLayer", "Continuous")])
        table("LAYER", [[100, "AcDbSymbolTableRecord", 100, "AcDbLayerTableRecord", 2, n, 70, 0,
                         62, c, 6, lt, 370, lw, 390, "F"] for n, c, lt, lw in LAYERS])
        table("STYLE", [[100, "AcDbSymbolTableRecord", 100, "AcDbTextStyleTableRecord",
                         2, "Standard", 70, 0, 40, num(0), 41, num(1), 50, num(0), 71, 0,
                         42, num(2.5), 3, "txt", 4, ""]])
        table("VIEW", [])
        table("UCS", [])
        table("APPID", [[100, "AcDbSymbolTableRecord", 100, "AcDbRegAppTableRecord",
                         2, "ACAD", 70, 0]])
        table("DIMSTYLE", [])
        w.put(0, "TABLE", 2, "BLOCK_RECORD", 5, h_block_table, 330, "0",
              100, "AcDbSymbolTable", 70, 2)
        for name, h, layout in (("*Model_Space", h_model, h_layout_model),
                                ("*Paper_Space", h_paper, h_layout_paper)):
            w.put(0, "BLOCK_RECORD", 5, h, 330, h_block_table, 100, "AcDbSymbolTableRecord",
                  100, "AcDbBlockTableRecord", 2, name, 340, layout)
        w.put(0, "ENDTAB", 0, "ENDSEC")

        w.put(0, "SECTION", 2, "BLOCKS")
        for name, h, paper in (("*Model_Space", h_model, False), ("*Paper_Space", h_paper, True)):
            w.put(0, "BLOCK", 5, w.next_handle(), 330, h, 100, "AcDbEntity",
                  *((67, 1) if paper else ()), 8, "0", 100, "AcDbBlockBegin", 2, name, 70, 0,
                  10, num(0), 20, num(0), 30, num(0), 3, name, 1, "")
            w.put(0, "ENDBLK", 5, w.next_handle(), 330, h, 100, "AcDbEntity",
                  *((67, 1) if paper else ()), 8, "0", 100, "AcDbBlockEnd")
        w.put(0, "ENDSEC")

        w.put(0, "SECTION", 2, "ENTITIES")
        written = 0
        rooms = ("Office", "Store", "Lab", "Meeting", "Kitchen", "Archive", "Plant room")

        def head(kind, layer):
            w.put(0, kind, 5, w.next_handle(), 330, h_model, 100, "AcDbEntity", 8, layer)

        for cell in range(cells):
            ox = (cell % side) * CELL_SIZE
            oy = (cell // side) * CELL_SIZE
            lines = 0
            for kind in CELL:
                if written == count:
                    break
                written += 1
                j = rng.random() * 50.0
                if kind == "L":
                    # The walls of the cell and a few partitions.
                    x0, y0, x1, y1 = ((200, 200, 9800, 200), (9800, 200, 9800, 9800),
                                      (9800, 9800, 200, 9800), (200, 9800, 200, 200),
                                      (5000, 200, 5000, 4000), (5000, 6000, 5000, 9800),
                                      (200, 5000, 4000, 5000), (6000, 5000, 9800, 5000))[lines]
                    lines += 1
                    head("LINE", "WALLS")
                    w.put(100, "AcDbLine", 10, num(ox + x0 + j), 20, num(oy + y0 - j), 30, num(0),
                          11, num(ox + x1 + j), 21, num(oy + y1 - j), 31, num(0))
                elif kind == "C":
                    head("CIRCLE", "COLUMNS")
                    w.put(100, "AcDbCircle", 10, num(ox + rng.uniform(500, 9500)),
                          20, num(oy + rng.uniform(500, 9500)), 30, num(0),
                          40, num(rng.uniform(80, 300)))
                elif kind == "A":
                    start = rng.choice((0.0, 90.0, 180.0, 270.0))
                    head("ARC", "DOORS")
                    w.put(100, "AcDbCircle", 10, num(ox + rng.uniform(500, 9500)),
                          20, num(oy + rng.uniform(500, 9500)), 30, num(0),
                          40, num(rng.uniform(700, 1000)), 100, "AcDbArc",
                          50, num(start), 51, num(start + 90.0))
                elif kind == "P":
                    # A room or furniture outline: 4 to 12 vertices, every third one with a
                    # bulge (a rounded corner or a bay).
                    n = rng.randint(4, 12)
                    cx, cy = ox + rng.uniform(1500, 8500), oy + rng.uniform(1500, 8500)
                    r = rng.uniform(300, 1400)
                    head("LWPOLYLINE", "FURNITURE" if r < 800 else "ROOMS")
                    w.put(100, "AcDbPolyline", 90, n, 70, 1 if rng.random() < 0.8 else 0,
                          43, num(0))
                    for v in range(n):
                        a = 2 * math.pi * v / n
                        w.put(10, num(cx + r * math.cos(a)), 20, num(cy + r * math.sin(a)))
                        if v % 3 == 2:
                            w.put(42, num(rng.uniform(-0.6, 0.6)))
                else:
                    head("TEXT", "TEXT")
                    w.put(100, "AcDbText", 10, num(ox + 600 + j), 20, num(oy + 600 + j),
                          30, num(0), 40, num(250), 1, f"{rng.choice(rooms)} {cell + 1}",
                          50, num(0), 7, "Standard", 100, "AcDbText")
        w.put(0, "ENDSEC")

        w.put(0, "SECTION", 2, "OBJECTS",
              0, "DICTIONARY", 5, h_root, 330, "0", 100, "AcDbDictionary", 281, 1,
              3, "ACAD_LAYOUT", 350, h_layouts,
              0, "DICTIONARY", 5, h_layouts, 330, h_root, 100, "AcDbDictionary", 281, 1,
              3, "Layout1", 350, h_layout_paper, 3, "Model", 350, h_layout_model)
        for name, h, block, tab in (("Model", h_layout_model, h_model, 0),
                                    ("Layout1", h_layout_paper, h_paper, 1)):
            model = tab == 0
            w.put(0, "LAYOUT", 5, h, 330, h_layouts, 100, "AcDbPlotSettings", 1, "",
                  2, "none_device", 4, "ISO_A3_(420.00_x_297.00_MM)", 6, "",
                  40, num(0), 41, num(0), 42, num(0), 43, num(0), 44, num(420), 45, num(297),
                  46, num(0), 47, num(0), 48, num(0), 49, num(0), 140, num(0), 141, num(0),
                  142, num(1), 143, num(1), 70, 1024 if model else 688, 72, 1, 73, 0,
                  74, 0 if model else 5, 7, "", 75, 0, 147, num(1),
                  100, "AcDbLayout", 1, name, 70, 1, 71, tab,
                  10, num(0), 20, num(0), 11, num(420), 21, num(297),
                  12, num(0), 22, num(0), 32, num(0),
                  14, num(0), 24, num(0), 34, num(0), 15, num(420), 25, num(297), 35, num(0),
                  146, num(0), 13, num(0), 23, num(0), 33, num(0), 16, num(1), 26, num(0),
                  36, num(0), 17, num(0), 27, num(1), 37, num(0), 76, 0, 330, block)
        w.put(0, "ENDSEC", 0, "EOF")
        w.flush()
    return written


def main():
    if len(sys.argv) < 2:
        sys.exit("usage: generate_dxf.py OUT.dxf [ENTITIES]")
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 1000000
    written = write(sys.argv[1], count)
    print(f"{sys.argv[1]}: {written} entities", file=sys.stderr)


if __name__ == "__main__":
    main()
