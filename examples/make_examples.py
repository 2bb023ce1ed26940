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
        self.layers = []          # (name, colour, linetype, lineweight)
        self.blocks = {}          # name -> list of entity group lists
        self.model = []           # model-space entities
        self.papers = []          # (name, paper mm (w, h), entities)
        self.active_paper = 0     # the paper layout active when "saved" (None: model space)

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
    def viewport(paper_center, size, view_center, view_height, vid):
        return [(0, "VIEWPORT"), (8, "VIEWPORTS"), (100, "AcDbViewport"),
                (10, paper_center[0]), (20, paper_center[1]), (30, 0.0),
                (40, size[0]), (41, size[1]), (68, 1), (69, vid),
                (12, view_center[0]), (22, view_center[1]), (13, 0.0), (23, 0.0),
                (14, 10.0), (24, 10.0), (15, 10.0), (25, 10.0),
                (16, 0.0), (26, 0.0), (36, 1.0), (17, 0.0), (27, 0.0), (37, 0.0),
                (42, 50.0), (43, 0.0), (44, 0.0), (45, view_height), (50, 0.0), (51, 0.0),
                (72, 100), (73, 1), (74, 0), (90, 32864), (281, 0), (71, 1)]

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
                put_all([(0, name), (5, self.handle()), (330, h)] + groups)
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
                         (2, name), (70, 0), (62, color), (6, ltype), (370, weight),
                         (390, "F")] for name, color, ltype, weight in self.layers])
        table("STYLE", [[(100, "AcDbSymbolTableRecord"), (100, "AcDbTextStyleTableRecord"),
                         (2, "Standard"), (70, 0), (40, 0.0), (41, 1.0), (50, 0.0), (71, 0),
                         (42, 2.5), (3, "txt"), (4, "")]])
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
                                  size[1], 1)
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
                    [(8, "0"), (100, "AcDbBlockBegin"), (2, name), (70, 0), (10, 0.0),
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
                 (281, 1), (3, "ACAD_LAYOUT"), (350, h_layouts),
                 (0, "DICTIONARY"), (5, h_layouts), (330, h_root), (100, "AcDbDictionary"),
                 (281, 1), (3, "Model"), (350, layout_handles[0])])
        for i, (name, _, _) in enumerate(self.papers):
            put_all([(3, name), (350, layout_handles[i + 1])])
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


def bracket():
    """A machined bracket: outline, bolt holes as inserts, centre lines, a section hatch."""
    d = Dxf()
    d.layers = [("0", 7, "Continuous", -3), ("OUTLINE", 7, "Continuous", 50),
                ("HIDDEN", 2, "DASHED", 25), ("CENTER", 1, "CENTER", 18),
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
    for name, make in (("floorplan", floorplan), ("bracket", bracket), ("colours", colours)):
        path = os.path.join(folder, name + ".dxf")
        make().write(path)
        print(path)


if __name__ == "__main__":
    main()
