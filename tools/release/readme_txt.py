#!/usr/bin/env python3
"""Turns docs/readme-ja.md into the release's readme.txt: plain text in Shift-JIS (code page
932) with CR LF line ends, which Notepad and Japanese users expect of a readme.txt.

The Markdown stays readable in the repository; here its markup becomes plain text: "#"
headings are underlined or marked with "■", "**" and "`" marks go, links become "text
(address)", list items start with "・", code blocks are indented. {{VERSION}} and {{SOURCE}}
are filled in; comments are dropped.

usage: readme_txt.py SOURCE.md OUTPUT.txt --version V --source-text TEXT
A character that code page 932 cannot hold stops the conversion, naming its line.
"""
import argparse
import re
import sys


def width(text):
    """Columns of a line in a fixed-width Japanese font: two for each double-byte character."""
    return len(text.encode("cp932", errors="replace"))


def inline(text):
    text = re.sub(r"\[([^\]]+)\]\(([^)]+)\)", r"\1 (\2)", text)
    text = re.sub(r"\*\*([^*]+)\*\*", r"\1", text)
    return re.sub(r"`([^`]+)`", r"\1", text)


def convert(markdown, values):
    """The text of readme.txt (str, "\\n" line ends) from the Markdown source."""
    for key, value in values.items():
        markdown = markdown.replace("{{%s}}" % key, value)
    out = []
    in_comment = in_code = False
    for line in markdown.split("\n"):
        stripped = line.strip()
        if in_comment or stripped.startswith("<!--"):
            in_comment = "-->" not in stripped
            continue
        if stripped.startswith("```"):
            in_code = not in_code
            continue
        if in_code:
            out.append("    " + line)
            continue
        heading = re.match(r"^(#+)\s+(.*)$", line)
        if heading:
            text = inline(heading.group(2))
            if len(heading.group(1)) == 1:
                out += [text, "=" * width(text)]
            else:
                out += ["", "■ " + text, ""]
            continue
        item = re.match(r"^(\s*)- (.*)$", line)
        if item:
            out.append(item.group(1) + "・" + inline(item.group(2)))
            continue
        out.append(inline(line.rstrip()))
    if in_code or in_comment:
        raise ValueError("a comment or a code block is left open")
    # One blank line between parts, none at either end.
    text = re.sub(r"\n{3,}", "\n\n", "\n".join(out)).strip("\n")
    return text + "\n"


def encode(text):
    """Shift-JIS bytes with CR LF line ends; names the first line code page 932 cannot hold."""
    for number, line in enumerate(text.split("\n"), 1):
        try:
            line.encode("cp932")
        except UnicodeEncodeError as e:
            raise ValueError("line %d of readme.txt has %r, which code page 932 cannot hold: %s"
                             % (number, line[e.start:e.end], line))
    return text.replace("\n", "\r\n").encode("cp932")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("source")
    parser.add_argument("output")
    parser.add_argument("--version", required=True)
    parser.add_argument("--source-text", required=True)
    args = parser.parse_args()
    with open(args.source, encoding="utf-8") as f:
        markdown = f.read()
    try:
        data = encode(convert(markdown, {"VERSION": args.version, "SOURCE": args.source_text}))
    except ValueError as e:
        print("readme_txt.py: %s: %s" % (args.source, e), file=sys.stderr)
        return 1
    with open(args.output, "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
