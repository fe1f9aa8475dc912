#!/usr/bin/env python3
"""Fails when a folder of src/ includes a folder that includes it back, directly or through others.

The folders of src/ are layers (README, "Repository layout"): each may include only folders below it. The check
reads every #include "<folder>/..." of src/, builds the graph between folders and prints each cycle it finds
with one file per step, so that the include to move is plain to see.
"""
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([A-Za-z0-9_]+)/[^"]+"', re.MULTILINE)


def folder_edges(src):
    """{folder: {included folder: first file that includes it}}"""
    edges = {}
    for root, _, files in os.walk(src):
        folder = os.path.relpath(root, src).split(os.sep)[0]
        if folder == ".":
            continue
        for name in sorted(files):
            if not name.endswith((".h", ".hpp", ".cpp", ".cc")):
                continue
            path = os.path.join(root, name)
            with open(path, encoding="utf-8", errors="replace") as handle:
                text = handle.read()
            for target in INCLUDE.findall(text):
                if target != folder and os.path.isdir(os.path.join(src, target)):
                    edges.setdefault(folder, {}).setdefault(target, os.path.relpath(path, os.path.dirname(src)))
    return edges


def find_cycles(edges):
    """One cycle per strongly connected group of folders, found by depth-first search."""
    cycles, seen = [], set()
    for start in sorted(edges):
        stack = [(start, [start])]
        visited = set()
        while stack:
            node, path = stack.pop()
            for target in sorted(edges.get(node, {})):
                if target == start:
                    members = frozenset(path)
                    if members not in seen:
                        seen.add(members)
                        cycles.append(path + [start])
                elif target not in visited:
                    visited.add(target)
                    stack.append((target, path + [target]))
    return cycles


def main():
    src = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "src")
    src = os.path.normpath(src)
    edges = folder_edges(src)
    cycles = find_cycles(edges)
    for cycle in cycles:
        print("include cycle between folders of src/: " + " -> ".join(cycle))
        for here, there in zip(cycle, cycle[1:]):
            print(f"  {here} -> {there}: {edges[here][there]}")
    if cycles:
        return 1
    print(f"check_layers: no include cycle between the {len(edges)} folders of {src}/ that include others")
    return 0


if __name__ == "__main__":
    sys.exit(main())
