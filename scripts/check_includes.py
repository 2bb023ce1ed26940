#!/usr/bin/env python3
"""Checks that every source file includes only headers of the folders its part may depend on.

The parts and what each may include (besides its own headers) are listed in the README's
"Dependencies" section; this table is the same list. Exit status 1 and one line per broken rule
when a file breaks them.

    scripts/check_includes.py [SOURCE_ROOT]
"""
import pathlib
import re
import sys

# Part: the folders (or single headers) whose headers it may include. A part is a top folder,
# except where a finer one is named: the pen-set files read plot style tables through the
# drawing library's contract, which the pens themselves do not see, and each reader of the
# drawing library sees only the model, the text decoding and (DXF and DWG, which store the
# same proxy graphics) the decoder of proxy graphics; DWG, which stores some splines by their
# fit points alone, also the model's spline fitting.
ALLOWED = {
    "platform": set(),
    "pdf": {"platform"},
    "pensets": {"platform"},
    "render": {"pdf", "pensets", "platform"},
    "pensetfiles": {"pensets", "platform", "render/Drawing.h"},
    "drawing": {"drawing/text", "drawing/dxf", "drawing/dwg", "drawing/dwf", "render", "platform"},
    "drawing/text": {"platform"},
    "drawing/dxf": {"drawing/Model.h", "drawing/ProxyGraphics.h", "drawing/text", "platform"},
    "drawing/dwg": {"drawing/Model.h", "drawing/ProxyGraphics.h", "drawing/SplineFit.h",
                    "drawing/text", "platform"},
    "drawing/dwf": {"drawing/Model.h", "drawing/text", "platform"},
    "convert": {"render", "pdf", "pensets", "platform"},
    "cli": {"convert", "render", "pdf", "pensets", "pensetfiles", "platform"},
    "ui": {"convert", "render", "pdf", "pensets", "pensetfiles", "platform"},
}

# The parts of the tree that hold no product code and may include anything.
FREE = {"tests", "bench", "examples", "scripts", "build"}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


# The readers inside the drawing library, each a part of its own.
DRAWING_PARTS = {"text", "dxf", "dwg", "dwf"}


def part_of(relative: pathlib.PurePosixPath) -> str:
    if relative.parts[0] == "pensets" and relative.name.startswith("PenSetFile."):
        return "pensetfiles"
    if relative.parts[0] == "drawing" and len(relative.parts) > 2 and relative.parts[1] in DRAWING_PARTS:
        return "drawing/" + relative.parts[1]
    return relative.parts[0]


def target_of(header: str) -> str:
    return part_of(pathlib.PurePosixPath(header))


def allowed(part: str, header: str) -> bool:
    target = target_of(header)
    if target == part:
        return True
    rules = ALLOWED.get(part, set())
    return target in rules or header in rules


def main() -> int:
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    broken = []
    checked = 0
    for path in sorted(root.rglob("*")):
        if path.suffix not in {".h", ".cpp"} or not path.is_file():
            continue
        relative = pathlib.PurePosixPath(path.relative_to(root).as_posix())
        if relative.parts[0] in FREE or relative.parts[0].startswith("."):
            continue
        if relative.parts[:2] == ("drawing", "fuzz"):
            continue  # fuzz targets drive the whole library, as tests do
        part = part_of(relative)
        if part not in ALLOWED:
            broken.append(f"{relative}: in no part of the dependency rules")
            continue
        checked += 1
        text = path.read_text(encoding="utf-8", errors="replace")
        for match in INCLUDE.finditer(text):
            header = match.group(1)
            if "/" not in header:
                continue  # a header beside the file (generated or local)
            if not allowed(part, header):
                line = text.count("\n", 0, match.start()) + 1
                broken.append(f"{relative}:{line}: {part} may not include {header}")
    for line in broken:
        print(line)
    if broken:
        print(f"check_includes: {len(broken)} include(s) break the dependency rules")
        return 1
    print(f"check_includes: {checked} files keep the dependency rules")
    return 0


if __name__ == "__main__":
    sys.exit(main())
