#!/usr/bin/env python3
"""Writes the example drawings of this folder: small ASCII DXF R2000 files, each with model
space on several layers (lines, polylines, circles, arcs, text, a hatch, block inserts) and two
paper layouts whose viewports show model space at different scales.

    python3 examples/make_examples.py [FOLDER]     (default: the folder of this script)

The output is the same on every run, so the files can be kept in the repository and checked
against this script."""
import math
import os
import sys


class Dxf:
    """Collects groups and hands out handles; the sections are written in the usual order."""

    def __init__(self):
        self.next_handle = 0x100
        self.layers = []          # (name, colour, linetype, lineweight[, plotted])
        self.blocks = {}          # name -> list of entity group lists
        self.model = []           # model-space entities
        self.papers = []          # (name, paper mm (w, h), entities)
        self.active_paper = 0     # the paper layout active when "saved" (None: model space)
        self.images = []          # (file name, pixels (w, h)) of the IMAGE entities' IMAGEDEFs
        self.viewport_layer = "VIEWPORTS"
        self.layer_handles = {}   # layers that viewports freeze, by name

    def layer_handle(self, name):
        """The handle the layer's table entry gets, handed out when first asked for."""
        if name not in self.layer_handles:
            self.layer_handles[name] = self.handle()
        return self.layer_handles[name]

    def handle(self):
        self.next_handle += 1
        return f"{self.next_handle:X}"

    # -- entities: each is a list of (code, value) without the owner, filled in later --------
    @staticmethod
    def line(layer, a, b, color=None):
        g = [(0, "LINE"), (8, layer)] + ([(62, color)] if color is not None else [])
        return g + [(100, "AcDbLine"), (10, a[0]), (20, a[1]), (30, 0.0),
                    (11, b[0]), (21, b[1]), (31, 0.0)]

    @staticmethod
    def polyline(layer, points, closed=True, width=None):
        g = [(0, "LWPOLYLINE"), (8, layer), (100, "AcDbPolyline"), (90, len(points)),
             (70, 1 if closed else 0)]
        if width is not None:
            g.append((43, width))
        for x, y in points:
            g += [(10, x), (20, y)]
        return g

    @staticmethod
    def circle(layer, c, r):
        return [(0, "CIRCLE"), (8, layer), (100, "AcDbCircle"), (10, c[0]), (20, c[1]),
                (30, 0.0), (40, r)]

    @staticmethod
    def arc(layer, c, r, start, end):
        return [(0, "ARC"), (8, layer), (100, "AcDbCircle"), (10, c[0]), (20, c[1]), (30, 0.0),
                (40, r), (100, "AcDbArc"), (50, start), (51, end)]

    @staticmethod
    def text(layer, p, height, value, angle=0.0):
        return [(0, "TEXT"), (8, layer), (100, "AcDbText"), (10, p[0]), (20, p[1]), (30, 0.0),
                (40, height), (1, value), (50, angle), (7, "Standard"), (100, "AcDbText")]

    @staticmethod
    def insert(layer, block, p, scale=1.0, angle=0.0):
        return [(0, "INSERT"), (8, layer), (100, "AcDbBlockReference"), (2, block),
                (10, p[0]), (20, p[1]), (30, 0.0), (41, scale), (42, scale), (43, scale),
                (50, angle)]

    @staticmethod
    def hatch(layer, points, pattern=None, color=None):
        """A hatch bounded by one closed polygon: solid, or pattern = (name, angle, spacing)
        drawn as one family of parallel lines."""
        g = [(0, "HATCH"), (8, layer)] + ([(62, color)] if color is not None else [])
        g += [(100, "AcDbHatch"), (10, 0.0), (20, 0.0), (30, 0.0), (210, 0.0), (220, 0.0),
              (230, 1.0), (2, pattern[0] if pattern else "SOLID"), (70, 0 if pattern else 1),
              (71, 0), (91, 1), (92, 3), (72, 0), (73, 1), (93, len(points))]
        for x, y in points:
            g += [(10, x), (20, y)]
        g += [(97, 0), (75, 0), (76, 1)]
        if pattern:
            name, angle, spacing = pattern
            a = math.radians(angle)
            g += [(52, 0.0), (41, 1.0), (77, 0), (78, 1), (53, angle), (43, 0.0), (44, 0.0),
                  (45, -spacing * math.sin(a)), (46, spacing * math.cos(a)), (79, 0)]
        g += [(98, 0)]
        return g

    @staticmethod
    def mtext(layer, p, height, value, attach=5, width=0.0):
        """Multi-line text: attach 5 centres it on p; \\P breaks lines."""
        return [(0, "MTEXT"), (8, layer), (100, "AcDbMText"), (10, p[0]), (20, p[1]),
                (30, 0.0), (40, height), (41, width), (71, attach), (72, 1), (1, value),
                (7, "Standard")]

    @staticmethod
    def hatch_loops(layer, loops, families=(), color=None):
        """A hatch bounded by closed polygons (the odd-even rule makes the inner ones holes):
        solid without families, else one family of parallel lines per (angle, spacing)."""
        g = [(0, "HATCH"), (8, layer)] + ([(62, color)] if color is not None else [])
        g += [(100, "AcDbHatch"), (10, 0.0), (20, 0.0), (30, 0.0), (210, 0.0), (220, 0.0),
              (230, 1.0), (2, "USER" if families else "SOLID"), (70, 0 if families else 1),
              (71, 0), (91, len(loops))]
        for points in loops:
            g += [(92, 3), (72, 0), (73, 1), (93, len(points))]
            for x, y in points:
                g += [(10, x), (20, y)]
            g += [(97, 0)]
        g += [(75, 0), (76, 0 if families else 1)]
        if families:
            g += [(52, 0.0), (41, 1.0), (77, 0), (78, len(families))]
            for angle, spacing in families:
                a = math.radians(angle)
                g += [(53, angle), (43, 0.0), (44, 0.0), (45, -spacing * math.sin(a)),
                      (46, spacing * math.cos(a)), (79, 0)]
        g += [(98, 0)]
        return g

    def image(self, layer, file_name, pixels, corner, width):
        """A raster image of the given pixels placed with its lower-left corner at corner and
        the given width in drawing units; its definition goes to the objects."""
        handle = self.handle()
        self.images.append((handle, file_name, pixels))
        unit = width / pixels[0]
        return [(0, "IMAGE"), (8, layer), (100, "AcDbRasterImage"), (90, 0),
                (10, corner[0]), (20, corner[1]), (30, 0.0), (11, unit), (21, 0.0), (31, 0.0),
                (12, 0.0), (22, unit), (32, 0.0), (13, float(pixels[0])),
                (23, float(pixels[1])), (340, handle), (70, 7), (280, 0), (281, 50), (282, 50),
                (283, 0)]

    def dimension(self, layer, a, b, offset, text_height, vertical=False):
        """A linear dimension from a to b, its line offset from them (negative: below or to
        the left), drawn as CAD programs store it: an anonymous block with extension lines,
        the dimension line, oblique ticks and the measured text."""
        name = f"*D{len([n for n in self.blocks if n.startswith('*D')]) + 1}"
        tick = text_height * 0.6
        gap = text_height * 0.4
        if vertical:
            x = a[0] + offset
            p1, p2 = (x, a[1]), (x, b[1])
            ext = [self.line("0", (a[0] + math.copysign(gap, offset), a[1]),
                             (x + math.copysign(gap, offset), a[1])),
                   self.line("0", (b[0] + math.copysign(gap, offset), b[1]),
                             (x + math.copysign(gap, offset), b[1]))]
            mid = (x - text_height * 0.6, (a[1] + b[1]) / 2)
            angle = 90.0
            value = abs(b[1] - a[1])
        else:
            y = a[1] + offset
            p1, p2 = (a[0], y), (b[0], y)
            ext = [self.line("0", (a[0], a[1] + math.copysign(gap, offset)),
                             (a[0], y + math.copysign(gap, offset))),
                   self.line("0", (b[0], b[1] + math.copysign(gap, offset)),
                             (b[0], y + math.copysign(gap, offset)))]
            mid = ((a[0] + b[0]) / 2, y + text_height * 0.6)
            angle = 0.0
            value = abs(b[0] - a[0])
        ticks = [self.line("0", (p[0] - tick / 2, p[1] - tick / 2), (p[0] + tick / 2, p[1] + tick / 2))
                 for p in (p1, p2)]
        # The text's direction as a vector: readers differ on the unit of MTEXT's angle.
        text = self.mtext("0", mid, text_height, f"{value:.0f}", attach=8) + \
            [(11, math.cos(math.radians(angle))), (21, math.sin(math.radians(angle))), (31, 0.0)]
        self.blocks[name] = ext + [self.line("0", p1, p2)] + ticks + [text]
        return [(0, "DIMENSION"), (8, layer), (100, "AcDbDimension"), (2, name),
                (10, p2[0]), (20, p2[1]), (30, 0.0), (11, mid[0]), (21, mid[1]), (31, 0.0),
                (70, 32), (1, ""), (3, "Standard"), (100, "AcDbAlignedDimension"),
                (13, a[0]), (23, a[1]), (33, 0.0), (14, b[0]), (24, b[1]), (34, 0.0),
                (50, angle), (100, "AcDbRotatedDimension")]

    @staticmethod
    def viewport(paper_center, size, view_center, view_height, vid, layer="VIEWPORTS",
                 frozen=()):
        """A viewport; frozen holds the handles of the layers it does not show."""
        return [(0, "VIEWPORT"), (8, layer), (100, "AcDbViewport"),
                (10, paper_center[0]), (20, paper_center[1]), (30, 0.0),
                (40, size[0]), (41, size[1]), (68, 1), (69, vid),
                (12, view_center[0]), (22, view_center[1]), (13, 0.0), (23, 0.0),
                (14, 10.0), (24, 10.0), (15, 10.0), (25, 10.0),
                (16, 0.0), (26, 0.0), (36, 1.0), (17, 0.0), (27, 0.0), (37, 0.0),
                (42, 50.0), (43, 0.0), (44, 0.0), (45, view_height), (50, 0.0), (51, 0.0),
                (72, 100), (73, 1), (74, 0)] + [(331, h) for h in frozen] + \
            [(90, 32864), (281, 0), (71, 1)]

    # -- output ---------------------------------------------------------------------------
    def write(self, path):
        out = []

        def put(code, value):
            if isinstance(value, float):
                value = f"{value:.6f}".rstrip("0").rstrip(".") if value != int(value) else f"{value:.1f}"
            out.append(f"{code:>3}\n{value}\n")

        def put_all(groups):
            for code, value in groups:
                put(code, value)

        # Handles of everything the tables and objects refer to.
        h_block_table = self.handle()
        records = {"*Model_Space": self.handle(), "*Paper_Space": self.handle()}
        for i in range(1, len(self.papers)):
            records[f"*Paper_Space{i - 1}"] = self.handle()
        for name in self.blocks:
            records[name] = self.handle()
        h_root, h_layouts = self.handle(), self.handle()
        h_images = self.handle() if self.images else None
        layout_handles = [self.handle() for _ in range(len(self.papers) + 1)]
        paper_blocks = ["*Paper_Space"] + [f"*Paper_Space{i}" for i in range(len(self.papers) - 1)]
        # The active paper layout's entities lie in *Paper_Space (ENTITIES section), the others
        # in their own blocks.
        order = list(range(len(self.papers)))
        if self.active_paper is not None:
            order.remove(self.active_paper)
            order.insert(0, self.active_paper)
        block_of_paper = {paper: paper_blocks[i] for i, paper in enumerate(order)}
        body = {"*Model_Space": [], "*Paper_Space": []}

        put_all([(0, "SECTION"), (2, "HEADER"), (9, "$ACADVER"), (1, "AC1015"),
                 (9, "$HANDSEED"), (5, "FFFF"), (9, "$INSUNITS"), (70, 4),
                 (9, "$MEASUREMENT"), (70, 1),
                 (9, "$TILEMODE"), (70, 1 if self.active_paper is None else 0),
                 (0, "ENDSEC")])
        put_all([(0, "SECTION"), (2, "CLASSES"), (0, "ENDSEC")])

        put_all([(0, "SECTION"), (2, "TABLES")])

        def table(name, entries):
            h = self.handle()
            put_all([(0, "TABLE"), (2, name), (5, h), (330, "0"), (100, "AcDbSymbolTable"),
                     (70, len(entries))])
            for groups in entries:
                own = self.layer_handles.get(groups[2][1]) if name == "LAYER" else None
                put_all([(0, name), (5, own or self.handle()), (330, h)] + groups)
            put_all([(0, "ENDTAB")])

        table("VPORT", [[(100, "AcDbSymbolTableRecord"), (100, "AcDbViewportTableRecord"),
                         (2, "*Active"), (70, 0), (10, 0.0), (20, 0.0), (11, 1.0), (21, 1.0),
                         (12, self.model_center[0]), (22, self.model_center[1]),
                         (40, self.model_height), (41, 1.5)]])
        linetypes = [("ByBlock", "", []), ("ByLayer", "", []), ("Continuous", "Solid line", []),
                     ("DASHED", "Dashed __ __ __", [12.7, -6.35]),
                     ("CENTER", "Center ____ _ ____", [31.75, -6.35, 6.35, -6.35])]
        table("LTYPE", [[(100, "AcDbSymbolTableRecord"), (100, "AcDbLinetypeTableRecord"),
                         (2, name), (70, 0), (3, text), (72, 65), (73, len(dashes)),
                         (40, float(sum(abs(d) for d in dashes)))] +
                        [g for d in dashes for g in ((49, float(d)), (74, 0))]
                        for name, text, dashes in linetypes])
        table("LAYER", [[(100, "AcDbSymbolTableRecord"), (100, "AcDbLayerTableRecord"),
                         (2, layer[0]), (70, 0), (62, layer[1]), (6, layer[2]),
                         (290, 1 if len(layer) < 5 or layer[4] else 0), (370, layer[3]),
                         (390, "F")] for layer in self.layers])
        table("STYLE", [[(100, "AcDbSymbolTableRecord"), (100, "AcDbTextStyleTableRecord"),
                         (2, "Standard"), (70, 0), (40, 0.0), (41, 1.0), (50, 0.0), (71, 0),
                         (42, 2.5), (3, "arial.ttf"), (4, "")]])
        table("VIEW", [])
        table("UCS", [])
        table("APPID", [[(100, "AcDbSymbolTableRecord"), (100, "AcDbRegAppTableRecord"),
                         (2, "ACAD"), (70, 0)]])
        table("DIMSTYLE", [])
        put_all([(0, "TABLE"), (2, "BLOCK_RECORD"), (5, h_block_table), (330, "0"),
                 (100, "AcDbSymbolTable"), (70, len(records))])
        for name, h in records.items():
            layout = "0"
            if name == "*Model_Space":
                layout = layout_handles[0]
            elif name.startswith("*Paper_Space"):
                paper = [p for p, b in block_of_paper.items() if b == name][0]
                layout = layout_handles[paper + 1]
            put_all([(0, "BLOCK_RECORD"), (5, h), (330, h_block_table),
                     (100, "AcDbSymbolTableRecord"), (100, "AcDbBlockTableRecord"), (2, name),
                     (340, layout)])
        put_all([(0, "ENDTAB"), (0, "ENDSEC")])

        def entity(groups, owner, paper):
            # Type, handle and owner first, then the entity's own groups.
            g = [groups[0], (5, self.handle()), (330, records[owner]), (100, "AcDbEntity")]
            if paper:
                g.append((67, 1))
            return g + [x for x in groups[1:] if x is not None]

        put_all([(0, "SECTION"), (2, "BLOCKS")])
        block_entities = {b: [] for b in paper_blocks}
        for paper, (name, size, entities) in enumerate(self.papers):
            b = block_of_paper[paper]
            vid = 1
            sheet = self.viewport((size[0] / 2, size[1] / 2), size, (size[0] / 2, size[1] / 2),
                                  size[1], 1, self.viewport_layer)
            block_entities[b].append(entity(sheet, b, True))
            for e in entities:
                if e[0] == (0, "VIEWPORT"):
                    vid += 1
                    e = [x if x[0] != 69 else (69, vid) for x in e]
                block_entities[b].append(entity(e, b, True))
        names = ["*Model_Space"] + paper_blocks + list(self.blocks)
        for name in names:
            paper = name.startswith("*Paper_Space")
            put_all([(0, "BLOCK"), (5, self.handle()), (330, records[name]),
                     (100, "AcDbEntity")] + ([(67, 1)] if paper else []) +
                    [(8, "0"), (100, "AcDbBlockBegin"), (2, name),
                     (70, 1 if name.startswith("*D") else 0), (10, 0.0),
                     (20, 0.0), (30, 0.0), (3, name), (1, "")])
            if name in self.blocks:
                for e in self.blocks[name]:
                    put_all(entity(e, name, False))
            elif name != "*Model_Space" and name != "*Paper_Space":
                for e in block_entities[name]:
                    put_all(e)
            put_all([(0, "ENDBLK"), (5, self.handle()), (330, records[name]),
                     (100, "AcDbEntity")] + ([(67, 1)] if paper else []) +
                    [(8, "0"), (100, "AcDbBlockEnd")])
        put_all([(0, "ENDSEC")])

        put_all([(0, "SECTION"), (2, "ENTITIES")])
        for e in self.model:
            put_all(entity(e, "*Model_Space", False))
        for e in block_entities["*Paper_Space"]:
            put_all(e)
        put_all([(0, "ENDSEC")])

        put_all([(0, "SECTION"), (2, "OBJECTS"),
                 (0, "DICTIONARY"), (5, h_root), (330, "0"), (100, "AcDbDictionary"),
                 (281, 1), (3, "ACAD_LAYOUT"), (350, h_layouts)]
                + ([(3, "ACAD_IMAGE_DICT"), (350, h_images)] if self.images else []) +
                [(0, "DICTIONARY"), (5, h_layouts), (330, h_root), (100, "AcDbDictionary"),
                 (281, 1), (3, "Model"), (350, layout_handles[0])])
        for i, (name, _, _) in enumerate(self.papers):
            put_all([(3, name), (350, layout_handles[i + 1])])
        if self.images:
            put_all([(0, "DICTIONARY"), (5, h_images), (330, h_root), (100, "AcDbDictionary"),
                      (281, 1)])
            for handle, file_name, _ in self.images:
                put_all([(3, os.path.splitext(file_name)[0]), (350, handle)])
            for handle, file_name, pixels in self.images:
                put_all([(0, "IMAGEDEF"), (5, handle), (330, h_images),
                         (100, "AcDbRasterImageDef"), (90, 0), (1, file_name),
                         (10, float(pixels[0])), (20, float(pixels[1])), (11, 1.0), (21, 1.0),
                         (280, 1), (281, 0)])
        put_all([])
        layouts = [("Model", (297.0, 210.0), "*Model_Space", 0)]
        layouts += [(name, size, block_of_paper[i], i + 1)
                    for i, (name, size, _) in enumerate(self.papers)]
        for i, (name, size, block, tab) in enumerate(layouts):
            model = block == "*Model_Space"
            put_all([(0, "LAYOUT"), (5, layout_handles[i]), (330, h_layouts),
                     (100, "AcDbPlotSettings"), (1, ""), (2, "none_device"),
                     (4, f"ISO_({size[0]:.2f}_x_{size[1]:.2f}_MM)"), (6, ""),
                     (40, 0.0), (41, 0.0), (42, 0.0), (43, 0.0), (44, size[0]), (45, size[1]),
                     (46, 0.0), (47, 0.0), (48, 0.0), (49, 0.0), (140, 0.0), (141, 0.0),
                     (142, 1.0), (143, 1.0), (70, 1024 if model else 688), (72, 1), (73, 0),
                     (74, 0 if model else 5), (7, ""), (75, 0), (147, 1.0),
                     (100, "AcDbLayout"), (1, name), (70, 1), (71, tab),
                     (10, 0.0), (20, 0.0), (11, size[0]), (21, size[1]),
                     (12, 0.0), (22, 0.0), (32, 0.0),
                     (14, 0.0), (24, 0.0), (34, 0.0), (15, size[0]), (25, size[1]), (35, 0.0),
                     (146, 0.0), (13, 0.0), (23, 0.0), (33, 0.0), (16, 1.0), (26, 0.0), (36, 0.0),
                     (17, 0.0), (27, 1.0), (37, 0.0), (76, 0), (330, records[block])])
        put_all([(0, "ENDSEC"), (0, "EOF")])
        with open(path, "w", newline="\n") as f:
            f.write("".join(out))


