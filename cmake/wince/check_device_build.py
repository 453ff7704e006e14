#!/usr/bin/env python3
"""The device-build gate: what can be checked of the handheld build without its toolchain.

  check_device_build.py syntax [--jobs N] SOURCE_DIR
      Compiles the Win32 platform and the Windows entry with _WIN32_WCE defined, syntax
      only, against the handheld's declarations in cmake/wince/include: a 32-bit compiler
      (16-bit wchar_t, 32-bit pointers) whose own Windows headers are out of reach. Only
      the C and C++ runtime headers that the standard library needs are offered beside
      the device's declarations, so every Windows name must come from those.

  check_device_build.py imports SOURCE_DIR WINDOWS_BUILD_DIR...
      Checks every function that a desktop autorun.exe imports against
      cmake/wince/device_api.txt: each has a documented counterpart in a device library,
      or belongs to the desktop toolchain's own start-up and runtime and is not called by
      the installer's code (its object files and libraries in the build folder).

Exit code 0 when everything passes, 1 with one line per problem otherwise.
"""
import argparse
import concurrent.futures
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

GATE = pathlib.Path(__file__).resolve().parent
DECLARATIONS = GATE / "include"
API_LIST = GATE / "device_api.txt"
DEVICE_LIBRARIES = {"coredll", "commctrl", "aygshell"}

COMPILER = "i686-w64-mingw32-g++"
OBJDUMP = "x86_64-w64-mingw32-objdump"
NM = "x86_64-w64-mingw32-nm"
# What the device's SDK defines for an ARM build of Windows CE 5.0 / Windows Mobile 5.
DEVICE_DEFINES = ["-D_WIN32_WCE=0x501", "-DUNDER_CE=0x501", "-DARM", "-D_ARM_",
                  "-DUNICODE", "-D_UNICODE"]
WARNINGS = ["-Wall", "-Wextra", "-Wpedantic", "-Wshadow", "-Wnon-virtual-dtor", "-Werror"]
# The core and the Win32 platform: everything the device build compiles but the host text
# and the simulated device.
DEVICE_SOURCES = ["src/base", "src/context", "src/ui", "src/actions", "src/flows",
                  "src/entry", "src/platform", "tools/windows/autorun_main.cpp"]
HOST_ONLY = ("src/platform/sim",)
ANGLE_INCLUDE = re.compile(r'^\s*#\s*include\s*<([^>]+)>', re.MULTILINE)
# The C++20 library's headers, the C library's among them. Every other <...> header must be
# one of the handheld's declarations.
STANDARD_HEADERS = set("""
algorithm any array atomic barrier bit bitset cassert cctype cerrno cfenv cfloat charconv
chrono cinttypes climits clocale cmath codecvt compare complex concepts condition_variable
coroutine csetjmp csignal cstdarg cstddef cstdint cstdio cstdlib cstring ctime cuchar cwchar
cwctype deque exception execution filesystem format forward_list fstream functional future
initializer_list iomanip ios iosfwd iostream istream iterator latch limits list locale map
memory memory_resource mutex new numbers numeric optional ostream queue random ranges ratio
regex scoped_allocator semaphore set shared_mutex source_location span sstream stack
stdexcept stop_token streambuf string string_view syncstream system_error thread tuple
type_traits typeindex typeinfo unordered_map unordered_set utility valarray variant vector
version
""".split())
# What the compiler shows of a file that does not compile.
ERROR_LINES = 40


def fail(problems):
    for problem in problems:
        print(f"device gate: {problem}")
    return 1 if problems else 0


def search_dirs(compiler):
    """The compiler's own <...> search folders, in order."""
    probe = subprocess.run([compiler, "-xc++", "-E", "-v", os.devnull], capture_output=True,
                           text=True, check=True).stderr
    block = probe.split("#include <...> search starts here:")[1].split("End of search list.")[0]
    # Normalised, not resolved: the SDK folder may hold links into another one.
    return [pathlib.Path(os.path.normpath(line.strip())) for line in block.splitlines()
            if line.strip()]


