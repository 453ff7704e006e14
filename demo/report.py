#!/usr/bin/env python3
"""Shows what a run of the installer changed on a simulated device.

  report.py snapshot DIR OUT.json          records the device's files and registry
  report.py changes BEFORE.json DIR TRACE  prints what changed since the snapshot, with
                                           the questions, progress and programs started
                                           from the run's trace (JSON Lines)
  report.py set-dword DIR KEY NAME NUMBER  stores a value in the device's registry, as a
  report.py set-string DIR KEY NAME TEXT   program on the device would (KEY: HKLM\\...)
"""
import hashlib
import json
import os
import re
import sys

ROOTS = {"HKEY_LOCAL_MACHINE": "HKLM", "HKEY_CURRENT_USER": "HKCU", "HKEY_USERS": "HKUS"}


def parse_registry(path):
    """{ "HKLM\\Key\\Path": { "Name": "dword:0000002a" | "\"text\"" | "hex(N):.." } }"""
    keys = {}
    if not os.path.exists(path):
        return keys
    with open(path, encoding="utf-8-sig") as f:
        lines = f.read().splitlines()
    current = None
    pending = ""
    for raw in lines:
        line = pending + raw
        if line.endswith("\\") and not line.rstrip().endswith('"'):
            pending = line[:-1].strip() if pending else line[:-1]
            continue
        pending = ""
        if line.startswith("[") and line.endswith("]"):
            root, _, rest = line[1:-1].partition("\\")
            current = ROOTS.get(root, root) + ("\\" + rest if rest else "")
            keys.setdefault(current, {})
            continue
        if current is None or "=" not in line:
            continue
        if line.startswith("@="):
            name, value = "(default)", line[2:]
        else:
            m = re.match(r'"((?:[^"\\]|\\.)*)"=(.*)$', line)
            if not m:
                continue
            name, value = unescape(m.group(1)), m.group(2)
        keys[current][name] = value
    return keys


def unescape(text):
    return re.sub(r"\\(.)", r"\1", text)


def show_value(value):
    if value.startswith("dword:"):
        number = int(value[6:], 16)
        return f"{number} (0x{number:08x})"
    if value.startswith('"'):
        return '"' + unescape(value[1:-1]) + '"'
    return value


def scan_files(fs):
    files, folders = {}, set()
    for top, dirs, names in os.walk(fs):
        rel = os.path.relpath(top, fs)
        device = "\\" + rel.replace(os.sep, "\\") if rel != "." else "\\"
        for d in dirs:
            folders.add(device.rstrip("\\") + "\\" + d)
        for n in names:
            path = os.path.join(top, n)
            with open(path, "rb") as f:
                digest = hashlib.sha1(f.read()).hexdigest()
            entry = [os.path.getsize(path), digest]
            if n.lower().endswith(".exe"):
                entry.append(version_stamp(path))
            files[device.rstrip("\\") + "\\" + n] = entry
    return files, sorted(folders)


def snapshot(device):
    files, folders = scan_files(os.path.join(device, "fs"))
    return {"files": files, "folders": folders,
            "registry": parse_registry(os.path.join(device, "registry.reg"))}


def read_trace(path):
    entries = []
    if path and os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            for line in f:
                line = line.strip()
                if line:
                    entries.append(json.loads(line))
    return entries


def heading(text):
    print(f"\n  -- {text} --")


def short_key(key):
    root, _, rest = key.partition("\\")
    root = ROOTS.get(root, root)
    return root + ("\\" + rest if rest else "")


def report_trace(trace):
    heading("what the installer showed and did (from the trace)")
    progress = []

    def say(text):
        if progress:
            print("    progress: " + " ".join(f"{p}%" for p in progress))
            progress.clear()
        print("    " + text)

    for e in trace:
        op = e.get("op", "?")
        if op == "progress":
            progress.append(e.get("position"))
        elif op == "question":
            say(f"question \"{e.get('caption', '')}\": {one_line(e.get('text', ''))}"
                f" -> {answer(e)}")
        elif op == "message_box":
            say(f"message box \"{e.get('caption', '')}\": {one_line(e.get('text', ''))}"
                f" -> {answer(e)}")
        elif op == "open_dialog" and e.get("template") == 109 and e.get("ok"):
            say("status dialog opened")
        elif op == "shell_open":
            say(f"program started: {e.get('path', '')}")
        elif op == "close_request":
            who = e.get("class", e.get("window", ""))
            say(f"close request to the {who} window{'' if e.get('ok') else ' (not posted)'}")
        elif op == "wait_process":
            say(f"waited for its process: {'ended' if e.get('exited') else 'still running'}")
        elif op == "broadcast":
            say("settings-changed broadcast (the Today screen re-reads its items)")
        elif op == "set_value":
            value = e.get("value")
            shown = f"{value}" if e.get("type") == "dword" else f'"{value}"'
            say(f"registry: {short_key(e.get('key', ''))}\\{e.get('name', '')} = {shown}")
        elif op == "delete_key":
            say(f"registry: key {short_key(e.get('key', ''))}\\{e.get('subkey', '')} deleted"
                f"{'' if e.get('ok') else ' (was not there)'}")
        elif op == "copy_file" and not e.get("ok"):
            say(f"copy failed: {e.get('source', '')} -> {e.get('destination', '')}")
        elif op == "call_entry":
            say(f"library {e.get('path', '')}: called {e.get('entry', '')}")
    if progress:
        say("")


