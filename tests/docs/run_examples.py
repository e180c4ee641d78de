#!/usr/bin/env python3
"""Runs the examples of the project's Markdown documents, so that none goes stale.

    run_examples.py BIN_DIR SOURCE_DIR SCRATCH_DIR DOCUMENT...

A fenced block whose info string holds the word `example` (```console example) is run;
other blocks are only text. A block of lines that start with `$ ` is a transcript: each
command (a line ending in a backslash goes on on the next) runs in bash, standard error
into standard output, and the lines up to the next command are its output, compared
after tabs are expanded and trailing blanks dropped; a line `...` stands for any number
of lines. A command shown without output must exit with status 0. A block without `$ `
lines is a script that must exit with status 0.

Each document's blocks run in order in one scratch directory of its own, which holds
the example object as `app.out` and a `config.ini` naming it, with BIN_DIR first on
PATH and the C.UTF-8 locale; a block marked `example tree` runs in SOURCE_DIR instead,
for commands that only read the tree.
"""
import os
import re
import shutil
import subprocess
import sys

FENCE = re.compile(r"^(```+|~~~+)\s*(.*)$")


def blocks(path):
    """(line number, info words, lines) of every fenced block marked as an example."""
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    i = 0
    while i < len(lines):
        m = FENCE.match(lines[i])
        if not m:
            i += 1
            continue
        fence, words, start = m.group(1), m.group(2).split(), i + 1
        i += 1
        body = []
        while i < len(lines) and not lines[i].startswith(fence):
            body.append(lines[i])
            i += 1
        i += 1
        if "example" in words:
            yield start, words, body


def commands(body):
    """(command, expected output lines or None) of a transcript."""
    steps, i = [], 0
    while i < len(body):
        command = body[i][2:]
        while command.endswith("\\") and i + 1 < len(body):
            i += 1
            command = command[:-1] + "\n" + body[i]
        i += 1
        shown = []
        while i < len(body) and not body[i].startswith("$ "):
            shown.append(body[i])
            i += 1
        while shown and not shown[-1].strip():
            shown.pop()
        steps.append((command, shown or None))
    return steps


def normal(line):
    return line.expandtabs(8).rstrip()


def matches(shown, got):
    """Whether the output `got` is the one shown, `...` standing for any lines."""
    if not shown:
        return not got
    if shown[0] == "...":
        return any(matches(shown[1:], got[k:]) for k in range(len(got) + 1))
    return bool(got) and normal(shown[0]) == normal(got[0]) and matches(shown[1:], got[1:])


def run(command, cwd, env):
    done = subprocess.run(["bash", "-c", command], cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
    return done.returncode, done.stdout.decode("utf-8", "backslashreplace")


def main():
    if len(sys.argv) < 5:
        print(__doc__.strip().split("\n\n")[1], file=sys.stderr)
        return 2
    bin_dir, source, scratch = (os.path.abspath(a) for a in sys.argv[1:4])
    env = dict(os.environ, PATH=bin_dir + os.pathsep + os.environ.get("PATH", ""),
               LC_ALL="C.UTF-8")
    env.pop("LANG", None)
    failed = ran = 0
    for document in sys.argv[4:]:
        name = os.path.relpath(document, source)
        work = os.path.join(scratch, re.sub(r"[^A-Za-z0-9]+", "_", name))
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        code, out = run("make_example app.out config.ini", work, env)
        if code != 0:
            print(f"{name}: cannot make the example object: {out}")
            return 1
        for start, words, body in blocks(document):
            cwd = source if "tree" in words else work
            ran += 1
            if not any(line.startswith("$ ") for line in body):
                code, out = run("set -e\n" + "\n".join(body), cwd, env)
                if code != 0:
                    failed += 1
                    print(f"{name}:{start}: the block exits with status {code}:\n{out}")
                continue
            for command, shown in commands(body):
                code, out = run(command, cwd, env)
                got = out.split("\n")
                if got and got[-1] == "":
                    got.pop()
                if shown is None and code != 0:
                    failed += 1
                    print(f"{name}:{start}: `{command}` exits with status {code}:\n{out}")
                elif shown is not None and not matches(shown, got):
                    failed += 1
                    print(f"{name}:{start}: `{command}` prints\n" + "\n".join(got) +
                          "\n  where the document shows\n" + "\n".join(shown))
    print(f"run_examples: {ran} example blocks, {failed} failed")
    return 1 if failed or not ran else 0


if __name__ == "__main__":
    sys.exit(main())
