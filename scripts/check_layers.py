#!/usr/bin/env python3
"""Keeps the includes of src/ to the layers: a file may include its own layer and the
layers below it, never one above; nothing under src/ includes from tools/ or tests/; the
core includes only standard headers among the system ones.

usage: check_layers.py [SOURCE_DIR]     exit 0 when every include keeps to the rules
"""
import pathlib
import re
import sys

# Layer folders under src/, from the bottom up. The platform interface is the only file of
# src/platform/ outside sim/ and win32/.
CORE = ["platform", "base", "context", "ui", "actions", "flows", "entry"]
# What each implementation of the platform may include besides itself.
IMPLEMENTATIONS = {
    "platform/sim": {"platform", "base", "host_text"},
    "platform/win32": {"platform", "base"},
}
HOST_TEXT = "host_text"

STANDARD_HEADERS = set("""
algorithm any array atomic bit bitset cassert cctype cerrno cinttypes climits cmath
compare concepts cstddef cstdint cstdio cstdlib cstring ctime cwchar cwctype deque
exception functional initializer_list iomanip ios iosfwd iostream istream iterator limits
list map memory memory_resource new numeric optional ostream queue random ranges ratio
set span sstream stdexcept string string_view system_error tuple type_traits typeinfo
unordered_map unordered_set utility variant vector
""".split())

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def layer_of(relative):
    """The layer of a path under src/ ("base", "platform/sim", ...), or None."""
    parts = relative.parts
    if parts[0] == "platform" and len(parts) > 2:
        return "platform/" + parts[1]
    return parts[0] if parts[0] in CORE or parts[0] == HOST_TEXT else None


def allowed(source_layer, target_layer):
    if source_layer == target_layer:
        return True
    if source_layer in IMPLEMENTATIONS:
        return target_layer in IMPLEMENTATIONS[source_layer]
    if source_layer == HOST_TEXT or target_layer == HOST_TEXT:
        return False
    if target_layer not in CORE:
        return False
    return CORE.index(target_layer) < CORE.index(source_layer)


def check(root):
    src = root / "src"
    problems = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp") or not path.is_file():
            continue
        relative = path.relative_to(src)
        source_layer = layer_of(relative)
        if source_layer is None:
            problems.append(f"{path.relative_to(root)}: not in any layer folder")
            continue
        for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            where = f"{path.relative_to(root)}:{number}"
            kind, name = match.groups()
            if kind == "<":
                if source_layer in CORE and name not in STANDARD_HEADERS:
                    problems.append(f"{where}: the core includes <{name}>, not a standard header")
                continue
            target = pathlib.PurePosixPath(name)
            if name == "configuration_key.h":
                continue
            if not (src / target).is_file():
                if (root / "tools" / target).is_file() or target.parts[0] in ("tools", "common"):
                    problems.append(f'{where}: includes "{name}" from tools/')
                elif (root / "tests" / target).is_file():
                    problems.append(f'{where}: includes "{name}" from tests/')
                else:
                    problems.append(f'{where}: "{name}" is not a path under src/')
                continue
            target_layer = layer_of(target)
            if not allowed(source_layer, target_layer):
                problems.append(
                    f'{where}: {source_layer} includes "{name}" of {target_layer}, '
                    "which is not below it")
    return problems


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    problems = check(root)
    for problem in problems:
        print(problem)
    if problems:
        print(f"check_layers: {len(problems)} include(s) break the layers")
        return 1
    print("check_layers: every include keeps to the layers")
    return 0


if __name__ == "__main__":
    sys.exit(main())
