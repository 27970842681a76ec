#!/usr/bin/python3
"""emulate.py IMAGE: runs a sessionend image instruction by instruction in a
CPU emulator (Unicorn), loaded and started the way Windows would, against a
model of the eight platform functions it imports, once per case of a table.

The loader places the image away from its preferred base and applies the
relocation table itself, so that any absolute address the table misses shows
up as a stale pointer. Every call into the platform is checked against the
architecture's calling convention, and every return inside the image against
the callee-saved registers and the stack pointer it was called with. Nothing
of the image ever executes on the host's own CPU.
"""
import sys
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


@dataclass
class Arch:
    name: str
    uc: tuple
    cs: tuple
    word: int
    pc: int
    sp: int
    args: list       # registers that carry the first arguments
    scratch: list    # what the platform may leave changed, the result register first
    saved: list      # what the platform and every function must give back unchanged
    trap: bytes      # fills the stubs, so that running into one faults
    high: int        # where everything is mapped: above 4 GiB on 64-bit Windows
    starts: tuple    # the stack pointer at the entry, mod 16, as the loader may leave it


X86 = Arch("x86", (unicorn.UC_ARCH_X86, unicorn.UC_MODE_32), (capstone.CS_ARCH_X86, capstone.CS_MODE_32), 4,
           X.UC_X86_REG_EIP, X.UC_X86_REG_ESP, [], [X.UC_X86_REG_EAX, X.UC_X86_REG_ECX, X.UC_X86_REG_EDX],
           [X.UC_X86_REG_EBX, X.UC_X86_REG_ESI, X.UC_X86_REG_EDI, X.UC_X86_REG_EBP], b"\xcc", 0, (0, 4, 8, 12))
X64 = Arch("x64", (unicorn.UC_ARCH_X86, unicorn.UC_MODE_64), (capstone.CS_ARCH_X86, capstone.CS_MODE_64), 8,
           X.UC_X86_REG_RIP, X.UC_X86_REG_RSP, [X.UC_X86_REG_RCX, X.UC_X86_REG_RDX, X.UC_X86_REG_R8, X.UC_X86_REG_R9],
           [X.UC_X86_REG_RAX, X.UC_X86_REG_RCX, X.UC_X86_REG_RDX] + [getattr(X, f"UC_X86_REG_R{i}") for i in range(8, 12)],
           [X.UC_X86_REG_RBX, X.UC_X86_REG_RBP, X.UC_X86_REG_RDI, X.UC_X86_REG_RSI]
           + [getattr(X, f"UC_X86_REG_R{i}") for i in range(12, 16)], b"\xcc", 0x7FF6 << 32, (8,))
ARM64 = Arch("arm64", (unicorn.UC_ARCH_ARM64, unicorn.UC_MODE_ARM), (capstone.CS_ARCH_ARM64, capstone.CS_MODE_ARM), 8,
             A.UC_ARM64_REG_PC, A.UC_ARM64_REG_SP, [getattr(A, f"UC_ARM64_REG_X{i}") for i in range(8)],
             [getattr(A, f"UC_ARM64_REG_X{i}") for i in range(18)],
             [getattr(A, f"UC_ARM64_REG_X{i}") for i in range(19, 30)], b"\x00\x00\x20\xd4", 0x7FF6 << 32, (0,))
ARCHES = {0x14C: X86, 0x8664: X64, 0xAA64: ARM64}

# The address space of one run, below `high`: the image goes 64 KiB-aligned
# far from its preferred base, which stays unmapped.
STACK, STACK_SIZE = 0x0010_0000, 0x10_0000
TEB, STUBS, COMMAND_LINE = 0x7FFD_E000, 0x7FFE_0000, 0x6000_0000
BASE_SHIFT = 0x1230_0000
LOADER_RETURN = STUBS + 0xFF0  # where the entry point would return to

# Argument kinds: p a pointer, d a 32-bit value (upper bits undefined on 64-bit).
SIGNATURES = {
    "GetCommandLineA": "", "GetVersion": "", "GetCurrentProcess": "", "ExitProcess": "d",
    "OpenProcessToken": "pdp", "LookupPrivilegeValueA": "ppp", "AdjustTokenPrivileges": "pdpdpp",
    "ExitWindowsEx": "dd",
}


class Fault(Exception):
    pass


@dataclass
class Frame:
    sp: int
    regs: list
    ret: int


@dataclass
class Run:
    calls: list = field(default_factory=list)
    status: int = None
    errors: list = field(default_factory=list)
    steps: int = 0