def title_block(d, size, title, scale_text):
    """A frame and a title block in paper space (millimetres)."""
    w, h = size
    return [
        d.polyline("FRAME", [(10, 10), (w - 10, 10), (w - 10, h - 10), (10, h - 10)], width=0.5),
        d.polyline("FRAME", [(w - 130, 10), (w - 10, 10), (w - 10, 40), (w - 130, 40)]),
        d.line("FRAME", (w - 130, 25), (w - 10, 25)),
        d.text("TITLE", (w - 126, 30), 5.0, title),
        d.text("TITLE", (w - 126, 15), 3.5, scale_text),
    ]


def floorplan():
    """A small flat: walls, doors as block inserts, room names, a hatched bathroom floor."""
    d = Dxf()
    d.layers = [("0", 7, "Continuous", -3), ("WALLS", 7, "Continuous", 50),
                ("DOORS", 3, "Continuous", 25), ("TEXT", 5, "Continuous", 18),
                ("HATCH", 8, "Continuous", 13), ("AXES", 1, "CENTER", 13),
                ("FRAME", 7, "Continuous", 35), ("TITLE", 7, "Continuous", 25),
                ("VIEWPORTS", 4, "Continuous", 13)]
    d.blocks["DOOR"] = [d.line("0", (0, 0), (900, 0)), d.line("0", (0, 0), (0, 900)),
                        d.arc("0", (0, 0), 900, 0, 90)]
    outer = [(0, 0), (9000, 0), (9000, 6000), (0, 6000)]
    inner = [(200, 200), (8800, 200), (8800, 5800), (200, 5800)]
    # The bathroom floor first, so that the walls and the door are drawn over it.
    d.model = [d.hatch("HATCH", [(6500, 200), (8800, 200), (8800, 3000), (6500, 3000)],
                       color=151),
               d.polyline("WALLS", outer), d.polyline("WALLS", inner),
               d.line("WALLS", (4000, 200), (4000, 5800)),
               d.line("WALLS", (4000, 3000), (8800, 3000)),
               d.line("WALLS", (6500, 200), (6500, 3000)),
               d.insert("DOORS", "DOOR", (4000, 1000), 1.0, 0.0),
               d.insert("DOORS", "DOOR", (5000, 3000), 1.0, 0.0),
               d.insert("DOORS", "DOOR", (7000, 3000), 1.0, 270.0),
               d.text("TEXT", (1200, 3000), 250, "Living room"),
               d.text("TEXT", (5200, 4300), 250, "Bedroom"),
               d.text("TEXT", (4300, 1500), 200, "Hall"),
               d.text("TEXT", (6800, 1500), 200, "Bath"),
               d.line("AXES", (-500, 3000), (9500, 3000)),
               d.line("AXES", (4000, -500), (4000, 6500))]
    d.model_center, d.model_height = (4500, 3000), 7000
    a3, a4 = (420.0, 297.0), (297.0, 210.0)
    d.papers = [
        ("Plan A3", a3, title_block(d, a3, "Flat, ground floor", "Scale 1:25") +
         [d.viewport((200, 160), (360, 240), (4500, 3000), 6600, 2)]),
        ("Details A4", a4, title_block(d, a4, "Bathroom and door", "Scale 1:10 and 1:25") +
         [d.viewport((80, 125), (130, 150), (7650, 1600), 3200, 2),
          d.viewport((215, 125), (130, 150), (4450, 1450), 1500, 3)]),
    ]
    d.active_paper = 0
    return d


