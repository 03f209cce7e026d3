#!/usr/bin/python3
"""Every #include "..." under src/ stays inside the include graph of the README's layout table.

A layer may include itself and, transitively, the layers its row names; Qt headers only where the row names Qt.
A failure names the file, the line and what that layer may include instead.
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parents[1])
SRC = ROOT / "src"
ROW = re.compile(r"^\|\s*`src/(\w+)`\s*\|([^|]*)\|")
QUOTED = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
QT = re.compile(r"^\s*#\s*include\s+<(Q[A-Za-z]*)[/>]")


def read_graph():
    """{layer: set of layers named in its row (and "Qt")} from the README's layout table."""
    graph = {}
    for line in (ROOT / "README.md").read_text(encoding="utf-8").splitlines():
        row = ROW.match(line)
        if row:
            graph[row.group(1)] = set(re.findall(r"`?(\w+)`?", row.group(2))) - {"—"}
    if not graph:
        sys.exit("README.md: no layout table with rows | `src/<layer>` | <includes> | ... |")
    for layer, uses in graph.items():
        unknown = uses - graph.keys() - {"Qt"}
        if unknown:
            sys.exit(f"README.md: the row of src/{layer} names unknown layers {sorted(unknown)}")
    return graph


def closure(graph):
    allowed = {}
    for layer in graph:
        seen, todo = {layer}, [layer]
        while todo:
            for used in graph[todo.pop()] - {"Qt"}:
                if used not in seen:
                    seen.add(used)
                    todo.append(used)
        allowed[layer] = seen
    return allowed


def layer_of(path):
    """The layer folder a path under src/ lies in, or None (generated headers, system headers)."""
    try:
        return path.resolve().relative_to(SRC.resolve()).parts[0]
    except (ValueError, IndexError):
        return None


def main():
    graph = read_graph()
    allowed = closure(graph)
    faults = []
    for source in sorted(SRC.rglob("*")):
        if source.suffix not in {".h", ".hpp", ".cpp", ".cc"}:
            continue
        layer = layer_of(source)
        if layer not in graph:
            faults.append(f"{source.relative_to(ROOT)}: folder src/{layer} has no row in the README's layout table")
            continue
        qt = "Qt" in graph[layer] or any("Qt" in graph[used] for used in allowed[layer])
        for number, line in enumerate(source.read_text(encoding="utf-8", errors="replace").splitlines(), 1):
            where = f"{source.relative_to(ROOT)}:{number}"
            if QT.match(line) and not qt:
                faults.append(f"{where}: src/{layer} does not use Qt: {line.strip()}")
            included = QUOTED.match(line)
            if not included:
                continue
            name = included.group(1)
            target = next((p for p in (source.parent / name, SRC / name) if p.exists()), None)
            used = layer_of(target) if target else None
            if used and used not in allowed[layer]:
                faults.append(f"{where}: src/{layer} includes src/{used} ({name}); it may include "
                              f"{', '.join(sorted(allowed[layer]))}")
    for fault in faults:
        print(fault)
    print(f"{len(faults)} include(s) outside the layer graph" if faults else "layers respected")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
