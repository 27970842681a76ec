#!/usr/bin/python3
"""emulate.py IMAGE: runs a sessionend image in a CPU emulator (Unicorn), once
per case of a table, loaded away from its preferred base (which stays
unmapped, so that a missed relocation faults or shows as a stale pointer) and
bound to a model of the eight platform functions that checks the calling
convention at every call and return and leaves undefined bits poisoned.
"""
import sys
from collections import namedtuple
from dataclasses import dataclass, field

import capstone
import pefile
import unicorn
from unicorn import arm64_const as A
from unicorn import x86_const as X

PAGE = 0x1000
BUDGET = 20_000  # instructions; the whole run takes a few hundred
TOKEN, LUID = 0x7F0, (0x13, 0)  # what the platform hands out: a handle, the shutdown privilege
POISON = 0xBAD0_C0DE_BAD0_C0DE


@dataclass(frozen=True)
class Arch:
    name: str
    uc: tuple
    cs: tuple
    word: int
    pc: int
    sp: int
    args: list         # registers that carry the first arguments
    scratch: list      # what the platform may leave changed, the result register first
    saved: list        # what the platform and every function must give back unchanged
    trap: bytes        # fills the stubs, so that running into one faults
    high: int          # where everything is mapped: above 4 GiB on 64-bit Windows
    link: int = None   # the link register, where there is one; else the return address is on the stack
    home: int = 0      # bytes above the return address that belong to the callee
    callee_pops: bool = False  # stdcall: the callee removes its arguments
    call_align: int = 0        # the stack pointer's alignment at every call instruction
    step_align: int = 0        # ... and at every instruction


def regs(module, prefix, names):
    return [getattr(module, f"UC_{prefix}_REG_{n}") for n in names]


X86 = Arch("x86", (unicorn.UC_ARCH_X86, unicorn.UC_MODE_32), (capstone.CS_ARCH_X86, capstone.CS_MODE_32), 4,
           X.UC_X86_REG_EIP, X.UC_X86_REG_ESP, [], regs(X, "X86", ["EAX", "ECX", "EDX"]),
           regs(X, "X86", ["EBX", "ESI", "EDI", "EBP"]), b"\xcc", 0, callee_pops=True)
X64 = Arch("x64", (unicorn.UC_ARCH_X86, unicorn.UC_MODE_64), (capstone.CS_ARCH_X86, capstone.CS_MODE_64), 8,
           X.UC_X86_REG_RIP, X.UC_X86_REG_RSP, regs(X, "X86", ["RCX", "RDX", "R8", "R9"]),
           regs(X, "X86", ["RAX", "RCX", "RDX", "R8", "R9", "R10", "R11"]),
           regs(X, "X86", ["RBX", "RBP", "RDI", "RSI", "R12", "R13", "R14", "R15"]), b"\xcc", 0x7FF6 << 32,
           home=32, call_align=16)
ARM64 = Arch("arm64", (unicorn.UC_ARCH_ARM64, unicorn.UC_MODE_ARM), (capstone.CS_ARCH_ARM64, capstone.CS_MODE_ARM),
             8, A.UC_ARM64_REG_PC, A.UC_ARM64_REG_SP, regs(A, "ARM64", [f"X{i}" for i in range(8)]),
             regs(A, "ARM64", [f"X{i}" for i in range(18)]), regs(A, "ARM64", [f"X{i}" for i in range(19, 30)]),
             b"\x00\x00\x20\xd4", 0x7FF6 << 32, link=A.UC_ARM64_REG_LR, step_align=16)
ARCHES = {0x14C: X86, 0x8664: X64, 0xAA64: ARM64}

# The address space of one run, below `high`: the image goes 64 KiB-aligned
# far from its preferred base. The TEB is never mapped: the program has no
# use for it, so any use faults.
STACK, STACK_SIZE = 0x0010_0000, 0x10_0000
TEB, STUBS, COMMAND_LINE = 0x7FFD_E000, 0x7FFE_0000, 0x6000_0000
BASE_SHIFT = 0x1230_0000
LOADER_RETURN = STUBS + 0xFF0  # where the entry point would return to