def standard_headers(root):
    """The standard headers that the device build's sources name, and the problems: any
    other <...> header that is not one of the device's declarations."""
    declared = {path.name for path in DECLARATIONS.iterdir()}
    names, problems = set(), []
    for entry in DEVICE_SOURCES:
        path = root / entry
        files = [path] if path.is_file() else sorted(path.rglob("*"))
        for source in files:
            if source.suffix not in (".h", ".cpp") or str(source.relative_to(root)).startswith(
                    HOST_ONLY):
                continue
            for name in ANGLE_INCLUDE.findall(source.read_text(encoding="utf-8")):
                if name in STANDARD_HEADERS:
                    names.add(name)
                elif name not in declared:
                    problems.append(f"{source.relative_to(root)} includes <{name}>, which is "
                                    "neither standard nor declared for the handheld")
    return sorted(names), problems


def runtime_headers(compiler, headers, sdk_dirs, work):
    """Links into WORK/runtime the headers of the Windows SDK folders that the standard
    headers need (the C runtime's), and nothing else of those folders."""
    probe = work / "probe.cpp"
    probe.write_text("".join(f"#include <{name}>\n" for name in headers))
    deps = subprocess.run([compiler, "-std=c++20", "-M", str(probe)], capture_output=True,
                          text=True, check=True).stdout
    declared = {path.name for path in DECLARATIONS.iterdir()}
    runtime = work / "runtime"
    problems = []
    # The SDK folder may be a folder of links into another one, which the compiler names.
    roots = set(sdk_dirs) | {(sdk / "windows.h").resolve().parent for sdk in sdk_dirs}
    for token in deps.replace("\\\n", " ").split()[1:]:
        header = pathlib.Path(os.path.normpath(token))
        for sdk in roots:
            if sdk in header.parents:
                relative = header.relative_to(sdk)
                if relative.name in declared:
                    problems.append(f"the standard headers need the SDK's {relative}")
                target = runtime / relative
                target.parent.mkdir(parents=True, exist_ok=True)
                if not target.exists():
                    target.symlink_to(header)
    runtime.mkdir(exist_ok=True)
    return runtime, problems


def check_syntax(root, jobs):
    compiler = shutil.which(COMPILER)
    if compiler is None:
        return fail([f"{COMPILER} is missing (scripts/setup.sh installs it)"])
    dirs = search_dirs(compiler)
    # The folders holding the compiler's Windows headers are the ones to keep out of reach.
    sdk_dirs = [d for d in dirs if (d / "windows.h").exists()]
    kept = [d for d in dirs if d not in sdk_dirs]
    if not sdk_dirs:
        return fail([f"no windows.h among {COMPILER}'s include folders: nothing to hide?"])
    sources = sorted((root / "src/platform/win32").glob("*.cpp"))
    sources.append(root / "tools/windows/autorun_main.cpp")
    with tempfile.TemporaryDirectory(prefix="device-gate.") as temp:
        work = pathlib.Path(temp)
        headers, problems = standard_headers(root)
        runtime, unexpected = runtime_headers(compiler, headers, sdk_dirs, work)
        problems += unexpected
        generated = work / "generated"
        generated.mkdir()
        template = (root / "cmake/configuration_key.h.in").read_text()
        (generated / "configuration_key.h").write_text(
            template.replace("@AUTORUN_CONFIGURATION_KEY@", "DEV00000000000000"))
        command = [compiler, "-std=c++20", "-fsyntax-only", "-nostdinc", *DEVICE_DEFINES,
                   *WARNINGS, "-I", str(DECLARATIONS), "-I", str(root / "src"),
                   "-I", str(generated)]
        for folder in kept + [runtime]:
            command += ["-isystem", str(folder)]

        def compile_one(source):
            done = subprocess.run(command + [str(source)], capture_output=True, text=True)
            return source, done.returncode, done.stderr

        with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
            for source, code, errors in pool.map(compile_one, sources):
                name = source.relative_to(root)
                if code != 0:
                    lines = errors.splitlines(keepends=True)
                    sys.stdout.write("".join(lines[:ERROR_LINES]))
                    if len(lines) > ERROR_LINES:
                        print(f"... ({len(lines) - ERROR_LINES} more lines)")
                    problems.append(f"{name} does not compile for the handheld (_WIN32_WCE)")
                else:
                    print(f"device gate: {name} compiles for the handheld")
    return fail(problems)


