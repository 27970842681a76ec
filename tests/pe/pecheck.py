#!/usr/bin/python3
"""Static checks of a built sessionend PE image, read with pefile.

    pecheck.py CHECK EXE     one named check of one image

Exits 0 when the check holds, 1 with the reasons when it does not.
"""
import argparse
import sys

import capstone
import pefile

# Exactly what the program calls, and nothing else: no C run-time, no
# wide-character forms.
EXPECTED_IMPORTS = {
    "KERNEL32.DLL": {"ExitProcess", "GetCommandLineA", "GetCurrentProcess", "GetVersion"},
    "ADVAPI32.DLL": {"AdjustTokenPrivileges", "LookupPrivilegeValueA", "OpenProcessToken"},
    "USER32.DLL": {"ExitWindowsEx"},
}
# The oldest Windows that may load each image: Windows 95 and NT 4 for x86,
# the first x64 Windows, and what ARM64 Windows requires.
SUBSYSTEM_VERSIONS = {pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]: (4, 0),
                      pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"]: (5, 2),
                      pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_ARM64"]: (6, 2)}
# The floor of the PE format as the linkers lay it out: 512 bytes of headers
# and one 512-byte block each for code, imports and relocations.
SIZE_BUDGET = 2048
# The linker's defaults, which a stray option must not have moved.
DEFAULT_RESERVES = {"SizeOfStackReserve": 0x200000, "SizeOfStackCommit": 0x1000,
                    "SizeOfHeapReserve": 0x100000, "SizeOfHeapCommit": 0x1000}
DIRECTORY = pefile.DIRECTORY_ENTRY
SECTION = pefile.SECTION_CHARACTERISTICS

# What the 386 lacks, the processor the oldest 32-bit Windows runs on:
# conditional moves, the 486's and Pentium's additions, and every vector set.
NEWER_THAN_386 = {"bswap", "xadd", "cmpxchg", "cmpxchg8b", "cpuid", "rdtsc", "rdtscp", "rdmsr", "wrmsr",
                  "rdpmc", "sysenter", "sysexit", "invlpg", "invd", "wbinvd", "popcnt", "lzcnt", "tzcnt",
                  "movbe", "ud2"}
NEWER_GROUPS = {getattr(capstone.x86, g) for g in dir(capstone.x86) if g.startswith("X86_GRP_") and any(
    s in g for s in ("CMOV", "MMX", "3DNOW", "SSE", "AVX", "FMA", "F16C", "BMI", "AES", "SHA"))}


def directory(pe, name):
    entry = pe.OPTIONAL_HEADER.DATA_DIRECTORY[DIRECTORY[name]]
    return entry.VirtualAddress, entry.Size


def check_size(pe):
    # A signature is appended to the image as shipped; it is not the image's.
    signature, signature_size = directory(pe, "IMAGE_DIRECTORY_ENTRY_SECURITY")
    size = signature if signature_size else len(pe.__data__)
    yield size <= SIZE_BUDGET, f"{size} bytes, over the budget of {SIZE_BUDGET}"


def check_subsystem(pe):
    subsystem = pe.OPTIONAL_HEADER.Subsystem
    yield subsystem == pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"], f"subsystem {subsystem}, want GUI"
    version = (pe.OPTIONAL_HEADER.MajorSubsystemVersion, pe.OPTIONAL_HEADER.MinorSubsystemVersion)
    wanted = SUBSYSTEM_VERSIONS.get(pe.FILE_HEADER.Machine)
    yield version == wanted, f"machine {pe.FILE_HEADER.Machine:#x}, subsystem version {version}, want {wanted}"


def check_imports(pe):
    got = {entry.dll.decode().upper(): {i.name.decode() if i.name else f"#{i.ordinal}" for i in entry.imports}
           for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])}
    yield got == EXPECTED_IMPORTS, f"imports {sorted((d, sorted(f)) for d, f in got.items())}"


def check_resources(pe):
    yield directory(pe, "IMAGE_DIRECTORY_ENTRY_RESOURCE") == (0, 0), "resource directory is not empty"
    yield all(s.Name.rstrip(b"\0") != b".rsrc" for s in pe.sections), "a .rsrc section is present"


def check_hardening(pe):
    optional = pe.OPTIONAL_HEADER
    yield optional.IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE, "no ASLR (dynamic base)"
    yield optional.IMAGE_DLLCHARACTERISTICS_NX_COMPAT, "no DEP (NX compatible)"
    if pe.PE_TYPE == pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS:
        yield optional.IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA, "no high-entropy ASLR"
    yield not pe.FILE_HEADER.IMAGE_FILE_RELOCS_STRIPPED, "relocations stripped"
    yield directory(pe, "IMAGE_DIRECTORY_ENTRY_BASERELOC")[1] > 0, "no base relocation directory"
    for s in pe.sections:
        writable_code = s.IMAGE_SCN_MEM_WRITE and s.IMAGE_SCN_MEM_EXECUTE
        yield not writable_code, f"section {s.Name.rstrip(bytes(1))} is writable and executable"


def check_checksum(pe):
    # What signing writes there too, so that a signature comes off cleanly.
    checksum, computed = pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum()
    yield checksum == computed, f"header checksum {checksum:#x}, the image's is {computed:#x}"


def check_timestamp(pe):
    yield pe.FILE_HEADER.TimeDateStamp == 0, f"COFF timestamp {pe.FILE_HEADER.TimeDateStamp:#x}"
    yield directory(pe, "IMAGE_DIRECTORY_ENTRY_DEBUG") == (0, 0), "a debug directory (and its timestamp) is present"


def check_reserves(pe):
    reserves = {name: getattr(pe.OPTIONAL_HEADER, name) for name in DEFAULT_RESERVES}
    yield reserves == DEFAULT_RESERVES, f"reserves {reserves}"


def check_i386(pe):
    if pe.FILE_HEADER.Machine != pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]:
        return
    disassembler = capstone.Cs(capstone.CS_ARCH_X86, capstone.CS_MODE_32)
    disassembler.detail = True
    disassembler.skipdata = True
    code = [insn for section in pe.sections if section.IMAGE_SCN_MEM_EXECUTE for insn in disassembler.disasm(
        section.get_data(), pe.OPTIONAL_HEADER.ImageBase + section.VirtualAddress) if insn.id != 0]
    yield len(code) > 0, "no code found"
    for insn in code:
        # The long NOP (0F 1F) is the Pentium Pro's.
        newer = (insn.mnemonic in NEWER_THAN_386 or insn.mnemonic.startswith(("cmov", "fcmov", "fcomi", "fucomi"))
                 or bytes(insn.opcode[:2]) == b"\x0f\x1f" or any(insn.group(g) for g in NEWER_GROUPS))
        yield not newer, f"{insn.address:#x}: {insn.mnemonic} {insn.op_str} is newer than the 386"


CHECKS = {name[len("check_"):]: f for name, f in globals().items() if name.startswith("check_")}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("check", choices=sorted(CHECKS))
    parser.add_argument("image")
    args = parser.parse_args()
    results = list(CHECKS[args.check](pefile.PE(args.image)))
    failures = [message for ok, message in results if not ok]
    for message in failures:
        print("FAIL:", message)
    print(f"{args.check}: {len(results) - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
