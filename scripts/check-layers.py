#!/usr/bin/env python3
"""Fails when an #include "..." in src/ or host/ points up the layer order.

Layers, lowest first (a file may include its own layer and any lower one):
  0  src/platform, src/hostapi, src/formats
  1  src/framework, src/shell, src/image   (call context, parameters, image buffers)
  2  src/kernels   (the pixel kernels the engines share)
  3  src/denoise, src/smootharea, src/profile   (engines)
  4  src/ui
  5  src/plugins
The engines do not include one another. The host side (host/*) sits beside the
plug-ins: it includes host/* and, of src/, only src/hostapi and src/formats (file
formats without plug-in types).

An include is resolved the way the compiler does: first next to the including
file, then from src/ and from the repository root. Known violations are listed
in ALLOWED with the reason; the check also fails when an entry no longer
matches anything, so that the list only shrinks.

  check-layers.py [REPOSITORY-ROOT]
"""
import pathlib
import re
import sys

LAYERS = {
    "src/platform": 0,
    "src/hostapi": 0,
    "src/formats": 0,
    "src/framework": 1,
    "src/shell": 1,
    "src/image": 1,
    "src/kernels": 2,
    "src/denoise": 3,
    "src/smootharea": 3,
    "src/profile": 3,
    "src/ui": 4,
    "src/plugins": 5,
}
HOST_MAY_INCLUDE = ("src/hostapi", "src/formats")
ENGINES = ("src/denoise", "src/smootharea", "src/profile")

# (including file, included file): reason. Remove an entry with its fix.
ALLOWED = {
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
SOURCES = ("*.h", "*.hpp", "*.c", "*.cpp", "*.mm", "*.inc")


def home(path):
    """The layer folder of a repository-relative path, or None."""
    parts = path.split("/")
    if len(parts) >= 2 and parts[0] in ("src", "host"):
        return parts[0] + "/" + parts[1]
    return None


def resolve(root, including, name):
    for base in (including.parent, root / "src", root):
        candidate = (base / name).resolve()
        if candidate.is_file():
            try:
                return candidate.relative_to(root).as_posix()
            except ValueError:
                return None
    return None


def violation(source_home, target_home):
    if target_home is None or target_home == source_home:
        return None
    if source_home.startswith("host/"):
        if target_home.startswith("host/") or target_home in HOST_MAY_INCLUDE:
            return None
        return "the host side includes of src/ only " + ", ".join(HOST_MAY_INCLUDE)
    if target_home.startswith("host/"):
        return "src/ never includes the host side"
    if source_home not in LAYERS or target_home not in LAYERS:
        return "folder missing from the layer table of this script"
    if source_home in ENGINES and target_home in ENGINES:
        return "an engine includes another engine"
    if LAYERS[target_home] > LAYERS[source_home]:
        return "points up (layer %d includes layer %d)" % (LAYERS[source_home], LAYERS[target_home])
    return None


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    failures = []
    used = set()
    for top in ("src", "host"):
        for pattern in SOURCES:
            for path in sorted((root / top).rglob(pattern)):
                source = path.relative_to(root).as_posix()
                source_home = home(source)
                for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
                    match = INCLUDE.match(line)
                    if not match:
                        continue
                    target = resolve(root, path, match.group(1))
                    if target is None:
                        continue  # a generated or system header
                    problem = violation(source_home, home(target))
                    if problem is None:
                        continue
                    if (source, target) in ALLOWED:
                        used.add((source, target))
                        continue
                    failures.append("%s:%d: includes %s: %s" % (source, number, target, problem))
    for stale in sorted(set(ALLOWED) - used):
        failures.append("allowed include %s -> %s is gone: remove it from ALLOWED" % stale)
    for failure in failures:
        print("check-layers: " + failure, file=sys.stderr)
    if failures:
        return 1
    print("check-layers: every include points down (%d known exceptions)" % len(used))
    return 0


if __name__ == "__main__":
    sys.exit(main())
