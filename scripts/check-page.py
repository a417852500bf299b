#!/usr/bin/env python3
"""Checks a launcher page folder against what the Windows launcher's engine
(Internet Explorer 11's, in the WebBrowser control) can run.

- Every script, the .js files and the inline <script> blocks of the .html,
  .htm and .php files, must parse as ECMAScript 5: `acorn --ecma5` (Debian's
  node-acorn) parses each one.
- Every page must declare IE=edge (meta X-UA-Compatible), or the control
  shows it in its oldest document mode.
- The style sheets must not use the CSS that engine lacks and that is easy
  to reach for: flex and grid gaps, grid layout, custom properties, filter
  functions, sticky positioning, object-fit.

Usage: check-page.py FOLDER...   Exits 1 and names every fault found.
"""
import pathlib
import re
import subprocess
import sys
import tempfile

PAGE_SUFFIXES = {".html", ".htm", ".php"}
SCRIPT_BLOCK = re.compile(r"<script\b([^>]*)>(.*?)</script\s*>", re.IGNORECASE | re.DOTALL)
IE_EDGE = re.compile(r"<meta\s+http-equiv=[\"']X-UA-Compatible[\"']\s+content=[\"']IE=edge[\"']", re.IGNORECASE)
CSS_UNSUPPORTED = [
    (re.compile(r"(^|[;{\s])(row-|column-)?gap\s*:"), "gap (flex and grid gaps)"),
    (re.compile(r"display\s*:\s*(inline-)?grid\b"), "grid layout"),
    (re.compile(r"var\(\s*--|(^|[;{\s])--[\w-]+\s*:"), "custom properties"),
    (re.compile(r"(^|[;{\s])filter\s*:\s*[a-z-]+\("), "filter functions"),
    (re.compile(r"position\s*:\s*sticky"), "sticky positioning"),
    (re.compile(r"object-fit\s*:"), "object-fit"),
]


def parses_as_es5(source, label, faults):
    with tempfile.NamedTemporaryFile("w", suffix=".js", encoding="utf-8") as script:
        script.write(source)
        script.flush()
        result = subprocess.run(["acorn", "--ecma5", "--silent", script.name],
                                capture_output=True, text=True)
    if result.returncode != 0:
        faults.append(f"{label}: not ECMAScript 5: {(result.stderr or result.stdout).strip()}")


def without_comments(css):
    return re.sub(r"/\*.*?\*/", "", css, flags=re.DOTALL)


def check(folder, faults):
    pages = 0
    for path in sorted(pathlib.Path(folder).rglob("*")):
        if path.suffix == ".js":
            parses_as_es5(path.read_text(encoding="utf-8"), str(path), faults)
        elif path.suffix in PAGE_SUFFIXES:
            pages += 1
            text = path.read_text(encoding="utf-8")
            if not IE_EDGE.search(text):
                faults.append(f"{path}: no <meta http-equiv=\"X-UA-Compatible\" content=\"IE=edge\">")
            for number, block in enumerate(SCRIPT_BLOCK.finditer(text), 1):
                if "src=" not in block.group(1).lower():
                    parses_as_es5(block.group(2), f"{path}: inline script {number}", faults)
            for number, block in enumerate(re.finditer(r"<style\b[^>]*>(.*?)</style\s*>", text,
                                                       re.IGNORECASE | re.DOTALL), 1):
                check_css(block.group(1), f"{path}: style block {number}", faults)
        elif path.suffix == ".css":
            check_css(path.read_text(encoding="utf-8"), str(path), faults)
    if pages == 0:
        faults.append(f"{folder}: no page found")


def check_css(css, label, faults):
    css = without_comments(css)
    for pattern, what in CSS_UNSUPPORTED:
        if pattern.search(css):
            faults.append(f"{label}: uses {what}, which Internet Explorer 11 lacks")


def main(folders):
    if not folders:
        print(__doc__, file=sys.stderr)
        return 2
    faults = []
    for folder in folders:
        check(folder, faults)
    for fault in faults:
        print(fault, file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
