#!/usr/bin/env python3
"""The manual pages of vexorin-build and vexorin-check (docs/man) against the tools' --help.

For each tool: the options that --help lists (its usage lines and the tags of its option
lines) are the options that the page lists (its synopsis and the tags of its OPTIONS
section), and the environment variables it names are those of the page's ENVIRONMENT
section; groff finds nothing to warn about (groff -ww -z) and man -l shows the page without
a word on standard error.

usage: test_man_pages.py --build vexorin-build --check vexorin-check --pages docs/man
Needs groff and man (groff-base, man-db). Prints one line per check and a closing
"N passed, M failed"; exits non-zero on failure.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from checks import Checks  # noqa: E402

OPTION = re.compile(r"(?<![\w-])--?[a-z][a-z0-9-]*")
VARIABLE = re.compile(r"\bVEXORIN_[A-Z_]+")


def help_lists(text):
    """Options of the usage block (from "usage:" to the first line not indented) and of the
    option lines' tags (an option line starts with two spaces and a dash; its tag ends at
    the first run of two spaces), and the environment variables named anywhere."""
    options = set()
    in_usage = False
    for line in text.splitlines():
        if line.startswith("usage:"):
            in_usage = True
        elif not line.startswith(" "):
            in_usage = False
        if in_usage:
            options |= set(OPTION.findall(line))
        elif line.startswith("  -"):
            options |= set(OPTION.findall(re.split(r"\s{2,}", line.strip())[0]))
    return options, set(VARIABLE.findall(text))


def sections(page):
    """{section name: its lines} of a man(7) page."""
    found, name = {}, None
    for line in page.splitlines():
        if line.startswith(".SH "):
            name = line[4:].strip().strip('"')
            found[name] = []
        elif name:
            found[name].append(line)
    return found


def tags(lines):
    """The tag line after each .TP."""
    return [lines[i + 1] for i, line in enumerate(lines[:-1]) if line.strip() == ".TP"]


def page_lists(page):
    parts = sections(page.replace("\\-", "-"))
    options = set()
    for line in parts.get("SYNOPSIS", []) + tags(parts.get("OPTIONS", [])):
        options |= set(OPTION.findall(line))
    variables = set()
    for line in tags(parts.get("ENVIRONMENT", [])):
        variables |= set(VARIABLE.findall(line))
    return options, variables


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--check", required=True)
    parser.add_argument("--pages", required=True)
    args = parser.parse_args()
    t = Checks()
    tools_there = shutil.which("groff") and shutil.which("man")
    t.check("groff and man are installed (groff-base, man-db: tools/install-deps.sh)", tools_there)
    for name, program in (("vexorin-build", args.build), ("vexorin-check", args.check)):
        shown = subprocess.run([program, "--help"], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               universal_newlines=True)
        t.check(name + ": --help exits 0 on standard output", shown.returncode == 0 and shown.stdout and
                not shown.stderr, (shown.returncode, shown.stderr))
        path = os.path.join(args.pages, name + ".1")
        with open(path, encoding="utf-8") as f:
            page = f.read()
        help_options, help_variables = help_lists(shown.stdout)
        page_options, page_variables = page_lists(page)
        t.check("%s: --help and the page list the same options (%s)" % (name, " ".join(sorted(help_options))),
                help_options and help_options == page_options,
                {"only in --help": sorted(help_options - page_options),
                 "only in the page": sorted(page_options - help_options)})
        t.check("%s: --help and the page name the same environment variables (%s)" %
                (name, " ".join(sorted(help_variables))), help_variables and help_variables == page_variables,
                (sorted(help_variables), sorted(page_variables)))
        wanted = ["NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "ENVIRONMENT", "EXIT STATUS", "THE CHECK DATA",
                  "EXAMPLES", "SEE ALSO"]
        t.check(name + ": the page's sections", list(sections(page)) == wanted, list(sections(page)))
        if not tools_there:
            continue
        groff = subprocess.run(["groff", "-ww", "-z", "-man", path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                               universal_newlines=True)
        t.check(name + ": groff -ww -z finds nothing to warn about", groff.returncode == 0 and not groff.stdout,
                groff.stdout)
        shown = subprocess.run(["man", "-l", path], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               universal_newlines=True, env=dict(os.environ, MANWIDTH="80", MAN_KEEP_STDERR="1",
                                                                 LC_ALL="C.UTF-8"))
        t.check(name + ": man -l shows the page without warnings", shown.returncode == 0 and not shown.stderr and
                name.upper() + "(1)" in shown.stdout and "--jobs N" in shown.stdout, (shown.returncode, shown.stderr))
    return t.summary()


if __name__ == "__main__":
    sys.exit(main())