def answer(e):
    value = e.get("answer", "")
    if isinstance(value, str):
        return value.capitalize()
    return {6: "Yes", 7: "No", 1: "OK"}.get(value, str(value))


def one_line(text):
    return text.replace("\n", " / ")


def report_changes(before, device, trace_path):
    after = snapshot(device)
    trace = read_trace(trace_path)
    report_trace(trace)

    added_folders = [f for f in after["folders"] if f not in before["folders"]]
    removed_folders = [f for f in before["folders"] if f not in after["folders"]]
    heading("folders added")
    for f in added_folders or ["(none)"]:
        print(f"    {f}")
    if removed_folders:
        heading("folders removed")
        for f in removed_folders:
            print(f"    {f}")

    heading("files added or changed")
    changed = False
    for path, (size, digest, *_) in sorted(after["files"].items()):
        old = before["files"].get(path)
        if old is None:
            print(f"    + {path} ({size} bytes)")
            changed = True
        elif old[1] != digest:
            print(f"    ~ {path} ({old[0]} -> {size} bytes){stamp_change(old, device, path)}")
            changed = True
    for path in sorted(set(before["files"]) - set(after["files"])):
        print(f"    - {path}")
        changed = True
    if not changed:
        print("    (none)")

    heading("shortcuts")
    shortcuts = False
    for path in sorted(after["files"]):
        if path.lower().endswith(".lnk") and after["files"][path] != before["files"].get(path):
            with open(host_path(device, path), "rb") as f:
                content = f.read().decode("cp1252", "replace")
            print(f"    {path} -> {content}")
            shortcuts = True
    if not shortcuts:
        print("    (none)")

    heading("registry: values that differ from before the run")
    changed = False
    for key in sorted(set(before["registry"]) | set(after["registry"])):
        old, new = before["registry"].get(key, {}), after["registry"].get(key, {})
        for name in sorted(set(old) | set(new)):
            if old.get(name) == new.get(name):
                continue
            changed = True
            where = f"{key}\\{name}"
            if name not in new:
                print(f"    - {where}")
            elif name not in old:
                print(f"    + {where} = {show_value(new[name])}")
            else:
                print(f"    ~ {where}: {show_value(old[name])} -> {show_value(new[name])}")
        if key in before["registry"] and key not in after["registry"]:
            print(f"    - [{key}] (key deleted)")
            changed = True
    if not changed:
        print("    (none: every value ends as it was, see the writes above)")


def reg_escape(text):
    return text.replace("\\", "\\\\").replace('"', '\\"')


def set_value(device, key, name, line_value):
    """Writes "name"=line_value into the key's section of DIR/registry.reg."""
    root, _, rest = key.partition("\\")
    long_root = {v: k for k, v in ROOTS.items()}.get(root, root)
    header = f"[{long_root}\\{rest}]" if rest else f"[{long_root}]"
    line = f'"{reg_escape(name)}"={line_value}'
    path = os.path.join(device, "registry.reg")
    with open(path, encoding="utf-8") as f:
        lines = f.read().splitlines()
    start = next((i for i, l in enumerate(lines) if l.lower() == header.lower()), None)
    if start is None:
        if lines and lines[-1] != "":
            lines.append("")
        lines += [header, line]
    else:
        end = start + 1
        while end < len(lines) and not lines[end].startswith("["):
            end += 1
        prefix = f'"{reg_escape(name)}"='.lower()
        for i in range(start + 1, end):
            if lines[i].lower().startswith(prefix):
                lines[i] = line
                break
        else:
            insert = end
            while insert > start + 1 and lines[insert - 1] == "":
                insert -= 1
            lines.insert(insert, line)
    with open(path + ".new", "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
    os.replace(path + ".new", path)


def version_stamp(host_file):
    """The stamp in the last four bytes of an unsigned executable, as major.minor."""
    with open(host_file, "rb") as f:
        f.seek(0, os.SEEK_END)
        if f.tell() < 4:
            return None
        f.seek(-4, os.SEEK_END)
        stamp = int.from_bytes(f.read(4), "little")
    return f"{stamp >> 16}.{stamp & 0xFFFF} (0x{stamp:08x})"


def stamp_change(old, device, path):
    if not path.lower().endswith(".exe"):
        return ""
    return f", version stamp {old[2]} -> {version_stamp(host_path(device, path))}"


def host_path(device, device_path):
    return os.path.join(device, "fs", *device_path.strip("\\").split("\\"))


def main(argv):
    if len(argv) == 3 and argv[0] == "snapshot":
        with open(argv[2], "w") as f:
            json.dump(snapshot(argv[1]), f)
        return 0
    if len(argv) == 4 and argv[0] == "changes":
        with open(argv[1]) as f:
            before = json.load(f)
        report_changes(before, argv[2], argv[3])
        return 0
    if len(argv) == 5 and argv[0] == "set-dword":
        set_value(argv[1], argv[2], argv[3], f"dword:{int(argv[4]) & 0xFFFFFFFF:08x}")
        return 0
    if len(argv) == 5 and argv[0] == "set-string":
        set_value(argv[1], argv[2], argv[3], f'"{reg_escape(argv[4])}"')
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