# Argument kinds, then the result's: p a pointer or handle, d a 32-bit value
# (BOOL, DWORD, UINT), whose upper bits are undefined in a 64-bit register.
SIGNATURES = {
    "GetCommandLineA": ("", "p"), "GetVersion": ("", "d"), "GetCurrentProcess": ("", "p"),
    "ExitProcess": ("d", "d"), "OpenProcessToken": ("pdp", "d"), "LookupPrivilegeValueA": ("ppp", "d"),
    "AdjustTokenPrivileges": ("pdpdpp", "d"), "ExitWindowsEx": ("dd", "d"),
}


class Fault(Exception):
    pass


Frame = namedtuple("Frame", "sp regs ret")


@dataclass
class Run:
    calls: list = field(default_factory=list)
    status: int = None
    errors: list = field(default_factory=list)
    steps: int = 0


class Machine:
    """One process: the image mapped and bound, a stack, a command line, and
    the platform's answers for this run."""

    def __init__(self, path, command_line, version, results):
        self.pe = pefile.PE(path)
        self.arch = arch = ARCHES[self.pe.FILE_HEADER.Machine]
        self.uc = unicorn.Uc(*arch.uc)
        self.cs = capstone.Cs(*arch.cs)
        self.cs.detail = True
        self.decoded, self.frames, self.last = {}, [], None
        self.version, self.results, self.run = version, results, Run()
        self.preferred = self.pe.OPTIONAL_HEADER.ImageBase
        self.size = self.pe.OPTIONAL_HEADER.SizeOfImage
        self.base = (self.preferred if arch.word == 4 else arch.high) + BASE_SHIFT
        self.load()
        self.stubs = self.bind()
        self.command_line = self.place_command_line(command_line, arch.high + COMMAND_LINE)
        self.uc.mem_map(arch.high + STACK, STACK_SIZE, unicorn.UC_PROT_READ | unicorn.UC_PROT_WRITE)
        # Windows leaves whatever it likes on the stack: a value the program
        # reads before it writes must not pass for zero.
        self.uc.mem_write(arch.high + STACK, b"\xa5" * STACK_SIZE)
        self.uc.hook_add(unicorn.UC_HOOK_CODE, self.step, begin=self.base, end=self.base + self.size - 1)
        self.uc.hook_add(unicorn.UC_HOOK_CODE, self.platform, begin=arch.high + STUBS, end=arch.high + STUBS + PAGE - 1)
        self.uc.hook_add(unicorn.UC_HOOK_MEM_READ, self.image_read, begin=self.base, end=self.base + self.size - 1)
        self.uc.hook_add(unicorn.UC_HOOK_MEM_INVALID, self.fault)
        # The loader's own registers: the callee-saved ones hold values that
        # the entry point has no right to change if it ever returns.
        for i, reg in enumerate(arch.saved):
            self.uc.reg_write(reg, 0x5A5A_0000 + i)
        # The stack as Windows leaves it: 16-byte aligned before the call of
        # the entry point, where the loader would be returned to.
        sp = arch.high + STACK + STACK_SIZE - 0x100
        if arch.link is None:
            sp -= arch.word
            self.write_word(sp, arch.high + LOADER_RETURN)
        else:
            self.uc.reg_write(arch.link, arch.high + LOADER_RETURN)
            self.uc.reg_write(A.UC_ARM64_REG_X18, arch.high + TEB)
        self.uc.reg_write(arch.sp, sp)

    def load(self):
        """Headers and sections with their own protections, each section's
        file data up to its virtual size and zeros after it, as the loader
        does; then the base relocations."""
        pe, uc = self.pe, self.uc
        uc.mem_map(self.base, self.size, unicorn.UC_PROT_NONE)
        uc.mem_write(self.base, pe.__data__[:pe.OPTIONAL_HEADER.SizeOfHeaders])
        uc.mem_protect(self.base, PAGE, unicorn.UC_PROT_READ)
        for section in pe.sections:
            flags = section.Characteristics
            perms = ((unicorn.UC_PROT_READ if flags & 0x40000000 else 0) |
                     (unicorn.UC_PROT_WRITE if flags & 0x80000000 else 0) |
                     (unicorn.UC_PROT_EXEC if flags & 0x20000000 else 0))
            start, virtual = self.base + section.VirtualAddress, max(section.Misc_VirtualSize, 1)
            uc.mem_write(start, section.get_data()[:min(virtual, section.SizeOfRawData)])
            uc.mem_protect(start, -(-virtual // PAGE) * PAGE, perms)
        widths = {pefile.RELOCATION_TYPE["IMAGE_REL_BASED_HIGHLOW"]: 4,
                  pefile.RELOCATION_TYPE["IMAGE_REL_BASED_DIR64"]: 8}
        for block in getattr(pe, "DIRECTORY_ENTRY_BASERELOC", []):
            for entry in block.entries:
                if entry.type == pefile.RELOCATION_TYPE["IMAGE_REL_BASED_ABSOLUTE"]:
                    continue
                if entry.type not in widths:
                    raise Fault(f"relocation type {entry.type} at RVA {entry.rva:#x} is not one Windows applies here")
                where, width = self.base + entry.rva, widths[entry.type]
                self.write_word(where, self.read_word(where, width) + self.base - self.preferred, width)

    def bind(self):
        """Points every import slot at a stub of its own; returns {stub: name}."""
        stubs, high = {}, self.arch.high
        self.uc.mem_map(high + STUBS, PAGE, unicorn.UC_PROT_READ | unicorn.UC_PROT_EXEC)
        self.uc.mem_write(high + STUBS, self.arch.trap * (PAGE // len(self.arch.trap)))
        for dll in self.pe.DIRECTORY_ENTRY_IMPORT:
            for imported in dll.imports:
                name = imported.name.decode() if imported.name else f"#{imported.ordinal}"
                if name not in SIGNATURES:
                    raise Fault(f"the image imports {name}, which this model of the platform lacks")
                stub = high + STUBS + 16 * len(stubs)
                stubs[stub] = name
                self.write_word(imported.address - self.preferred + self.base, stub)
        return stubs

    def place_command_line(self, text, end):
        """The text's NUL is the last byte of a mapped page: a read past it faults."""
        data = text + b"\0"
        size = -(-len(data) // PAGE) * PAGE
        self.uc.mem_map(end - size, size, unicorn.UC_PROT_READ)
        self.uc.mem_write(end - len(data), data)
        return end - len(data)

    def read_word(self, address, width=None):
        return int.from_bytes(self.uc.mem_read(address, width or self.arch.word), "little")

    def write_word(self, address, value, width=None):
        width = width or self.arch.word
        self.uc.mem_write(address, (value % (1 << 8 * width)).to_bytes(width, "little"))

    def store(self, address, data):
        """A write by the platform: only into writable memory of the process."""
        for begin, end, perms in self.uc.mem_regions():
            if begin <= address and address + len(data) - 1 <= end and perms & unicorn.UC_PROT_WRITE:
                self.uc.mem_write(address, data)
                return
        raise Fault(f"the platform was asked to write {len(data)} bytes to {address:#x}, not writable memory")

    def cstring(self, address):
        text = b""
        while not text.endswith(b"\0"):
            text += bytes(self.uc.mem_read(address + len(text), 1))
        return text[:-1].decode("latin-1")

    def stale(self, value):
        return self.preferred <= value % (1 << 8 * self.arch.word) < self.preferred + self.size

    def step(self, uc, address, size, _):
        """What every instruction of the image is checked for."""
        self.run.steps += 1
        insn = self.decoded.get(address) or next(self.cs.disasm(bytes(uc.mem_read(address, size)), address), None)
        if self.run.steps > BUDGET or insn is None:
            self.error(f"no ExitProcess within {BUDGET} instructions" if insn else
                       f"an instruction the disassembler cannot decode at {self.where(address)}")
            uc.emu_stop()
            return
        self.decoded[address], self.last = insn, insn
        arch, sp = self.arch, uc.reg_read(self.arch.sp)
        if arch.step_align and sp % arch.step_align:
            self.error(f"SP {sp:#x} not {arch.step_align}-byte aligned at {self.where(address)}")
        if arch is ARM64 and uc.reg_read(A.UC_ARM64_REG_X18) != arch.high + TEB:
            self.error(f"x18, the TEB pointer, was changed before {self.where(address)}")
        # Capstone 4 puts neither bl nor blr in the call group.
        if insn.group(capstone.CS_GRP_CALL) or insn.mnemonic in ("bl", "blr"):
            if arch.call_align and sp % arch.call_align:
                self.error(f"SP {sp:#x} not {arch.call_align}-byte aligned at the call at {self.where(address)}")
            self.frames.append(Frame(sp, self.saved(), address + size))
        elif insn.group(capstone.CS_GRP_RET):
            self.leave(self.frames.pop() if self.frames else None, sp, self.returning_to(sp),
                       f"the return at {self.where(address)}")

    def returning_to(self, sp):
        return self.uc.reg_read(self.arch.link) if self.arch.link else self.read_word(sp)

    def leave(self, frame, sp, returning_to, what):
        """A function gives control back: to its caller, with the stack and
        the callee-saved registers as it found them."""
        if frame is None:
            self.error(f"{what} leaves the entry point, which must end in ExitProcess")
            self.uc.emu_stop()
            return
        expected_sp = frame.sp if self.arch.link else frame.sp - self.arch.word
        if sp != expected_sp:
            self.error(f"{what}: stack pointer {sp:#x}, expected {expected_sp:#x} (off by {sp - expected_sp:+d})")
        if returning_to != frame.ret:
            self.error(f"{what} goes to {returning_to:#x}, not back to the caller at {frame.ret:#x}")
        if self.saved() != frame.regs:
            names = {value: name.rsplit("_", 1)[1].lower() for name, value in
                     vars(A if self.arch is ARM64 else X).items() if "_REG_" in name}
            changed = [names[reg] for reg, now, then in zip(self.arch.saved, self.saved(), frame.regs) if now != then]
            self.error(f"{what} changes callee-saved registers {', '.join(changed)}")

    def saved(self):
        return [self.uc.reg_read(reg) for reg in self.arch.saved]

    def where(self, address):
        return f"RVA {address - self.base:#x}"

    def error(self, message):
        if message not in self.run.errors:
            self.run.errors.append(message)

    def image_read(self, uc, access, address, size, value, _):
        # A pointer that the image holds in its own memory was missed by the
        # relocation table if it still points into the preferred range; a
        # load may bring in several at once (ldp).
        word = self.arch.word
        for at in range(address, address + size - word + 1, word):
            if self.stale(self.read_word(at)):
                self.error(f"stale pointer read from RVA {at - self.base:#x}: the relocation table misses it")

    def fault(self, uc, access, address, size, value, _):
        pc = uc.reg_read(self.arch.pc)
        kind = next(name[7:].lower() for name, value in vars(unicorn).items()
                    if name.startswith("UC_MEM_") and value == access and "_AFTER" not in name)
        stale = " (a stale pointer into the preferred base)" if self.stale(address) else ""
        self.error(f"{kind} fault at {address:#x}{stale}, pc {pc:#x}")
        return False

    def arg(self, index, kind):
        arch = self.arch
        if index < len(arch.args):
            value = self.uc.reg_read(arch.args[index])
        else:
            # Past the return address (where it is on the stack) and the home space.
            offset = (0 if arch.link else arch.word) + arch.home + arch.word * (index - len(arch.args))
            value = self.read_word(self.uc.reg_read(arch.sp) + offset)
        return value & 0xFFFFFFFF if kind == "d" else value

    def platform(self, uc, address, size, _):
        """A call into the platform: answered by the model, then returned from
        by the convention, leaving nothing that the caller may rely on."""
        name, arch = self.stubs.get(address), self.arch
        if name is None:
            self.error("the entry point returned to the loader" if address == arch.high + LOADER_RETURN
                       else f"jump into the platform at {address:#x}, not to a function")
            uc.emu_stop()
            return
        sp = uc.reg_read(arch.sp)
        returning_to = self.returning_to(sp)
        kinds, result_kind = SIGNATURES[name]
        args = [self.arg(i, kind) for i, kind in enumerate(kinds)]
        try:
            record, result = getattr(self, name)(*args)
        except (Fault, unicorn.UcError) as problem:
            self.error(f"{name}: {problem}")
            uc.emu_stop()
            return
        self.run.calls.append(record)
        if name == "ExitProcess":
            self.run.status = args[0]
            uc.emu_stop()
            return
        # A call instruction sets up the return by construction; a jump from
        # a function that has already torn down its frame must match it.
        frame = self.frames.pop() if self.frames and self.frames[-1].ret == returning_to else None
        tail_call = frame is not None and not (self.last and self.last.address + self.last.size == frame.ret)
        if tail_call:
            self.leave(frame, sp, returning_to, f"the jump to {name}")
        for reg in arch.scratch[1:]:
            uc.reg_write(reg, POISON % (1 << 8 * arch.word))
        if result_kind == "d" and arch.word == 8:
            result = result % (1 << 32) | POISON & ~0xFFFFFFFF
        uc.reg_write(arch.scratch[0], result % (1 << 8 * arch.word))
        if arch.link is None:
            uc.mem_write(sp + arch.word, b"\xa5" * arch.home)
            sp += arch.word * (1 + (len(args) if arch.callee_pops else 0))
            uc.reg_write(arch.sp, sp)
        uc.reg_write(arch.pc, returning_to)
        uc.mem_write(sp - 256, b"\xa5" * 256)

    def GetCommandLineA(self):
        return "GetCommandLineA()", self.command_line

    def GetVersion(self):
        return "GetVersion()", self.version

    def GetCurrentProcess(self):
        return "GetCurrentProcess()", -1

    def OpenProcessToken(self, process, access, token):
        ok = self.results.get("OpenProcessToken", 1)
        if ok:
            self.store(token, TOKEN.to_bytes(self.arch.word, "little"))
        process = "current process" if process == (1 << 8 * self.arch.word) - 1 else f"{process:#x}"
        return f"OpenProcessToken({process}, {access:#x}, {pointer(token)})", ok

    def LookupPrivilegeValueA(self, system, name, luid):
        ok = self.results.get("LookupPrivilegeValueA", 1)
        if ok:
            self.store(luid, LUID[0].to_bytes(4, "little") + LUID[1].to_bytes(4, "little"))
        system = "null" if system == 0 else repr(self.cstring(system))
        return f'LookupPrivilegeValueA({system}, "{self.cstring(name)}", {pointer(luid)})', ok

    def AdjustTokenPrivileges(self, token, disable_all, state, length, previous, returned):
        record = "null"
        if state:
            count, low, high, attributes = (self.read_word(state + 4 * i, 4) for i in range(4))
            record = f"{{{count}, {low:#x}:{high:#x}, {attributes:#x}}}"
        token = "null" if token == 0 else f"{token:#x}"
        return (f"AdjustTokenPrivileges({token}, {disable_all}, {record}, {length}, {pointer(previous)}, "
                f"{pointer(returned)})", self.results.get("AdjustTokenPrivileges", 1))

    def ExitWindowsEx(self, flags, reason):
        return f"ExitWindowsEx({flags:#x}, {reason:#x})", self.results.get("ExitWindowsEx", 1)

    def ExitProcess(self, status):
        return f"ExitProcess({status})", 0

    def start(self):
        entry = self.base + self.pe.OPTIONAL_HEADER.AddressOfEntryPoint
        try:
            self.uc.emu_start(entry, self.arch.high + LOADER_RETURN + 1, count=BUDGET * 2)
        except unicorn.UcError as problem:
            self.error(f"the emulator stopped: {problem}")
        if self.run.status is None:
            self.error("the run did not end in ExitProcess")
        return self.run


def pointer(value):
    return "null" if value == 0 else "out"


# Version words of Windows NT 4, 2000, XP, 7 and 10; then bit 31 set with bit
# 30 clear, Windows 98's, and every bit. Only bit 31 tells the families apart.
NT_WORDS = (0x0565_0004, 0x0893_0005, 0x0A28_0105, 0x1DB1_0106, 0x4A61_000A)
WIN9X_WORDS = (0x8000_0004, 0xC000_0A04, 0xFFFF_FFFF)
NT = NT_WORDS[3]
OPEN = "OpenProcessToken(current process, 0x28, out)"
LOOKUP = 'LookupPrivilegeValueA(null, "SeShutdownPrivilege", out)'


def privilege(token="0x7f0", luid="0x13:0x0"):
    return ["GetVersion()", "GetCurrentProcess()", OPEN, LOOKUP,
            f"AdjustTokenPrivileges({token}, 0, {{1, {luid}, 0x2}}, 0, null, null)"]


NO_PRIVILEGE = {"OpenProcessToken": 0, "LookupPrivilegeValueA": 0, "AdjustTokenPrivileges": 0}

# What only a run of the image shows: every bit through the ABI, the family
# test on each version word, a refusal and an odd BOOL, and each privilege
# call failing. The host table holds the parsing.
# (what it shows, command line, version word, platform results, calls after
#  GetCommandLineA, exit status)
CASES = [
    ("NT, -1: every bit", b'"C:\\Program Files\\sessionend.exe" -1', NT, {},
     privilege() + ["ExitWindowsEx(0xffffffff, 0x0)"], 0),
    ("NT, refused", b"sessionend.exe 1", NT, {"ExitWindowsEx": 0}, privilege() + ["ExitWindowsEx(0x1, 0x0)"], 1),
    ("NT, accepted as 0x100", b"sessionend.exe 1", NT, {"ExitWindowsEx": 0x100},
     privilege() + ["ExitWindowsEx(0x1, 0x0)"], 0),
    ("NT, no token", b"sessionend.exe 9", NT, {"OpenProcessToken": 0},
     privilege(token="null") + ["ExitWindowsEx(0x9, 0x0)"], 0),
    ("NT, no LUID", b"sessionend.exe 9", NT, {"LookupPrivilegeValueA": 0},
     privilege(luid="0x0:0x0") + ["ExitWindowsEx(0x9, 0x0)"], 0),
    ("NT, adjust fails", b"sessionend.exe 9", NT, {"AdjustTokenPrivileges": 0},
     privilege() + ["ExitWindowsEx(0x9, 0x0)"], 0),
    ("NT, every privilege call fails", b"sessionend.exe 9", NT, NO_PRIVILEGE,
     privilege(token="null", luid="0x0:0x0") + ["ExitWindowsEx(0x9, 0x0)"], 0),
] + [(f"NT {word:#x}: log off, privilege first", b"sessionend.exe", word, {},
      privilege() + ["ExitWindowsEx(0x0, 0x0)"], 0) for word in NT_WORDS] + [
    (f"9x {word:#x}: no privilege calls", b"sessionend.exe 2", word, {},
     ["GetVersion()", "ExitWindowsEx(0x2, 0x0)"], 0) for word in WIN9X_WORDS]


def main(path):
    arch = ARCHES[pefile.PE(path, fast_load=True).FILE_HEADER.Machine]
    failed = 0
    for label, line, version, results, calls, status in CASES:
        try:
            run = Machine(path, line, version, results).start()
        except Fault as problem:
            run = Run(errors=[str(problem)])
        expected = ["GetCommandLineA()"] + calls + [f"ExitProcess({status})"]
        if run.calls != expected:
            run.errors.append("calls:\n      " + "\n      ".join(run.calls) +
                              "\n    expected:\n      " + "\n      ".join(expected))
        if run.errors:
            failed += 1
            print(f"FAIL: {arch.name} {label} ({run.steps} instructions)")
            print("\n".join("    " + error for error in run.errors[:6]))
    print(f"{arch.name}: {len(CASES) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