def write_logo(path):
    """The office's logo for the title block: a dark blue house on white, 96 × 48 pixels, as
    an 8-bit RGB PNG written with zlib alone."""
    import struct
    import zlib
    w, h = 96, 48
    rows = []
    for y in range(h):
        row = bytearray([0])
        for x in range(w):
            # Roof: a triangle over the body; body with a door; a bar under it all.
            roof = 6 <= y < 22 and abs(x - 24) <= (y - 6) * 1.25
            body = 22 <= y < 40 and 10 <= x <= 38 and not (20 <= x <= 28 and y >= 28)
            bar = 43 <= y < 46 and 4 <= x < 92
            word = 14 <= y < 36 and x >= 46 and (x - 46) % 12 < 8 and y % 7 < 5
            dark = roof or body or bar or word
            row += bytes((20, 50, 110) if dark else (255, 255, 255))
        rows.append(bytes(row))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + \
            struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)
    return w, h


def sheet_frame(d, size, fields, logo):
    """An A3 sheet's frame (a wider margin on the left for filing) and a title block with the
    office's logo and the drawing's fields, in millimetres of paper."""
    w, h = size
    x0, x1 = w - 190, w - 10
    block = [
        d.polyline("FRAME", [(20, 10), (w - 10, 10), (w - 10, h - 10), (20, h - 10)]),
        d.polyline("TITLE", [(x0, 10), (x1, 10), (x1, 62), (x0, 62)]),
        d.line("TITLE", (x0, 44), (x1, 44)), d.line("TITLE", (x0, 27), (x1, 27)),
        d.line("TITLE", (x0 + 60, 10), (x0 + 60, 44)),
        d.line("TITLE", (x0 + 120, 10), (x0 + 120, 44)),
        d.image("TITLE", "logo.png", logo, (x0 + 3, 47), 24.0),
        d.text("TITLE", (x0 + 32, 55), 4.0, "Lindqvist & Ohm Architects"),
        d.text("TITLE", (x0 + 32, 48.5), 2.5, "Hamngatan 4, 411 14 Göteborg"),
    ]
    cells = [(x0, 27), (x0 + 60, 27), (x0 + 120, 27), (x0, 10), (x0 + 60, 10), (x0 + 120, 10)]
    for (label, value), (x, y) in zip(fields, cells):
        block.append(d.text("TITLE", (x + 2, y + 12), 2.0, label))
        block.append(d.text("TITLE", (x + 2, y + 4), 3.5 if len(value) < 22 else 2.5, value))
    return block


