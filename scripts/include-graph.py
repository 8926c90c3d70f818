#!/usr/bin/env python3
"""The include graph between the folders of src/, from the #include lines.

Prints each edge "from -> to (n includes)" with the layer of each folder, then any edge that points
to a higher layer and any cycle between folders. Exits with 1 when there is either.
Usage: scripts/include-graph.py [SRC_DIR]"""
import os
import re
import sys

# Lower layers first; a folder may include its own layer's folders (without cycles) and lower ones.
LAYERS = {
    "platform": 0, "demo": 0,
    "engine": 1, "eq": 1, "analyzer": 1, "batch": 1, "playback": 1,
    "models": 2,
    "app": 3, "cli": 3,
}

def folder_edges(root):
    edges = {}
    for directory, _, files in os.walk(root):
        for name in files:
            if not name.endswith((".h", ".cpp")):
                continue
            source = os.path.relpath(directory, root).split(os.sep)[0]
            text = open(os.path.join(directory, name), errors="ignore").read()
            for include in re.findall(r'#include\s+"([^"]+)"', text):
                target = include.split("/")[0] if "/" in include else source
                if target != source and os.path.isdir(os.path.join(root, target)):
                    edges[(source, target)] = edges.get((source, target), 0) + 1
    return edges

def cycles(edges):
    graph = {}
    for source, target in edges:
        graph.setdefault(source, set()).add(target)
    found, state = [], {}
    def visit(node, path):
        state[node] = "open"
        for nxt in sorted(graph.get(node, ())):
            if state.get(nxt) == "open":
                found.append(path[path.index(nxt):] + [nxt])
            elif nxt not in state:
                visit(nxt, path + [nxt])
        state[node] = "done"
    for node in sorted(graph):
        if node not in state:
            visit(node, [node])
    return found

def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "src")
    edges = folder_edges(root)
    for (source, target), count in sorted(edges.items()):
        print(f"{source} ({LAYERS.get(source, '?')}) -> {target} ({LAYERS.get(target, '?')})  {count} includes")
    upward = [(s, t) for s, t in edges if LAYERS.get(s, 99) < LAYERS.get(t, -1)]
    loops = cycles(edges)
    for source, target in sorted(upward):
        print(f"UPWARD: {source} -> {target}")
    for loop in loops:
        print("CYCLE: " + " -> ".join(loop))
    if not upward and not loops:
        print("no upward edge, no cycle")
    return 1 if upward or loops else 0

if __name__ == "__main__":
    sys.exit(main())
