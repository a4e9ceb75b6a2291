#!/usr/bin/env python3
"""Keeps the product's C++ sources in the layout .clang-format gives.

Every .cpp and .h file under the product folders must come out of
clang-format unchanged. Tests, benchmarks and generated files are not
checked. With --fix the files are rewritten in place instead.

Usage: check_format.py [--root DIR] [--clang-format PROGRAM] [--fix]
       check_format.py --self-test [--clang-format PROGRAM]
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

PRODUCT_DIRS = ["ground", "platform", "log", "ui", "HTTP", "novaprobe", "state", "features", "app", "tessly"]
SUFFIXES = (".cpp", ".h")


def product_files(root):
    found = []
    for top in PRODUCT_DIRS:
        base = os.path.join(root, top)
        for folder, dirs, files in os.walk(base):
            dirs.sort()
            for name in sorted(files):
                if name.endswith(SUFFIXES):
                    found.append(os.path.join(folder, name))
    return found


def formatted(program, path, style_root):
    """The file as clang-format lays it out, with the style found from style_root."""
    with open(path, "rb") as f:
        original = f.read()
    # The style file is looked up from the name given, so a file checked in
    # a scratch tree still takes the tree's own .clang-format.
    rel = os.path.relpath(path, style_root)
    result = subprocess.run([program, "--style=file", "--assume-filename=" + os.path.join(style_root, rel)],
                            input=original, stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False)
    if result.returncode != 0:
        raise RuntimeError("%s: clang-format failed: %s" % (path, result.stderr.decode(errors="replace").strip()))
    return original, result.stdout


def first_difference(a, b):
    la, lb = a.split(b"\n"), b.split(b"\n")
    for i in range(max(len(la), len(lb))):
        if i >= len(la) or i >= len(lb) or la[i] != lb[i]:
            return i + 1
    return 0


def check(root, program, fix):
    bad = []
    for path in product_files(root):
        original, wanted = formatted(program, path, root)
        if original == wanted:
            continue
        rel = os.path.relpath(path, root)
        if fix:
            with open(path, "wb") as f:
                f.write(wanted)
            print("reformatted " + rel)
        else:
            bad.append("%s:%d: not formatted (scripts/check_format.py --fix)" % (rel, first_difference(original, wanted)))
    for line in bad:
        print(line)
    return 1 if bad else 0


def self_test(program):
    """The check passes a formatted tree and fails the same tree with one file misformatted."""
    here = os.path.dirname(os.path.abspath(__file__))
    style = os.path.join(here, os.pardir, ".clang-format")
    good = "namespace tessaly {\n\nint Twice(int v) { return v * 2; }\n\n} // namespace tessaly\n"
    messy = "namespace tessaly {\n\nint   Twice( int v ){\nreturn v*2;}\n\n} // namespace tessaly\n"
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        shutil.copy(style, os.path.join(tmp, ".clang-format"))
        os.makedirs(os.path.join(tmp, "ground"))
        os.makedirs(os.path.join(tmp, "tests"))
        sample = os.path.join(tmp, "ground", "twice.cpp")
        with open(sample, "w") as f:
            f.write(good)
        # Outside the product folders nothing is checked.
        with open(os.path.join(tmp, "tests", "loose.cpp"), "w") as f:
            f.write(messy)
        if check(tmp, program, False) != 0:
            failures.append("a formatted tree was reported")
        with open(sample, "w") as f:
            f.write(messy)
        if check(tmp, program, False) == 0:
            failures.append("a misformatted product file passed")
        if check(tmp, program, True) != 0 or check(tmp, program, False) != 0:
            failures.append("--fix did not leave the tree formatted")
    for f in failures:
        print("self-test: " + f)
    print("self-test: " + ("failed" if failures else "passed"))
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir))
    parser.add_argument("--clang-format", dest="program", default="clang-format")
    parser.add_argument("--fix", action="store_true")
    parser.add_argument("--self-test", action="store_true")
    args = parser.parse_args()
    if shutil.which(args.program) is None:
        print("%s not found (scripts/setup-deps.sh --tests installs it)" % args.program)
        return 1
    if args.self_test:
        return self_test(args.program)
    return check(os.path.abspath(args.root), args.program, args.fix)


if __name__ == "__main__":
    sys.exit(main())
