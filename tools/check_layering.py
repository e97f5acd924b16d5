#!/usr/bin/env python3
"""Lists the #include arrows that run against the layering, and fails when there is one.

Layers, top to bottom: batch, app, engine, backends, stages, platform. A folder may include its
own layer's files and any layer below. The backends sit side by side (reference, host and cuda never
include one another; backends/ itself selects among them); so do the stages, except that the
precise estimate builds on the fine stage's types and the reference backend borrows the host's
precise-estimate primitives. platform/gpu builds on platform/host.
"""
import pathlib
import re
import sys

LAYERS = ["platform/host", "platform/gpu", "stages", "backends", "engine", "app", "batch"]
SIDEWAYS_ALLOWED = {("stages/precise", "stages/fine"), ("stages/fine", "stages/coarse"),
                    ("stages/precise", "stages/coarse"),
                    # The reference backend borrows the host's precise-estimate primitives; their
                    # own yardstick is the direct sums of the tests.
                    ("backends/reference", "backends/host")}
SOURCE = re.compile(r"\.(cpp|hpp|h|cu|cuh)$")
INCLUDE = re.compile(r'^\s*#include "([^"]+)"', re.M)


def layer_of(path):
    for index, layer in enumerate(LAYERS):
        if path.startswith(layer + "/"):
            return index
    return None


def unit_of(path):
    parts = path.split("/")
    return "/".join(parts[:2]) if parts[0] in ("stages", "backends", "platform") and len(parts) > 2 else parts[0]


def violations(root):
    found = []
    for file in sorted(root.rglob("*")):
        relative = file.relative_to(root).as_posix()
        if not SOURCE.search(relative) or layer_of(relative) is None:
            continue
        for target in INCLUDE.findall(file.read_text(errors="replace")):
            to_layer = layer_of(target)
            if to_layer is None:
                continue
            from_layer = layer_of(relative)
            source_unit, target_unit = unit_of(relative), unit_of(target)
            upward = to_layer > from_layer
            sideways = (to_layer == from_layer and source_unit != target_unit
                        and target_unit not in ("backends", "stages")
                        and (source_unit, target_unit) not in SIDEWAYS_ALLOWED)
            if upward or sideways:
                found.append(f"{relative} -> {target}")
    return found


if __name__ == "__main__":
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parent.parent)
    bad = violations(root)
    for line in bad:
        print(line)
    print(f"{len(bad)} include(s) against the layering")
    sys.exit(1 if bad else 0)