class Machine:
    """One process: the image mapped and bound, a stack, a command line, and
    the platform's answers for this run."""

    def __init__(self, path, command_line, version, results, start):
        self.pe = pefile.PE(path)
        self.arch = ARCHES[self.pe.FILE_HEADER.Machine]
        arch, high = self.arch, self.arch.high
        self.uc = unicorn.Uc(*arch.uc)
        self.cs = capstone.Cs(*arch.cs)
        self.cs.detail = True
        self.decoded = {}
        self.version, self.results, self.run = version, results, Run()
        self.frames = []
        self.preferred = self.pe.OPTIONAL_HEADER.ImageBase
        self.size = self.pe.OPTIONAL_HEADER.SizeOfImage
        self.base = self.preferred + BASE_SHIFT if arch.word == 4 else high + BASE_SHIFT
        self.load()
        self.stubs = self.bind()
        self.command_line = self.place_command_line(command_line, high + COMMAND_LINE)
        self.uc.mem_map(high + STACK, STACK_SIZE, unicorn.UC_PROT_READ | unicorn.UC_PROT_WRITE)
        self.uc.mem_map(high + TEB, PAGE, unicorn.UC_PROT_READ | unicorn.UC_PROT_WRITE)
        self.set_teb(high + TEB)
        self.uc.hook_add(unicorn.UC_HOOK_CODE, self.step, begin=self.base, end=self.base + self.size - 1)
        self.uc.hook_add(unicorn.UC_HOOK_CODE, self.platform, begin=high + STUBS, end=high + STUBS + PAGE - 1)
        self.uc.hook_add(unicorn.UC_HOOK_MEM_READ, self.image_read, begin=self.base, end=self.base + self.size - 1)
        self.uc.hook_add(unicorn.UC_HOOK_MEM_READ | unicorn.UC_HOOK_MEM_WRITE, self.teb_access,
                         begin=high + TEB, end=high + TEB + PAGE - 1)
        self.uc.hook_add(unicorn.UC_HOOK_MEM_INVALID, self.fault)
        # The loader's own registers: the callee-saved ones hold values that
        # the entry point has no right to change if it ever returns.
        for i, reg in enumerate(arch.saved):
            self.uc.reg_write(reg, 0x5A5A_0000 + i)
        sp = high + STACK + STACK_SIZE - 0x100 + start
        if arch is ARM64:
            self.uc.reg_write(A.UC_ARM64_REG_LR, high + LOADER_RETURN)
        else:
            self.write_word(sp, high + LOADER_RETURN)
        self.uc.reg_write(arch.sp, sp)

    # Loading: headers and sections with their own protections, then the
    # base relocations, applied to the mapped image.
    def load(self):
        pe, uc = self.pe, self.uc
        uc.mem_map(self.base, self.size, unicorn.UC_PROT_NONE)
        headers = pe.OPTIONAL_HEADER.SizeOfHeaders
        uc.mem_write(self.base, pe.__data__[:headers])
        uc.mem_protect(self.base, PAGE, unicorn.UC_PROT_READ)
        for section in pe.sections:
            flags = section.Characteristics
            perms = ((unicorn.UC_PROT_READ if flags & 0x40000000 else 0) |
                     (unicorn.UC_PROT_WRITE if flags & 0x80000000 else 0) |
                     (unicorn.UC_PROT_EXEC if flags & 0x20000000 else 0))
            start = self.base + section.VirtualAddress
            uc.mem_write(start, section.get_data()[:max(section.Misc_VirtualSize, section.SizeOfRawData)])
            uc.mem_protect(start, -(-max(section.Misc_VirtualSize, 1) // PAGE) * PAGE, perms)
        delta = self.base - self.preferred
        for block in getattr(pe, "DIRECTORY_ENTRY_BASERELOC", []):
            for entry in block.entries:
                where = self.base + entry.rva
                if entry.type == pefile.RELOCATION_TYPE["IMAGE_REL_BASED_ABSOLUTE"]:
                    continue
                width = {pefile.RELOCATION_TYPE["IMAGE_REL_BASED_HIGHLOW"]: 4,
                         pefile.RELOCATION_TYPE["IMAGE_REL_BASED_DIR64"]: 8}.get(entry.type)
                if width is None:
                    raise Fault(f"relocation type {entry.type} at RVA {entry.rva:#x} is not one Windows applies here")
                value = int.from_bytes(uc.mem_read(where, width), "little")
                uc.mem_write(where, ((value + delta) % (1 << 8 * width)).to_bytes(width, "little"))

    def bind(self):
        """Points every import slot at a stub of its own; returns {stub: name}."""
        stubs = {}
        self.uc.mem_map(self.arch.high + STUBS, PAGE, unicorn.UC_PROT_READ | unicorn.UC_PROT_EXEC)
        self.uc.mem_write(self.arch.high + STUBS, self.arch.trap * (PAGE // len(self.arch.trap)))
        for dll in self.pe.DIRECTORY_ENTRY_IMPORT:
            for imported in dll.imports:
                name = imported.name.decode() if imported.name else f"#{imported.ordinal}"
                if name not in SIGNATURES:
                    raise Fault(f"the image imports {name}, which this model of the platform lacks")
                stub = self.arch.high + STUBS + 16 * len(stubs)
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

    def set_teb(self, teb):
        if self.arch is ARM64:
            self.uc.reg_write(A.UC_ARM64_REG_X18, teb)
        elif self.arch is X64:
            self.uc.msr_write(0xC0000101, teb)  # IA32_GS_BASE
        else:
            # Unicorn ignores a write of the FS base in 32-bit mode, so FS
            # needs a descriptor; SS follows, or it stays a 16-bit stack.
            # Ring-0 flat selectors: the emulator runs at CPL 0.
            gdt = self.arch.high + TEB - PAGE
            self.uc.mem_map(gdt, PAGE, unicorn.UC_PROT_READ)
            flat_data = 0x00CF_9300_0000_FFFF
            fs = 0x0040_9300_0000_0FFF | (teb & 0xFFFFFF) << 16 | (teb >> 24) << 56
            self.uc.mem_write(gdt, b"".join(d.to_bytes(8, "little") for d in (0, 0, flat_data, fs)))
            self.uc.reg_write(X.UC_X86_REG_GDTR, (0, gdt, 4 * 8 - 1, 0))
            self.uc.reg_write(X.UC_X86_REG_SS, 2 << 3)
            self.uc.reg_write(X.UC_X86_REG_FS, 3 << 3)

    # Memory helpers
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
        return self.preferred <= value < self.preferred + self.size

    # What every instruction of the image is checked for.
    def step(self, uc, address, size, _):
        self.run.steps += 1
        if self.run.steps > BUDGET:
            self.error(f"no ExitProcess within {BUDGET} instructions")
            uc.emu_stop()
            return
        insn = self.decoded.get(address)
        if insn is None:
            insn = next(self.cs.disasm(bytes(uc.mem_read(address, size)), address), None)
            self.decoded[address] = insn
        if insn is None:
            return
        sp = uc.reg_read(self.arch.sp)
        if self.arch is ARM64:
            if sp % 16:
                self.error(f"SP {sp:#x} not 16-byte aligned at {self.where(address)}")
            if uc.reg_read(A.UC_ARM64_REG_X18) != self.arch.high + TEB:
                self.error(f"x18, the TEB pointer, was changed before {self.where(address)}")
        else:
            for operand in insn.operands:
                if operand.type == capstone.x86.X86_OP_IMM:
                    value = operand.imm
                elif operand.type == capstone.x86.X86_OP_MEM:
                    value = operand.mem.disp
                else:
                    continue
                if self.stale(value % (1 << 8 * self.arch.word)):
                    self.error(f"stale pointer {value:#x} into the preferred base at {self.where(address)}: "
                               "an absolute address the relocation table misses")
        # Capstone 4 puts neither bl nor blr in the call group.
        if insn.group(capstone.CS_GRP_CALL) or insn.mnemonic in ("bl", "blr"):
            if self.arch is X64 and sp % 16:
                self.error(f"RSP {sp:#x} not 16-byte aligned at the call at {self.where(address)}")
            self.frames.append(Frame(sp, self.saved(), address + size))
        elif insn.group(capstone.CS_GRP_RET):
            returning_to = uc.reg_read(A.UC_ARM64_REG_LR) if self.arch is ARM64 else self.read_word(sp)
            self.leave(sp, returning_to, f"the return at {self.where(address)}")

    def leave(self, sp, returning_to, what):
        """A function gives control back: to its caller, with the stack and
        the callee-saved registers as it found them."""
        if not self.frames:
            self.error(f"{what} leaves the entry point, which must end in ExitProcess")
            self.uc.emu_stop()
            return
        frame = self.frames.pop()
        expected_sp = frame.sp if self.arch is ARM64 else frame.sp - self.arch.word
        if sp != expected_sp:
            self.error(f"{what}: stack pointer {sp:#x}, expected {expected_sp:#x} (off by {sp - expected_sp:+d})")
        if returning_to != frame.ret:
            self.error(f"{what} goes to {returning_to:#x}, not back to the caller at {frame.ret:#x}")
        if self.saved() != frame.regs:
            names = {value: name.rsplit("_", 1)[1].lower() for name, value in
                     vars(A if self.arch is ARM64 else X).items() if "_REG_" in name}
            changed = [names[reg] for reg, now, then in zip(self.arch.saved, self.saved(), frame.regs)
                       if now != then]
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
        # relocation table if it still points into the preferred range.
        if size == self.arch.word and self.stale(self.read_word(address)):
            self.error(f"stale pointer read from RVA {address - self.base:#x}: the relocation table misses it")

    def teb_access(self, uc, access, address, size, value, _):
        self.error(f"the program uses its TEB at offset {address - self.arch.high - TEB:#x}, which this model lacks")

    def fault(self, uc, access, address, size, value, _):
        pc = uc.reg_read(self.arch.pc)
        kind = {unicorn.UC_MEM_READ_UNMAPPED: "read", unicorn.UC_MEM_WRITE_UNMAPPED: "write",
                unicorn.UC_MEM_FETCH_UNMAPPED: "fetch", unicorn.UC_MEM_WRITE_PROT: "write to protected",
                unicorn.UC_MEM_FETCH_PROT: "fetch from non-executable", unicorn.UC_MEM_READ_PROT: "read protected"}
        stale = " (a stale pointer into the preferred base)" if self.stale(address) else ""
        self.error(f"{kind.get(access, access)} fault at {address:#x}{stale}, pc {pc:#x}")
        return False

    # The platform.
    def arg(self, index, kind):
        if index < len(self.arch.args):
            value = self.uc.reg_read(self.arch.args[index])
        else:
            # x86: all on the stack above the return address; x64: past the
            # return address and the 32 bytes of home space.
            sp = self.uc.reg_read(self.arch.sp)
            offset = self.arch.word * (1 + index) if self.arch is X86 else 8 + 32 + 8 * (index - 4)
            value = self.read_word(sp + offset)
        return value & 0xFFFFFFFF if kind == "d" else value

    def pointer(self, value):
        return "null" if value == 0 else "out"

    def platform(self, uc, address, size, _):
        name = self.stubs.get(address)
        if name is None:
            self.error("the entry point returned to the loader" if address == self.arch.high + LOADER_RETURN
                       else f"jump into the platform at {address:#x}, not to a function")
            uc.emu_stop()
            return
        arch = self.arch
        sp = uc.reg_read(arch.sp)
        returning_to = uc.reg_read(A.UC_ARM64_REG_LR) if arch is ARM64 else self.read_word(sp)
        if arch is X64 and (sp + 8) % 16:
            self.error(f"RSP {sp:#x} on entry to {name}: not 16-byte aligned before the call")
        args = [self.arg(i, kind) for i, kind in enumerate(SIGNATURES[name])]
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
        if self.frames and self.frames[-1].ret == returning_to:
            self.leave(sp, returning_to, f"the call of {name}")
        # Return by the convention, leaving nothing the caller may rely on.
        for reg in arch.scratch[1:]:
            uc.reg_write(reg, POISON % (1 << 8 * arch.word))
        uc.reg_write(arch.scratch[0], result % (1 << 8 * arch.word))
        if arch is ARM64:
            uc.reg_write(arch.pc, returning_to)
        else:
            if arch is X64:
                self.uc.mem_write(sp + 8, b"\xa5" * 32)  # the home space is the callee's
            pops = arch.word * (1 + len(args)) if arch is X86 else 8
            sp += pops
            uc.reg_write(arch.sp, sp)
            uc.reg_write(arch.pc, returning_to)
        self.uc.mem_write(sp - 256, b"\xa5" * 256)

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
        return f"OpenProcessToken({process}, {access:#x}, {self.pointer(token)})", ok

    def LookupPrivilegeValueA(self, system, name, luid):
        ok = self.results.get("LookupPrivilegeValueA", 1)
        if ok:
            self.store(luid, LUID[0].to_bytes(4, "little") + LUID[1].to_bytes(4, "little"))
        system = "null" if system == 0 else repr(self.cstring(system))
        return f'LookupPrivilegeValueA({system}, "{self.cstring(name)}", {self.pointer(luid)})', ok

    def AdjustTokenPrivileges(self, token, disable_all, state, length, previous, returned):
        record = "null"
        if state:
            count, low, high, attributes = (self.read_word(state + 4 * i, 4) for i in range(4))
            record = f"{{{count}, {low:#x}:{high:#x}, {attributes:#x}}}"
        token = "null" if token == 0 else f"{token:#x}"
        return (f"AdjustTokenPrivileges({token}, {disable_all}, {record}, {length}, {self.pointer(previous)}, "
                f"{self.pointer(returned)})", self.results.get("AdjustTokenPrivileges", 1))

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


NT, WIN98 = 0x1DB1_0106, 0xC000_0A04  # version words of Windows 10 and Windows 98
OPEN = "OpenProcessToken(current process, 0x28, out)"
LOOKUP = 'LookupPrivilegeValueA(null, "SeShutdownPrivilege", out)'


def privilege(token="0x7f0", luid="0x13:0x0"):
    return ["GetVersion()", "GetCurrentProcess()", OPEN, LOOKUP,
            f"AdjustTokenPrivileges({token}, 0, {{1, {luid}, 0x2}}, 0, null, null)"]


# (what it shows, command line, version word, platform results, calls after
#  GetCommandLineA, exit status)
CASES = [
    ("NT, shut down by force", b"sessionend.exe 5", NT, {}, privilege() + ["ExitWindowsEx(0x5, 0x0)"], 0),
    ("NT, quoted path", b'"C:\\Program Files\\Tools\\sessionend.exe" 12', NT, {},
     privilege() + ["ExitWindowsEx(0xc, 0x0)"], 0),
    ("NT, name alone: log off", b"sessionend.exe", NT, {}, privilege() + ["ExitWindowsEx(0x0, 0x0)"], 0),
    ("NT, -1: every bit", b"sessionend.exe -1", NT, {}, privilege() + ["ExitWindowsEx(0xffffffff, 0x0)"], 0),
    ("9x: no privilege calls", b"sessionend.exe 2", WIN98, {}, ["GetVersion()", "ExitWindowsEx(0x2, 0x0)"], 0),
    ("9x, refused", b"sessionend.exe 1", WIN98, {"ExitWindowsEx": 0}, ["GetVersion()", "ExitWindowsEx(0x1, 0x0)"], 1),
    ("NT, refused", b"sessionend.exe 1", NT, {"ExitWindowsEx": 0}, privilege() + ["ExitWindowsEx(0x1, 0x0)"], 1),
    ("NT, accepted as 0x100", b"sessionend.exe 1", NT, {"ExitWindowsEx": 0x100},
     privilege() + ["ExitWindowsEx(0x1, 0x0)"], 0),
    ("NT, no token", b"sessionend.exe 9", NT, {"OpenProcessToken": 0},
     privilege(token="null") + ["ExitWindowsEx(0x9, 0x0)"], 0),
    ("NT, no LUID", b"sessionend.exe 9", NT, {"LookupPrivilegeValueA": 0},
     privilege(luid="0x0:0x0") + ["ExitWindowsEx(0x9, 0x0)"], 0),
    ("NT, adjust fails", b"sessionend.exe 9", NT, {"AdjustTokenPrivileges": 0},
     privilege() + ["ExitWindowsEx(0x9, 0x0)"], 0),
]


def main(path):
    arch = ARCHES[pefile.PE(path, fast_load=True).FILE_HEADER.Machine]
    passed = failed = 0
    for label, line, version, results, calls, status in CASES:
        for start in arch.starts:
            try:
                run = Machine(path, line, version, results, start).start()
            except Fault as problem:
                run = Run(errors=[str(problem)])
            expected = ["GetCommandLineA()"] + calls + [f"ExitProcess({status})"]
            if run.calls != expected:
                run.errors.append("calls:\n      " + "\n      ".join(run.calls) +
                                  "\n    expected:\n      " + "\n      ".join(expected))
            if run.errors:
                failed += 1
                print(f"FAIL: {arch.name} {label} (stack {start} mod 16, {run.steps} instructions)")
                for error in run.errors[:6]:
                    print("    " + error)
                if len(run.errors) > 6:
                    print(f"    ... and {len(run.errors) - 6} more")
            else:
                passed += 1
    print(f"{arch.name}: {passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
