#!/usr/bin/env python3
"""Reads an HTML report with a real HTML parser (html5lib, as browsers parse)
and prints what it holds as one JSON object, for the end-to-end tests to
check: the parts of each comparison (summary, counts, other lines, the
records table's header and rows, each cell's text and classes), the
overview of two databases, and anything that would run or fetch.

Usage: html_check.py FILE"""

import json
import sys

import html5lib

NS = "{http://www.w3.org/1999/xhtml}"


def text(element):
    return "".join(element.itertext())


def classes(element):
    return element.get("class", "").split()


def find_all(element, tag, cls=None):
    return [e for e in element.iter(NS + tag) if cls is None or cls in classes(e)]


def cells(row):
    return [[text(c), classes(c)] for c in row if c.tag in (NS + "td", NS + "th")]


def fetches(element):
    href = element.get("href") or "#"
    return bool(element.get("src")) or element.tag == NS + "link" or not href.startswith("#")


def part(div):
    out = {"summary": [text(p) for p in find_all(div, "p", "summary-text")],
           "counts": [text(p) for p in find_all(div, "p", "count")],
           "lines": [text(li) for li in find_all(div, "li")],
           "measures": {},
           "header": [], "rows": []}
    for table in find_all(div, "table", "counts"):
        for row in find_all(table, "tr"):
            th, td = find_all(row, "th")[0], find_all(row, "td")[0]
            out["measures"][text(th)] = text(td)
    for records in find_all(div, "div", "records"):
        for row in find_all(records, "thead")[0].iter(NS + "tr"):
            out["header"].append([c[0] for c in cells(row)])
        for row in find_all(records, "tbody")[0].iter(NS + "tr"):
            out["rows"].append({"kind": classes(row), "cells": cells(row)})
    return out


def main(path):
    with open(path, "rb") as f:
        document = html5lib.parse(f, transport_encoding=None)
    report = {
        "title": [text(t) for t in find_all(document, "title")],
        "charset": [m.get("charset") for m in find_all(document, "meta") if m.get("charset")],
        "scripts": len(find_all(document, "script")),
        # Anything that would fetch: a source, a stylesheet link, an address
        # outside the page.
        "fetches": [e.tag for e in document.iter() if isinstance(e.tag, str) and fetches(e)],
        "parts": [part(d) for d in find_all(document, "div", "part")],
        "pairs": [{"id": s.get("id"), "heading": text(find_all(s, "h2")[0]),
                   "result": text(find_all(s, "p", "result")[0])}
                  for s in find_all(document, "section", "pair")],
        "overview": [],
    }
    for section in find_all(document, "section", "overview"):
        for row in section.iter(NS + "tr"):
            links = [a.get("href") for a in find_all(row, "a")]
            report["overview"].append({"kind": classes(row), "cells": [c[0] for c in cells(row)],
                                       "links": links})
    json.dump(report, sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    main(sys.argv[1])
