#!/usr/bin/env python3
"""Every text the programs write for the admin is in docs/operations.md.

Collects the string literals of every call that writes to the console, a log
or a standard stream in src/ (ConsoleLine, ErrorLine, WriteLog, WriteLightLog,
WriteEvent, the configuration's problem and stop lines, printf/fprintf/fputs/
puts) and fails, naming file and line, for each literal of at least five
letters that the document does not hold word for word. Placeholders in the
document (<name>, ...) stand for what the code adds between literals.

Usage: operations_lines.py SOURCE_DIR
"""
import pathlib
import re
import sys

CALLS = re.compile(
    r"\b(ConsoleLine|ErrorLine|WriteLog|WriteLightLog|WriteEvent|problem|stop|printf|fprintf|fputs|puts)\s*\(")
LITERAL = re.compile(r'"((?:[^"\\\n]|\\.)*)"')
FORMAT = re.compile(r"%[-+ 0#]*\d*(?:\.\d+)?(?:zu|lu|llu|ld|lld|[sdiufc])")
ESCAPES = {"n": "", "r": "", "t": " ", '"': '"', "\\": "\\", "'": "'"}


def call_text(source, start):
    """The text of a call from its opening parenthesis to the matching one."""
    depth = 0
    i = start
    while i < len(source):
        c = source[i]
        if c == '"':
            m = LITERAL.match(source, i)
            if m:
                i = m.end()
                continue
        if c == "'":
            j = source.find("'", i + 1 + (source[i + 1] == "\\"))
            i = j + 1 if j > 0 else i + 1
            continue
        if c == "(":
            depth += 1
        elif c == ")":
            depth -= 1
            if depth == 0:
                return source[start:i + 1]
        i += 1
    return source[start:]


def unescape(text):
    return re.sub(r"\\(.)", lambda m: ESCAPES.get(m.group(1), m.group(1)), text)


def pieces(literal):
    for piece in FORMAT.split(unescape(literal)):
        piece = " ".join(piece.split())
        if sum(c.isalpha() for c in piece) >= 5:
            yield piece


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".")
    document = (root / "docs" / "operations.md").read_text(encoding="utf-8")
    # Lines are wrapped in the document: any run of blanks and line breaks
    # counts as one blank, on both sides.
    document = " ".join(document.replace("\\|", "|").split())
    missing = []
    for path in sorted((root / "src").rglob("*")):
        if path.suffix not in (".cpp", ".h", ".in"):
            continue
        source = path.read_text(encoding="utf-8", errors="replace")
        for call in CALLS.finditer(source):
            if call.group(1) == "fprintf" and "stderr" not in source[call.end():call.end() + 10] and \
                    "stdout" not in source[call.end():call.end() + 10]:
                continue
            text = call_text(source, call.end() - 1)
            line = source.count("\n", 0, call.start()) + 1
            for literal in LITERAL.findall(text):
                for piece in pieces(literal):
                    if piece not in document:
                        missing.append(f"{path.relative_to(root)}:{line}: {piece!r}")
    for entry in missing:
        print(entry)
    print(f"{len(missing)} texts missing from docs/operations.md")
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
