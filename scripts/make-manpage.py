#!/usr/bin/python3
"""Makes a manual page from an executable's own --help texts.

The options, the commands and the exit codes are written once, in the program's help
texts; this page is made from them at build time so that it cannot drift from them.
The files and the environment, which no help text lists, come from a page of their own
(--common).
"""
import argparse
import re
import subprocess
import sys

SUMMARIES = {
    "quillberry": "gather, verify and switch public proxy servers",
    "quillberry-cli": "the proxy list's jobs for scripts and terminals",
}


def run_help(program, *args):
    out = subprocess.run([program, *args, "--help"], check=True, capture_output=True,
                         text=True, env={"PATH": "/usr/bin:/bin", "LC_ALL": "C.UTF-8"}).stdout
    return out.rstrip("\n")


def escape(text):
    text = text.replace("\\", "\\e")
    # A line that starts with a dot or an apostrophe would be read as a request.
    return re.sub(r"^([.'])", r"\\&\1", text, flags=re.M)


def option_markup(text):
    # Options in running text are bold; the hyphens of an option are minus signs.
    return re.sub(r"(?<![\w-])(--?[A-Za-z][\w-]*)",
                  lambda m: "\\fB" + m.group(1).replace("-", "\\-") + "\\fR", text)


def paragraphs(text):
    return [p for p in re.split(r"\n\s*\n", text) if p.strip()]


def split_usage(help_text):
    """The usage lines, and the rest of the text."""
    lines = help_text.split("\n")
    usage = []
    while lines and (lines[0].startswith("Usage:") or (usage and lines[0].startswith(" "))):
        usage.append(re.sub(r"^Usage:\s*|^\s+", "", lines.pop(0)))
    return usage, "\n".join(lines).strip("\n")


def render_options(block):
    """A block of "--option  text" entries, continuation lines indented."""
    out = []
    for line in block.split("\n"):
        m = re.match(r"^\s*(-\S.*?)(?:\s{2,}(.*))?$", line)
        if m and not line.startswith("    " * 3):
            out.append(".TP")
            out.append(option_markup(escape(m.group(1))))
            if m.group(2):
                out.append(escape(m.group(2)))
        else:
            out.append(escape(line.strip()))
    return out


def render_text(block):
    out = []
    for para in paragraphs(block):
        if re.match(r"^\s*-", para):
            out.extend(render_options(para))
        elif para.startswith("Exit status"):
            continue  # its own section
        else:
            out.append(".PP")
            out.append(escape(" ".join(line.strip() for line in para.split("\n"))))
    return out


def exit_status(block):
    parts = [p for p in paragraphs(block) if p.startswith("Exit status")]
    return [escape(" ".join(l.strip() for l in p.split("\n"))) for p in parts]


def verbatim(text):
    return [".nf", escape(text), ".fi"]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--name", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--common", required=True)
    parser.add_argument("--output", required=True)
    args = parser.parse_args()

    name = args.name
    top = run_help(args.program)
    usage, rest = split_usage(top)
    page = [
        '.TH %s 1 "" "Quillberry %s" "User Commands"' % (name.upper().replace("-", "\\-"), args.version),
        ".SH NAME",
        "%s \\- %s" % (name.replace("-", "\\-"), SUMMARIES[name]),
        ".SH SYNOPSIS",
    ]
    for i, line in enumerate(usage):
        if i:
            page.append(".br")
        page.append(option_markup(escape(line)))

    commands = []
    if "Commands:" in rest:
        before, after = rest.split("Commands:", 1)
        listing, _, tail = after.partition("\n\n")
        for line in listing.strip("\n").split("\n"):
            m = re.match(r"^\s+(\S+)\s+(.*)$", line)
            if m:
                commands.append((m.group(1), m.group(2)))
        rest = before + "\n\n" + tail

    page.append(".SH DESCRIPTION")
    page.extend(render_text(rest))
    if commands:
        page.append(".SH COMMANDS")
        for command, summary in commands:
            page.append(".SS %s" % command)
            page.append(escape(summary[0].upper() + summary[1:] + "."))
            page.extend(verbatim(run_help(args.program, command)))
    status = exit_status(rest)
    if status:
        page.append(".SH EXIT STATUS")
        for para in status:
            page.append(".PP")
            page.append(para)
    with open(args.common, encoding="utf-8") as common:
        page.append(common.read().rstrip("\n"))
    page.append(".SH SEE ALSO")
    other = "quillberry-cli" if name == "quillberry" else "quillberry"
    page.append("\\fB%s\\fR(1)" % other.replace("-", "\\-"))
    with open(args.output, "w", encoding="utf-8") as out:
        out.write("\n".join(page) + "\n")


if __name__ == "__main__":
    sys.exit(main())
