#!/usr/bin/env python3
"""Keeps the source layers pointing one way.

Every folder below has a rank; a file may include headers of its own folder
and of lower-ranked folders only, so two folders never include each other.
Folders of equal rank (the windows of different areas) do not include each
other either. The logic folders never include a Qt Widgets header, and each
library in the CMake files links only libraries of lower layers.

Usage: check_layers.py [--root DIR] [--widgets-include DIR]
       check_layers.py --self-test
"""

import argparse
import os
import re
import sys
import tempfile

# Lowest first. One entry per folder; entries sharing a rank are siblings.
LAYERS = [
    ("ground", 0),
    ("platform", 1),
    ("log", 2),
    ("ui/resize", 3),
    ("HTTP", 4),
    ("novaprobe", 5),
    ("state", 6),
    ("features/filters", 7),
    ("features/signin", 7),
    ("features/connection", 8),
    ("features/paging", 9),
    ("features/mail", 10),
    ("features/remote", 11),
    ("features/version", 11),
    ("features/options", 11),
    ("app", 12),
    ("ui/platform", 13),
    ("ui/common", 14),
    ("ui/filters", 15),
    ("ui/mail", 15),
    ("ui/paging", 15),
    ("ui/remote", 15),
    ("ui/options", 16),
    ("ui/main", 17),
    ("tessly", 18),
]

# Folders whose code must run without widgets.
LOGIC = ("ground", "platform", "log", "state", "features", "app")

# Which folders each library is built from.
LIBRARIES = {
    "tessaly_ground": ["ground"],
    "tessaly_platform": ["platform"],
    "tessaly_log": ["log"],
    "tessaly_resize": ["ui/resize"],
    "webwire": ["HTTP"],
    "novaprobe": ["novaprobe"],
    "tessaly_state": ["state"],
    "tessaly_features": ["features"],
    "tessaly_app": ["app"],
    "tessaly_widgets": ["ui"],
    "tessly": ["tessly"],
}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)
LINK = re.compile(r"target_link_libraries\s*\(\s*([A-Za-z0-9_]+)([^)]*)\)", re.S)
SOURCE = re.compile(r"\.(h|hpp|cpp|cc)$")


def folder_of(path):
    """The layer folder holding `path` (relative to the root), or None."""
    best = None
    for folder, _ in LAYERS:
        if path == folder or path.startswith(folder + "/"):
            if best is None or len(folder) > len(best):
                best = folder
    if best is None and path.startswith("ui/"):
        return "ui/" + path.split("/")[1]  # a new window area: must be listed
    return best


def rank_of(folder):
    for f, r in LAYERS:
        if f == folder:
            return r
    return None


def library_ranks(lib):
    ranks = [r for f, r in LAYERS for top in LIBRARIES[lib] if f == top or f.startswith(top + "/")]
    ranks = [r for r in ranks if not (lib == "tessaly_widgets" and r == rank_of("ui/resize"))]
    return min(ranks), max(ranks)


def skipped(rel_dir):
    """Build trees, hidden folders, tests and benchmarks are not layers."""
    return rel_dir != "." and rel_dir.split("/")[0].startswith((".", "build", "tests", "bench"))


def check_includes(root, widget_headers):
    problems = []
    for dirpath, _, files in os.walk(root):
        rel_dir = os.path.relpath(dirpath, root).replace(os.sep, "/")
        if skipped(rel_dir):
            continue
        for name in files:
            if not SOURCE.search(name):
                continue
            rel = (rel_dir + "/" + name) if rel_dir != "." else name
            src_folder = folder_of(rel)
            if src_folder is None:
                continue
            src_rank = rank_of(src_folder)
            if src_rank is None:
                problems.append(f"{rel}: folder {src_folder} has no layer; add it to scripts/check_layers.py")
                continue
            with open(os.path.join(dirpath, name), encoding="utf-8", errors="replace") as fh:
                text = fh.read()
            for m in INCLUDE.finditer(text):
                kind, target = m.group(1), m.group(2)
                if kind == "<":
                    top = target.split("/")[0]
                    if src_folder.split("/")[0] in LOGIC and (
                            top in ("QtWidgets", "QtPrintSupport") or target in widget_headers):
                        problems.append(f"{rel}: a logic file includes the widget header <{target}>")
                    continue
                local = os.path.normpath(os.path.join(rel_dir, target)).replace(os.sep, "/")
                dst = target if os.path.exists(os.path.join(root, target)) else local
                dst_folder = folder_of(dst)
                if dst_folder is None or dst_folder == src_folder:
                    continue
                dst_rank = rank_of(dst_folder)
                if dst_rank is None or dst_rank >= src_rank:
                    problems.append(f"{rel}: includes \"{target}\" from {dst_folder}, "
                                    f"which is not below {src_folder}")
    return problems