def read_api_list():
    """{desktop name: (section, device library, device name)} from device_api.txt."""
    entries = {}
    section = None
    for number, line in enumerate(API_LIST.read_text().splitlines(), 1):
        line = line.split("#", 1)[0].strip()
        if not line:
            continue
        if line.startswith("["):
            section = line.strip("[]")
            continue
        fields = line.split()
        if section == "desktop-runtime":
            entries[fields[0]] = (section, None, None)
        elif section in ("device", "c-runtime") and len(fields) in (2, 3):
            if fields[1] not in DEVICE_LIBRARIES:
                raise SystemExit(f"{API_LIST.name}:{number}: {fields[1]} is no device library")
            entries[fields[0]] = (section, fields[1], fields[-1] if len(fields) == 3 else fields[0])
        else:
            raise SystemExit(f"{API_LIST.name}:{number}: cannot read '{line}'")
    return entries


def imported_functions(executable):
    """{function: DLL} from the import tables of a PE file."""
    table = subprocess.run([OBJDUMP, "-p", str(executable)], capture_output=True, text=True,
                           check=True).stdout
    imports, dll = {}, None
    for line in table.splitlines():
        named = re.match(r"\s*DLL Name: (\S+)", line)
        if named:
            dll = named.group(1)
            continue
        entry = re.match(r"\s+[0-9a-f]+\s+\d+\s+(\S+)$", line)
        if entry and dll:
            imports[entry.group(1)] = dll
    return imports


def plain_name(symbol):
    """A function's name without the import prefix and the 32-bit decorations
    (__imp__CreateFileW@28 is CreateFileW)."""
    return re.sub(r"@\d+$", "", symbol.removeprefix("__imp_")).lstrip("_")


def own_references(build):
    """{symbol: object file} of everything the installer's own objects leave undefined."""
    objects = sorted(build.glob("src/**/*.a")) + sorted(build.glob("src/**/autorun.dir/**/*.obj"))
    references = {}
    for path in objects:
        listing = subprocess.run([NM, "-u", str(path)], capture_output=True, text=True,
                                 check=True).stdout
        for line in listing.splitlines():
            fields = line.split()
            if len(fields) == 2 and fields[0] == "U":
                references.setdefault(plain_name(fields[1]), path.relative_to(build))
    return references


def declared_in_headers(name):
    text = "".join(path.read_text() for path in DECLARATIONS.iterdir())
    return re.search(rf"\b{re.escape(name)}\s*\(", text) is not None


def check_imports(root, builds):
    del root
    entries = read_api_list()
    problems = []
    for name, (section, library, device_name) in sorted(entries.items()):
        if section == "device" and not declared_in_headers(device_name):
            problems.append(f"{device_name} ({library}, for {name}) is not declared in "
                            f"{DECLARATIONS.relative_to(GATE.parent.parent)}")
    for build in builds:
        executable = build / "autorun.exe"
        if not executable.is_file():
            problems.append(f"{executable} is missing: build it first")
            continue
        imports = imported_functions(executable)
        own = own_references(build)
        for name, dll in sorted(imports.items()):
            section, library, device_name = entries.get(name, (None, None, None))
            symbol = plain_name(name)
            if section is None:
                problems.append(f"{os.path.relpath(executable)} imports {name} ({dll}), which "
                                f"has no handheld counterpart in {API_LIST.name}: look it up "
                                "at run time, or name the device library that documents it")
            elif section == "desktop-runtime" and symbol in own:
                problems.append(f"{name} ({dll}) is called by the installer's own code "
                                f"({own[symbol]}) but the handheld has no such function: "
                                "look it up at run time")
        called = [name for name in imports if plain_name(name) in own]
        print(f"device gate: {os.path.relpath(executable)}: {len(imports)} imports, "
              f"{len(called)} of them from the installer's own code")
    return fail(problems)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter,
                                     epilog=__doc__.split("\n\n", 1)[1])
    commands = parser.add_subparsers(dest="command", required=True)
    syntax = commands.add_parser("syntax", help="compile the handheld's branches")
    syntax.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    syntax.add_argument("source", type=pathlib.Path)
    imports = commands.add_parser("imports", help="check autorun.exe's imports")
    imports.add_argument("source", type=pathlib.Path)
    imports.add_argument("builds", type=pathlib.Path, nargs="+")
    arguments = parser.parse_args()
    if arguments.command == "syntax":
        return check_syntax(arguments.source.resolve(), arguments.jobs)
    return check_imports(arguments.source.resolve(), [b.resolve() for b in arguments.builds])


if __name__ == "__main__":
    sys.exit(main())
