#!/usr/bin/env python3
"""Checks the direction of dependence between the project's folders.

The flight host's folders under sim/ are layers, each allowed to include only
itself and the layers below it; the programs and the campaign tool sit on top.
The vessel module includes only itself and the host SDK's headers. Prints
every include against the direction and exits 1 if there is one.

Usage: check_layers.py SOURCE_ROOT
"""
import pathlib
import re
import sys

# Bottom to top.
SIM_LAYERS = ["base", "vessel", "files", "world", "hostapi", "view", "run", "live"]
# The module's folders: they see one another and the host's headers only.
MODULE_FOLDERS = {"host", "module", "lander", "mechanisms", "guidance", "scenario", "crew"}
# Above the whole flight host.
TOP_FOLDERS = {"montecarlo", "apps"}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def allowed(source: pathlib.Path, root: pathlib.Path, target: str) -> bool:
    parts = source.relative_to(root).parts
    folder = parts[0]
    target_parts = target.split("/")
    target_folder = target_parts[0] if len(target_parts) > 1 else None
    if target_folder is None:
        return True  # a header beside the file
    if folder in MODULE_FOLDERS:
        return target_folder in MODULE_FOLDERS
    if folder == "sim":
        if target_folder in ("host", "hostlib"):
            return True
        if target_folder != "sim" or len(target_parts) < 3:
            return False
        here, there = parts[1], target_parts[1]
        if here not in SIM_LAYERS or there not in SIM_LAYERS:
            return False
        return SIM_LAYERS.index(there) <= SIM_LAYERS.index(here)
    if folder == "montecarlo":
        return target_folder in ("sim", "montecarlo", "host", "hostlib")
    return True


def violations(root: pathlib.Path):
    folders = ["sim", "montecarlo"] + sorted(MODULE_FOLDERS)
    for folder in folders:
        for path in sorted((root / folder).rglob("*")):
            if path.suffix not in (".h", ".cpp"):
                continue
            text = path.read_text(encoding="utf-8", errors="replace")
            for target in INCLUDE.findall(text):
                if not allowed(path, root, target):
                    yield path.relative_to(root), target


def self_test() -> int:
    """The check itself: a tree with an upward include and a cycle-making
    include fails, the same tree without them passes."""
    import tempfile
    with tempfile.TemporaryDirectory() as tmp:
        root = pathlib.Path(tmp)
        files = {
            "sim/base/Math.h": '#include <cmath>\n',
            "sim/vessel/Vessel.h": '#include "sim/base/Math.h"\n#include "host/Orbitersdk.h"\n',
            "sim/world/World.h": '#include "sim/vessel/Vessel.h"\n',
            "lander/Lander.h": '#include "guidance/Supervisor.h"\n',
        }
        for name, text in files.items():
            (root / name).parent.mkdir(parents=True, exist_ok=True)
            (root / name).write_text(text)
        if list(violations(root)):
            print("self-test: a sound tree was refused", file=sys.stderr)
            return 1
        bad = {
            "sim/vessel/Bad.cpp": '#include "sim/world/World.h"\n',
            "lander/Bad.cpp": '#include "sim/base/Math.h"\n',
            "sim/base/Bad.h": '#include "montecarlo/Campaign.h"\n',
        }
        for name, text in bad.items():
            (root / name).write_text(text)
        found = {str(p) for p, _ in violations(root)}
        if found != set(bad):
            print(f"self-test: expected {sorted(bad)} refused, got {sorted(found)}", file=sys.stderr)
            return 1
    print("layers self-test: upward includes are refused, sound ones pass")
    return 0


def main() -> int:
    if sys.argv[1:] == ["--self-test"]:
        return self_test()
    if len(sys.argv) != 2:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    root = pathlib.Path(sys.argv[1]).resolve()
    if not (root / "sim").is_dir():
        print(f"{root}: no sim/ folder here", file=sys.stderr)
        return 2
    unknown = sorted(p.name for p in (root / "sim").iterdir() if p.is_dir() and p.name not in SIM_LAYERS)
    if unknown:
        print("sim/ has folders that are not in the layer order: " + ", ".join(unknown), file=sys.stderr)
        return 1
    found = list(violations(root))
    for path, target in found:
        print(f"{path}: includes \"{target}\" against the direction of the layers "
              f"({' -> '.join(SIM_LAYERS)})", file=sys.stderr)
    if found:
        return 1
    print("layers: every include goes down or across")
    return 0


if __name__ == "__main__":
    sys.exit(main())
