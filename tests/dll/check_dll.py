#!/usr/bin/python3
"""Checks the built quindral.dll: a 32-bit x86 DLL whose export table names
the library and exactly the module's exports, which imports only Windows
system DLLs and the two hosts, and which carries its version resource and
its RCBALL resources (with --rcball-file ID=FILE, each resource holding
exactly the bytes of that file)."""
import argparse
import shutil
import subprocess
import sys

import pefile

EXPORTS = {"afsReadBalls", "hookVtableFunction"}
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "user32.dll", "advapi32.dll"}
HOST_DLLS = {"tremix.dll", "parvex.dll"}
VERSION = "13.0.1.0"
STRINGS = {
    "Comments": "Quindral Module. ",
    "FileDescription": "Quindral Module.",
    "FileVersion": VERSION,
    "InternalName": "Quindral.dll",
    "OriginalFilename": "Quindral.dll",
    "ProductName": "Quindral module",
    "ProductVersion": VERSION,
}
# The hooks' machine code, as the game enters it 3 bytes in: the preamble
# (push ebx, esi, edi), the saved flags and registers, the stack aligned and
# DF cleared around the call, everything restored. "??" is a 32-bit operand
# (an address or a call displacement) that the linker fills in.
HOOKS = {
    "_BallLoadHook": "53 56 57 a3 ?? 9c 55 50 53 51 52 56 57 89 e5 83 e4 f0 fc e8 ?? 89 ec 5f 5e 5a 59 5b 58 5d 9d a1 ?? c3",
    "_SelectionHook": "53 56 57 89 2d ?? 9c 55 50 53 51 52 56 57 89 e5 83 e4 f0 fc e8 ?? 89 ec 5f 5e 5a 59 5b 58 5d 9d c3",
    "_BallTableHook": "53 56 57 9c 55 50 53 51 52 56 57 89 e5 83 e4 f0 fc 83 ec 0c 50 e8 ?? 89 ec 5f 5e 5a 59 5b 58 5d 9d "
                      "c6 46 3c 01 8b 76 34 c3",
}
RCBALL_IDS = {127, 269, 833}
RCBALL_LANGUAGE = 1041


def check(path, want_rcball, rcball_files):
    problems = []
    pe = pefile.PE(path)
    if pe.FILE_HEADER.Machine != pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]:
        problems.append("not a 32-bit x86 image")
    if not pe.is_dll():
        problems.append("not a DLL")

    exports = getattr(pe, "DIRECTORY_ENTRY_EXPORT", None)
    if exports is None:
        problems.append("no export table")
    else:
        name = exports.name.decode() if exports.name else None
        if name != "quindral.dll":
            problems.append(f"export table names the library {name!r}, not 'quindral.dll'")
        names = {s.name.decode() for s in exports.symbols if s.name}
        if names != EXPORTS:
            problems.append(f"exports {sorted(names)}, expected {sorted(EXPORTS)}")

    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        dll = entry.dll.decode().lower()
        if dll not in SYSTEM_DLLS and dll not in HOST_DLLS:
            problems.append(f"imports from {dll}")
        if dll == "tremix.dll":
            if any(i.name == b"GetLoaderVersion" for i in entry.imports):
                problems.append("GetLoaderVersion is imported instead of looked up")

    strings = {}
    for info in getattr(pe, "FileInfo", []):
        for block in info:
            for table in getattr(block, "StringTable", []):
                for key, value in table.entries.items():
                    strings[key.decode()] = value.decode()
    for key, value in STRINGS.items():
        if strings.get(key) != value:
            problems.append(f"version string {key} is {strings.get(key)!r}, expected {value!r}")
    fixed = pe.VS_FIXEDFILEINFO[0] if getattr(pe, "VS_FIXEDFILEINFO", None) else None
    if fixed is None:
        problems.append("no fixed version information")
    else:
        numbers = (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF, fixed.FileVersionLS >> 16,
                   fixed.FileVersionLS & 0xFFFF)
        if ".".join(map(str, numbers)) != VERSION:
            problems.append(f"file version {numbers}")

    if want_rcball:
        found = {}
        resources = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
        for kind in resources.entries if resources else []:
            if kind.name is None or str(kind.name) != "RCBALL":
                continue
            for item in kind.directory.entries:
                for language in item.directory.entries:
                    found[item.id] = (language.id, language.data.struct.Size, language.data.struct.OffsetToData)
        if set(found) != RCBALL_IDS:
            problems.append(f"RCBALL resources {sorted(found)}, expected {sorted(RCBALL_IDS)}")
        for rid, (language, size, _) in found.items():
            if language != RCBALL_LANGUAGE:
                problems.append(f"RCBALL {rid} has language {language}")
            if size == 0:
                problems.append(f"RCBALL {rid} is empty")
        for rid, file in rcball_files.items():
            if rid not in found:
                continue
            with open(file, "rb") as f:
                expected = f.read()
            data = pe.get_data(found[rid][2], found[rid][1])
            if len(data) != len(expected):
                problems.append(f"RCBALL {rid} is {len(data)} bytes, {file} is {len(expected)}")
            elif data != expected:
                problems.append(f"RCBALL {rid} differs from {file}")
    return problems


def rcball_file(text):
    rid, sep, file = text.partition("=")
    if not sep or not rid.isdigit() or int(rid) not in RCBALL_IDS:
        raise argparse.ArgumentTypeError(f"expected ID=FILE with ID one of {sorted(RCBALL_IDS)}: {text}")
    return int(rid), file


def hook_bytes(path):
    """The bytes of each hook function, read with the cross objdump."""
    objdump = shutil.which("i686-w64-mingw32-objdump")
    if objdump is None:
        return None
    listing = subprocess.run([objdump, "-d", path], capture_output=True, text=True, check=True).stdout
    found, current = {}, None
    for line in listing.splitlines():
        if line.endswith(">:"):
            name = line.split("<", 1)[1][:-2]
            current = name if name in HOOKS else None
            if current:
                found[current] = []
        elif current and "\t" in line:
            found[current] += line.split("\t")[1].split()
            if line.split("\t")[-1].strip() == "ret":
                current = None
    return found


def matches(pattern, actual):
    expected = []
    for token in pattern.split():
        expected += ["??"] * 4 if token == "??" else [token]
    return len(expected) == len(actual) and all(e == "??" or e == a for e, a in zip(expected, actual))


def check_hooks(path):
    found = hook_bytes(path)
    if found is None:
        return ["i686-w64-mingw32-objdump not found: the hooks' code is not checked"]
    problems = []
    for name, pattern in HOOKS.items():
        if name not in found:
            problems.append(f"no {name} in the DLL")
        elif not matches(pattern, found[name]):
            problems.append(f"{name} is {' '.join(found[name])}")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rcball", action="store_true", help="check the RCBALL resources")
    parser.add_argument("--rcball-file", action="append", type=rcball_file, default=[], metavar="ID=FILE",
                        help="the file that RCBALL resource ID must hold (implies --rcball)")
    parser.add_argument("dll")
    args = parser.parse_args()
    problems = check(args.dll, args.rcball or bool(args.rcball_file), dict(args.rcball_file))
    problems += check_hooks(args.dll)
    for problem in problems:
        print("FAIL:", problem)
    if not problems:
        print("quindral.dll: exports, imports, resources and hook code as expected")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