def north_arrow(d, center, radius):
    x, y = center
    return [d.circle("TITLE", center, radius),
            d.hatch_loops("TITLE", [[(x, y + radius), (x - radius * 0.4, y - radius * 0.7),
                                     (x, y - radius * 0.35)]]),
            d.polyline("TITLE", [(x, y + radius), (x + radius * 0.4, y - radius * 0.7),
                                 (x, y - radius * 0.35)]),
            d.text("TITLE", (x - 1.2, y + radius + 2), 3.5, "N")]


def scale_bar(d, corner, metres, scale):
    """Alternating black and white metres of the model at the given scale, with figures."""
    x, y = corner
    step = 1000.0 / scale
    out = []
    for i in range(metres):
        box = [(x + i * step, y), (x + (i + 1) * step, y), (x + (i + 1) * step, y + 2),
               (x + i * step, y + 2)]
        out.append(d.polyline("TITLE", box))
        if i % 2 == 0:
            out.append(d.hatch_loops("TITLE", [box]))
        out.append(d.text("TITLE", (x + i * step - 0.8, y + 3.5), 2.0, str(i)))
    out.append(d.text("TITLE", (x + metres * step - 0.8, y + 3.5), 2.0, f"{metres} m"))
    out.append(d.text("TITLE", (x, y - 5), 2.5, f"Scale 1:{scale}"))
    return out