def check_links(root):
    problems = []
    for dirpath, _, files in os.walk(root):
        rel_dir = os.path.relpath(dirpath, root).replace(os.sep, "/")
        if skipped(rel_dir):
            continue
        if "CMakeLists.txt" not in files:
            continue
        with open(os.path.join(dirpath, "CMakeLists.txt"), encoding="utf-8") as fh:
            text = fh.read()
        for m in LINK.finditer(text):
            lib = m.group(1)
            if lib not in LIBRARIES:
                continue
            low, _ = library_ranks(lib)
            for used in m.group(2).split():
                if used in LIBRARIES:
                    _, used_high = library_ranks(used)
                    if used_high >= low:
                        problems.append(f"{lib} links {used}, which is not below it")
                elif used in ("Qt6::Widgets", "Qt6::PrintSupport") and \
                        all(top.split("/")[0] in LOGIC for top in LIBRARIES[lib]):
                    problems.append(f"{lib} is logic but links {used}")
    return problems


def widget_header_names(include_dir):
    if not include_dir or not os.path.isdir(include_dir):
        return set()
    return {n for n in os.listdir(include_dir) if not n.endswith(".h") and n.startswith("Q")}


def run(root, widgets_include):
    problems = check_includes(root, widget_header_names(widgets_include)) + check_links(root)
    for p in problems:
        print(p)
    return problems


def self_test():
    """Builds small trees that break each rule and expects each to be found."""
    cases = {
        "upward include": {"platform/a.cpp": '#include "state/b.h"\n', "state/b.h": ""},
        "sibling include": {"ui/mail/a.cpp": '#include "ui/paging/b.h"\n', "ui/paging/b.h": ""},
        "widget header in logic": {"features/mail/a.cpp": "#include <QDialog>\n"},
        "widget module in logic": {"app/a.cpp": "#include <QtWidgets/QLabel>\n"},
        "unlisted window area": {"ui/newarea/a.cpp": ""},
        "library linked upward": {
            "CMakeLists.txt": "target_link_libraries(tessaly_state PUBLIC tessaly_app)\n"},
        "logic library with widgets": {
            "CMakeLists.txt": "target_link_libraries(tessaly_features PUBLIC Qt6::Widgets)\n"},
    }
    sound = {"state/a.cpp": '#include "platform/b.h"\n#include "state/c.h"\n#include <QString>\n',
             "platform/b.h": "", "state/c.h": "",
             "HTTP/x.cpp": '#include "x.h"\n#include "log/l.h"\n#include <QWidget>\n', "HTTP/x.h": "",
             "log/l.h": "",
             "CMakeLists.txt": "target_link_libraries(tessaly_widgets PUBLIC tessaly_app tessaly_resize)\n"}
    failed = 0
    with tempfile.TemporaryDirectory() as tmp:
        widgets = os.path.join(tmp, "QtWidgets")
        os.makedirs(widgets)
        for n in ("QDialog", "QLabel", "QWidget"):
            open(os.path.join(widgets, n), "w").close()
        for label, tree in list(cases.items()) + [("sound tree", sound)]:
            root = os.path.join(tmp, label.replace(" ", "_"))
            for path, body in tree.items():
                full = os.path.join(root, path)
                os.makedirs(os.path.dirname(full), exist_ok=True)
                with open(full, "w") as fh:
                    fh.write(body)
            found = check_includes(root, widget_header_names(widgets)) + check_links(root)
            ok = (not found) if label == "sound tree" else bool(found)
            print(("ok    " if ok else "FAIL  ") + label + (": " + "; ".join(found) if found else ""))
            failed += not ok
    return failed


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--root", default=os.path.join(os.path.dirname(__file__), ".."))
    ap.add_argument("--widgets-include", default="")
    ap.add_argument("--self-test", action="store_true")
    args = ap.parse_args()
    if args.self_test:
        return 1 if self_test() else 0
    problems = run(os.path.abspath(args.root), args.widgets_include)
    if problems:
        print(f"{len(problems)} dependency problem(s); see docs/DEVELOPING.md for the layers")
        return 1
    print("layers: every dependency points down")
    return 0


if __name__ == "__main__":
    sys.exit(main())
