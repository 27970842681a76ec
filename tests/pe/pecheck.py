#!/usr/bin/env python3
"""Static checks of a built sessionend PE image, read straight from its headers.

    pecheck.py CHECK EXE [--map MAP]     one named check of one image
    pecheck.py thunks EXE32 EXE64        both images call the same imports

Exits 0 when the check holds, 1 with the reasons when it does not.
"""
import argparse
import re
import struct
import subprocess
import sys

# Exactly what the program calls, and nothing else: no C run-time, no
# wide-character forms.
EXPECTED_IMPORTS = {
    "KERNEL32.DLL": {"ExitProcess", "GetCommandLineA", "GetCurrentProcess", "GetVersion"},
    "ADVAPI32.DLL": {"AdjustTokenPrivileges", "LookupPrivilegeValueA", "OpenProcessToken"},
    "USER32.DLL": {"ExitWindowsEx"},
}

MACHINES = {0x8664: "x86_64", 0x14C: "i686"}
IMAGE_FILE_RELOCS_STRIPPED = 0x0001
DLL_HIGH_ENTROPY_VA, DLL_DYNAMIC_BASE, DLL_NX_COMPAT = 0x0020, 0x0040, 0x0100
SCN_MEM_EXECUTE, SCN_MEM_WRITE = 0x20000000, 0x80000000
DIR_IMPORT, DIR_RESOURCE, DIR_BASERELOC, DIR_DEBUG = 1, 2, 5, 6
# The linker's defaults, which a stray option must not have moved.
DEFAULT_RESERVES = {"stack_reserve": 0x200000, "stack_commit": 0x1000,
                    "heap_reserve": 0x100000, "heap_commit": 0x1000}