def rect(x0, y0, x1, y1):
    return [(x0, y0), (x1, y0), (x1, y1), (x0, y1)]


def house(folder):
    """A one-storey house as an office draws it: walls cut and hatched, doors and windows,
    furniture, tiled floors, room names with areas, dimension chains, and two A3 sheets at
    1:50 and 1:20 with a title block, the office's logo as a raster image, a north arrow and
    a scale bar; the viewports lie on a layer that is not plotted."""
    d = Dxf()
    d.viewport_layer = "VIEWPORTS"
    d.layers = [("0", 7, "Continuous", -3), ("A-WALL", 7, "Continuous", 50),
                ("A-WALL-PATT", 8, "Continuous", 13), ("A-DOOR", 3, "Continuous", 25),
                ("A-GLAZ", 5, "Continuous", 25), ("A-FURN", 8, "Continuous", 18),
                ("A-FLOR-PATT", 253, "Continuous", 9), ("A-AREA-IDEN", 7, "Continuous", 25),
                ("A-ANNO-DIMS", 1, "Continuous", 18), ("A-ANNO-DIMS-20", 1, "Continuous", 18),
                ("A-GRID", 1, "CENTER", 13),
                ("FRAME", 7, "Continuous", 70), ("TITLE", 7, "Continuous", 25),
                ("VIEWPORTS", 4, "Continuous", 13, False)]
    # Blocks: a door leaf with its swing (900 wide), a window in a 300 wall (1000 long).
    d.blocks["DOOR"] = [d.polyline("0", rect(0, 0, 40, 900)), d.arc("0", (0, 0), 900, 0, 90)]
    d.blocks["WINDOW"] = [d.polyline("0", rect(0, 0, 1000, 300)),
                          d.line("0", (0, 140), (1000, 140)), d.line("0", (0, 160), (1000, 160))]
    t, s = 300.0, 115.0
    walls = [
        # Outer walls with openings for the windows and the entrance.
        (0, 0, 1500, t), (3500, 0, 8000, t), (10000, 0, 12000, t),
        (0, 8500 - t, 1800, 8500), (3800, 8500 - t, 6200, 8500), (7200, 8500 - t, 10000, 8500),
        (11000, 8500 - t, 12000, 8500),
        (0, t, t, 8500 - t), (12000 - t, t, 12000, 8500 - t),
        # Inner walls: hall to living room and kitchen, living room to kitchen, bedroom, bath.
        (t, 4500 - s / 2, 5500, 4500 + s / 2), (6400, 4500 - s / 2, 7500, 4500 + s / 2),
        (8400, 4500 - s / 2, 12000 - t, 4500 + s / 2),
        (7000 - s / 2, t, 7000 + s / 2, 1200), (7000 - s / 2, 3200, 7000 + s / 2, 4500 - s / 2),
        (5000 - s / 2, 4500 + s / 2, 5000 + s / 2, 5000),
        (5000 - s / 2, 5900, 5000 + s / 2, 8500 - t),
        (8500 - s / 2, 4500 + s / 2, 8500 + s / 2, 5200),
        (8500 - s / 2, 6000, 8500 + s / 2, 8500 - t),
    ]
    model = []
    # Floors first, so that everything else is drawn over them.
    model.append(d.hatch_loops("A-FLOR-PATT", [rect(8500 + s / 2, 4500 + s / 2, 12000 - t, 8500 - t)],
                               [(0, 200), (90, 200)]))
    model.append(d.hatch_loops("A-FLOR-PATT", [rect(7000 + s / 2, t, 12000 - t, 4500 - s / 2)],
                               [(0, 300), (90, 300)]))
    for x0, y0, x1, y1 in walls:
        model.append(d.hatch_loops("A-WALL-PATT", [rect(x0, y0, x1, y1)], [(45, 80)]))
        model.append(d.polyline("A-WALL", rect(x0, y0, x1, y1)))
    # Windows (south, north) and doors: hinge at the insertion point.
    for x0, x1, y in ((1500, 3500, 0), (8000, 10000, 0), (1800, 3800, 8500 - t),
                      (10000, 11000, 8500 - t)):
        model.append([(0, "INSERT"), (8, "A-GLAZ"), (100, "AcDbBlockReference"), (2, "WINDOW"),
                      (10, x0), (20, y), (30, 0.0), (41, (x1 - x0) / 1000), (42, 1.0),
                      (43, 1.0), (50, 0.0)])
    doors = [((5500, 4500 - s / 2), 0, -1), ((7500, 4500 - s / 2), 0, -1),
             ((5000 - s / 2, 5000), 90, 1), ((8500 + s / 2, 5200), 90, -1),
             ((6200, 8500 - t), 0, -1)]
    for (x, y), angle, side in doors:
        model.append([(0, "INSERT"), (8, "A-DOOR"), (100, "AcDbBlockReference"), (2, "DOOR"),
                      (10, x), (20, y), (30, 0.0), (41, 1.0), (42, float(side)), (43, 1.0),
                      (50, float(angle))])
    # Furniture.
    model += [d.polyline("A-FURN", rect(600, 600, 2800, 1500)),          # sofa
              d.polyline("A-FURN", rect(600, 600, 2800, 800)),
              d.polyline("A-FURN", rect(1200, 2000, 2200, 2600)),        # low table
              d.circle("A-FURN", (4800, 2700), 600),                      # dining table
              d.polyline("A-FURN", rect(7000 + s / 2, 300, 11700, 900)),  # kitchen counter
              d.polyline("A-FURN", rect(9000, 400, 9800, 800)),           # sink
              d.circle("A-FURN", (10500, 500), 90), d.circle("A-FURN", (10900, 500), 90),
              d.circle("A-FURN", (10500, 750), 110), d.circle("A-FURN", (10900, 750), 110),
              d.polyline("A-FURN", rect(1200, 5600, 2800, 7600)),         # bed
              d.polyline("A-FURN", rect(1300, 7200, 1950, 7500)),
              d.polyline("A-FURN", rect(2050, 7200, 2700, 7500)),
              d.polyline("A-FURN", rect(t, 4700, 900, 6700)),             # wardrobe
              d.polyline("A-FURN", rect(9950, 8500 - t - 750, 11700, 8500 - t)),  # bath tub
              d.polyline("A-FURN", rect(10050, 7550, 11600, 8120)),
              d.polyline("A-FURN", rect(11200, 4700, 11700, 5100)),       # basin
              d.circle("A-FURN", (11450, 4900), 150),
              d.polyline("A-FURN", rect(11500, 6100, 11700, 6500)),        # WC
              d.circle("A-FURN", (11270, 6300), 220)]
    for dx in (-700, 700):
        model.append(d.circle("A-FURN", (4800 + dx, 2700), 220))
    for dy in (-700, 700):
        model.append(d.circle("A-FURN", (4800, 2700 + dy), 220))
    # Room names with their net floor areas.
    rooms = [("Living room", (t, t, 7000 - s / 2, 4500 - s / 2)),
             ("Kitchen", (7000 + s / 2, t, 12000 - t, 4500 - s / 2)),
             ("Bedroom", (t, 4500 + s / 2, 5000 - s / 2, 8500 - t)),
             ("Hall", (5000 + s / 2, 4500 + s / 2, 8500 - s / 2, 8500 - t)),
             ("Bath", (8500 + s / 2, 4500 + s / 2, 12000 - t, 8500 - t))]
    for name, (x0, y0, x1, y1) in rooms:
        area = (x1 - x0) * (y1 - y0) / 1e6
        centre = ((x0 + x1) / 2, (y0 + y1) / 2 + (300 if name == "Kitchen" else 0))
        model.append(d.mtext("A-AREA-IDEN", centre, 175,
                             f"{name}\\P{{\\H0.8x;{area:.1f} m\\U+00B2}}"))
    # Grid lines and dimension chains outside the walls (text 2.5 mm at 1:50).
    for (a, b), bubble, label in ((((-2100, 4500), (12300, 4500)), (-2350, 4500), "B"),
                                  (((7000, -1500), (7000, 9000)), (7000, 9250), "2")):
        model.append(d.line("A-GRID", a, b))
        model.append(d.circle("A-GRID", bubble, 250))
        model.append(d.mtext("A-GRID", bubble, 200, label))
    south = [0, 1500, 3500, 7000, 8000, 10000, 12000]
    for a, b in zip(south, south[1:]):
        model.append(d.dimension("A-ANNO-DIMS", (a, 0), (b, 0), -900, 125))
    model.append(d.dimension("A-ANNO-DIMS", (0, 0), (12000, 0), -1600, 125))
    for a, b in ((0, 4500), (4500, 8500)):
        model.append(d.dimension("A-ANNO-DIMS", (0, a), (0, b), -900, 125, vertical=True))
    model.append(d.dimension("A-ANNO-DIMS", (0, 0), (0, 8500), -1600, 125, vertical=True))
    # The bath's own dimensions at 1:20 (text 2.5 mm at 1:20).
    model.append(d.dimension("A-ANNO-DIMS-20", (8500 + s / 2, 7000), (12000 - t, 7000), 0, 50))
    model.append(d.dimension("A-ANNO-DIMS-20", (9700, 4500 + s / 2), (9700, 8500 - t), 0, 50,
                             vertical=True))
    d.model = model
    d.model_center, d.model_height = (5500, 3500), 13000

    logo = write_logo(os.path.join(folder, "logo.png"))
    a3 = (420.0, 297.0)
    fields = [("Project", "House Ekberg, Kullavik"), ("Drawing", "Ground floor plan"),
              ("Scale", "1:50"), ("Date", "2026-12-08"), ("Drawn", "A. Lindqvist"),
              ("Sheet", "A-101")]
    detail = [("Project", "House Ekberg, Kullavik"), ("Drawing", "Bathroom"),
              ("Scale", "1:20"), ("Date", "2026-12-08"), ("Drawn", "A. Lindqvist"),
              ("Sheet", "A-501")]
    # Viewport heights in model millimetres: paper height × scale.
    d.papers = [
        ("A-101 Plan", a3, sheet_frame(d, a3, fields, logo) +
         [d.viewport((175, 172), (300, 230), (4850, 3875), 230 * 50, 2,
                     frozen=[d.layer_handle("A-ANNO-DIMS-20")])] +
         north_arrow(d, (385, 250), 10) + scale_bar(d, (30, 22), 5, 50)),
        ("A-501 Bathroom", a3, sheet_frame(d, a3, detail, logo) +
         [d.viewport((150, 175), (250, 220), (10221, 6371), 220 * 20, 2,
                     frozen=[d.layer_handle("A-ANNO-DIMS"), d.layer_handle("A-AREA-IDEN")])] +
         north_arrow(d, (385, 250), 10) + scale_bar(d, (30, 22), 3, 20) +
         [d.text("A-AREA-IDEN", (30, 40), 5.0, "Bathroom, 11.4 m\\U+00B2, tiles 200 x 200")]),
    ]
    d.active_paper = 0
    return d


