#!/usr/bin/env python3
"""Prints what a test compares of a written PDF, one fact a line, read through qpdf:

    pages N
    page I WxH            (each page's MediaBox, its own or the page tree's)
    outline TITLE @I      (indented two spaces per level; @I the destination page, or @-)
    ocg NAME              (the optional content groups, in the catalog's order)
    info KEY VALUE        (Title, Author, Subject, Keywords, Producer; not the date)

Usage: pdfsummary.py FILE.pdf"""
import json, subprocess, sys


def main(path):
    out = subprocess.run(["qpdf", "--json", "--json-key=qpdf", "--json-key=outlines",
                          "--json-key=pages", path], capture_output=True, text=True)
    if out.returncode not in (0, 3):
        sys.exit(f"qpdf cannot read {path}: {out.stderr.strip()}")
    doc = json.loads(out.stdout)
    objects = {k[4:]: v.get("value") for k, v in doc["qpdf"][1].items()}

    def text(value):
        # qpdf writes PDF strings as "u:text" (or "b:hex" for binary).
        if isinstance(value, str) and value.startswith("u:"):
            return value[2:]
        return str(value)

    catalog = objects["1 0 R"]
    tree = objects[catalog["/Pages"]]
    pages = doc["pages"]
    print(f"pages {len(pages)}")
    for i, page in enumerate(pages, 1):
        box = objects[page["object"]].get("/MediaBox", tree.get("/MediaBox"))
        print(f"page {i} {box[2] - box[0]:g}x{box[3] - box[1]:g}")

    def walk(items, depth):
        for item in items:
            pos = item.get("destpageposfrom1")
            print(f"{'  ' * depth}outline {item['title']} @{pos if pos else '-'}")
            walk(item.get("kids", []), depth + 1)

    walk(doc["outlines"], 0)
    for ref in catalog.get("/OCProperties", {}).get("/OCGs", []):
        print(f"ocg {text(objects[ref]['/Name'])}")
    info = objects.get("5 0 R") or {}
    for key in ("Title", "Author", "Subject", "Keywords", "Producer"):
        if "/" + key in info:
            print(f"info {key} {text(info['/' + key])}")


if __name__ == "__main__":
    main(sys.argv[1])