class Image:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        data = self.data
        if data[:2] != b"MZ":
            raise ValueError(f"{path}: no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError(f"{path}: no PE signature")
        (self.machine, nsections, self.timestamp, _, _, optsize,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", data, opt)[0]
        self.is64 = self.magic == 0x20B
        self.entry = struct.unpack_from("<I", data, opt + 16)[0]
        if self.is64:
            self.image_base = struct.unpack_from("<Q", data, opt + 24)[0]
            reserves = struct.unpack_from("<QQQQ", data, opt + 72)
            ndirs, dirs = struct.unpack_from("<I", data, opt + 108)[0], opt + 112
        else:
            self.image_base = struct.unpack_from("<I", data, opt + 28)[0]
            reserves = struct.unpack_from("<IIII", data, opt + 72)
            ndirs, dirs = struct.unpack_from("<I", data, opt + 92)[0], opt + 96
        self.reserves = dict(zip(DEFAULT_RESERVES, reserves))
        self.size_of_image = struct.unpack_from("<I", data, opt + 56)[0]
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data, opt + 68)
        self.directories = [struct.unpack_from("<II", data, dirs + 8 * i) for i in range(ndirs)]
        self.sections = []
        for i in range(nsections):
            name, vsize, va, rawsize, rawptr = struct.unpack_from("<8sIIII", data, opt + optsize + 40 * i)
            flags = struct.unpack_from("<I", data, opt + optsize + 40 * i + 36)[0]
            self.sections.append({"name": name.rstrip(b"\0").decode(), "va": va, "vsize": vsize,
                                  "rawsize": rawsize, "rawptr": rawptr, "flags": flags})

    def section_at(self, rva):
        for s in self.sections:
            if s["va"] <= rva < s["va"] + max(s["vsize"], s["rawsize"]):
                return s
        return None

    def offset(self, rva):
        s = self.section_at(rva)
        if s is None:
            raise ValueError(f"RVA {rva:#x} lies in no section")
        return s["rawptr"] + rva - s["va"]

    def cstring(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def imports(self):
        """{DLL name upper-cased: {function name: IAT slot address}}."""
        rva, size = self.directories[DIR_IMPORT]
        result = {}
        width, ordinal_bit = (8, 1 << 63) if self.is64 else (4, 1 << 31)
        descriptor = self.offset(rva)
        while True:
            lookup, _, _, name, iat = struct.unpack_from("<IIIII", self.data, descriptor)
            if name == 0:
                break
            functions = result.setdefault(self.cstring(name).upper(), {})
            slot = 0
            while True:
                thunk = struct.unpack_from("<Q" if self.is64 else "<I", self.data,
                                           self.offset((lookup or iat) + slot * width))[0]
                if thunk == 0:
                    break
                key = f"#{thunk & 0xFFFF}" if thunk & ordinal_bit else self.cstring(thunk + 2)
                functions[key] = self.image_base + iat + slot * width
                slot += 1
            descriptor += 20
        return result


def map_symbol(map_path, symbol):
    with open(map_path, encoding="utf-8", errors="replace") as f:
        for line in f:
            fields = line.split()
            if len(fields) == 2 and fields[1] in (symbol, "_" + symbol) and fields[0].startswith("0x"):
                return int(fields[0], 16)
    raise ValueError(f"{symbol} not found in {map_path}")


SIZE_BUDGET = 3072


def check_size(image, _):
    yield len(image.data) <= SIZE_BUDGET, f"{len(image.data)} bytes, over the budget of {SIZE_BUDGET}"


def check_subsystem(image, _):
    yield image.subsystem == 2, f"subsystem {image.subsystem}, want 2 (Windows GUI)"
    yield image.machine in MACHINES, f"machine {image.machine:#x}"


def check_imports(image, _):
    got = {dll: set(functions) for dll, functions in image.imports().items()}
    yield got == EXPECTED_IMPORTS, f"imports {sorted((d, sorted(f)) for d, f in got.items())}"


def check_resources(image, _):
    yield image.directories[DIR_RESOURCE] == (0, 0), "resource directory is not empty"
    yield all(s["name"] != ".rsrc" for s in image.sections), "a .rsrc section is present"


def check_hardening(image, _):
    want = DLL_DYNAMIC_BASE | DLL_NX_COMPAT | (DLL_HIGH_ENTROPY_VA if image.is64 else 0)
    yield image.dll_characteristics & want == want, f"DllCharacteristics {image.dll_characteristics:#x}"
    yield not image.characteristics & IMAGE_FILE_RELOCS_STRIPPED, "relocations stripped"
    yield image.directories[DIR_BASERELOC][1] > 0, "no base relocation directory"
    for s in image.sections:
        both = SCN_MEM_WRITE | SCN_MEM_EXECUTE
        yield s["flags"] & both != both, f"section {s['name']} is writable and executable"


def check_timestamp(image, _):
    yield image.timestamp == 0, f"COFF timestamp {image.timestamp:#x}"
    yield image.directories[DIR_DEBUG] == (0, 0), "a debug directory (and its timestamp) is present"


def check_entry(image, map_path):
    start = map_symbol(map_path, "WinMainCRTStartup") - image.image_base
    yield image.entry == start, f"entry {image.entry:#x}, WinMainCRTStartup at {start:#x}"
    section = image.section_at(image.entry)
    yield section is not None and section["name"] == ".text", "entry point outside .text"


def check_reserves(image, _):
    yield image.reserves == DEFAULT_RESERVES, f"reserves {image.reserves}"


def called_imports(path):
    """The imports that the code refers to, found in its disassembly."""
    image = Image(path)
    slots = {address: name for functions in image.imports().values() for name, address in functions.items()}
    objdump = ("x86_64" if image.is64 else "i686") + "-w64-mingw32-objdump"
    listing = subprocess.run([objdump, "-d", path], check=True, capture_output=True, text=True).stdout
    return {slots[int(a, 16)] for a in re.findall(r"0x([0-9a-f]+)", listing) if int(a, 16) in slots}


CHECKS = {name[len("check_"):]: f for name, f in globals().items() if name.startswith("check_")}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("check", choices=sorted(CHECKS) + ["thunks"])
    parser.add_argument("images", nargs="+")
    parser.add_argument("--map")
    args = parser.parse_args()
    if args.check == "thunks":
        sets = [called_imports(path) for path in args.images]
        expected = set().union(*EXPECTED_IMPORTS.values())
        results = [(s == expected, f"{path} calls {sorted(s)}") for path, s in zip(args.images, sets)]
    else:
        results = list(CHECKS[args.check](Image(args.images[0]), args.map))
    failures = [message for ok, message in results if not ok]
    for message in failures:
        print("FAIL:", message)
    print(f"{args.check}: {len(results) - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