def bracket():
    """A machined bracket: outline, bolt holes as inserts, centre lines, a section hatch."""
    d = Dxf()
    d.layers = [("0", 7, "Continuous", -3), ("OUTLINE", 7, "Continuous", 50),
                ("HIDDEN", 5, "DASHED", 25), ("CENTER", 1, "CENTER", 18),
                ("SECTION", 6, "Continuous", 13), ("TEXT", 5, "Continuous", 18),
                ("FRAME", 7, "Continuous", 35), ("TITLE", 7, "Continuous", 25),
                ("VIEWPORTS", 4, "Continuous", 13)]
    d.blocks["BOLT"] = [d.circle("0", (0, 0), 4.5), d.circle("0", (0, 0), 8),
                        d.line("0", (-10, 0), (10, 0)), d.line("0", (0, -10), (0, 10))]
    d.model = [d.polyline("OUTLINE", [(0, 0), (120, 0), (120, 20), (40, 20), (40, 80), (0, 80)]),
               d.arc("OUTLINE", (20, 80), 20, 0, 180),
               d.circle("OUTLINE", (20, 80), 10),
               d.insert("OUTLINE", "BOLT", (70, 10), 0.8),
               d.insert("OUTLINE", "BOLT", (100, 10), 0.8),
               d.line("HIDDEN", (10, 80), (10, 0)), d.line("HIDDEN", (30, 80), (30, 0)),
               d.line("CENTER", (20, -10), (20, 110)), d.line("CENTER", (5, 80), (35, 80)),
               d.hatch("SECTION", [(0, 0), (40, 0), (40, 20), (0, 20)], ("ANSI31", 45, 3.175)),
               d.text("TEXT", (50, 60), 5, "Bracket B-12"),
               d.text("TEXT", (50, 50), 3.5, "Steel S235, 4 mm")]
    d.model_center, d.model_height = (60, 50), 130
    a4, a3 = (297.0, 210.0), (420.0, 297.0)
    d.papers = [
        ("Sheet", a4, title_block(d, a4, "Bracket B-12", "Scale 1:1") +
         [d.viewport((100, 120), (160, 160), (60, 50), 160, 2)]),
        ("Enlarged", a3, title_block(d, a3, "Bracket B-12, hole", "Scale 4:1") +
         [d.viewport((200, 160), (300, 220), (20, 80), 55, 2)]),
    ]
    d.active_paper = None
    return d


def colours():
    """The colour wheel of the drawing colours with lineweights: shows the colour modes."""
    d = Dxf()
    d.layers = [("0", 7, "Continuous", -3), ("WHEEL", 7, "Continuous", 35),
                ("WEIGHTS", 7, "Continuous", -3), ("TEXT", 5, "Continuous", 18),
                ("FRAME", 7, "Continuous", 35), ("TITLE", 7, "Continuous", 25),
                ("VIEWPORTS", 4, "Continuous", 13)]
    d.model = []
    for i in range(1, 25):
        a = math.radians(i * 15)
        d.model.append(d.hatch("WHEEL", [(0, 0), (50 * math.cos(a - 0.13), 50 * math.sin(a - 0.13)),
                                        (50 * math.cos(a + 0.13), 50 * math.sin(a + 0.13))],
                               color=i * 10))
    for i, w in enumerate([0, 13, 25, 35, 50, 70, 100, 140, 200]):
        line = d.line("WEIGHTS", (70, 40 - i * 10), (150, 40 - i * 10), color=i + 1)
        line.insert(2, (370, w))
        d.model.append(line)
        d.model.append(d.text("TEXT", (155, 38 - i * 10), 4, f"{w / 100:.2f} mm"))
    d.model.append(d.text("TEXT", (-50, 60), 8, "Colours and lineweights"))
    d.model_center, d.model_height = (50, 0), 140
    a4 = (297.0, 210.0)
    d.papers = [
        ("Overview", a4, title_block(d, a4, "Colours", "Scale 1:1") +
         [d.viewport((148, 120), (260, 150), (50, 0), 140, 2)]),
        ("Wheel", a4, title_block(d, a4, "Colour wheel", "Scale 1.5:1") +
         [d.viewport((148, 120), (180, 150), (0, 0), 100, 2)]),
    ]
    d.active_paper = 1
    return d


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(folder, exist_ok=True)
    makers = (("house", lambda: house(folder)), ("floorplan", floorplan), ("bracket", bracket),
              ("colours", colours))
    for name, make in makers:
        path = os.path.join(folder, name + ".dxf")
        make().write(path)
        print(path)


if __name__ == "__main__":
    main()
