# The machine set-up's library: source it. What a set-up step needs more
# than once: asking whether a package is installed, installing without ever
# removing a package, and making and entering a Debian root, where programs
# of another architecture run through qemu.

# Where the set-up keeps what saves time on the next run, and where the build
# looks for it: the Wine roots ($state/ARCH/root) and Debian 13's static qemu
# 10, unpacked from its package, never installed (a qemu package's set-up
# registers its handlers with the host's kernel).
state=${SESSIONEND_STATE:-/var/lib/sessionend}
qemu=$state/qemu

# wine_root ARCH: ARCH's Wine root, beside its lock, log and mark complete.
wine_root() { echo "$state/$1/root"; }

# installed PACKAGE: true when dpkg has it fully installed.
installed() {
    [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]
}

# install LOG PACKAGE...: installs what is missing, quietly, and never removes
# a package to make room for another. On failure apt's whole output stays in
# LOG, and the status is apt's; a failed index matters only if a package
# cannot be had.
install() {
    local log=$1 package missing=()
    shift
    for package in "$@"; do
        installed "$package" || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing packages. Install them with:" >&2
        echo "  sudo apt-get update && sudo apt-get install -y --no-remove ${missing[*]}" >&2
        return 1
    fi
    echo "Installing: ${missing[*]}" >&2
    apt-get update >"$log" 2>&1 || echo "apt-get update reported errors; going on with the lists that arrived." >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-remove "${missing[@]}" >"$log" 2>&1
}

# unavailable WHAT REASON [LOG]: says in one line why WHAT (x86 or arm64, the
# images whose Wine it is) cannot be had on this run, with LOG's first error;
# its tests will skip.
unavailable() {
    local error=
    if [ -n "${3:-}" ]; then
        error=$(grep -m 1 -E '^(E: |W: Failed)' "$3" | cut -c 4-) || error=$(tail -n 1 "$3")
        error=": $error (all of it in $3)"
    fi
    echo "No $1 Wine: $2$error; its Wine tests will skip." >&2
}

# The first Debian mirror in apt's sources that is not the security archive,
# from deb822 .sources files or a classic sources.list.
debian_mirror() {
    local sources mirror
    sources=$(find /etc/apt/sources.list.d -name '*.sources' -exec cat {} + 2>/dev/null || true)
    mirror=$(awk '$1 == "URIs:" && !/security/ {print $2; exit}' <<<"$sources")
    if [ -z "$mirror" ] && [ -f /etc/apt/sources.list ]; then
        mirror=$(awk '$1 == "deb" && !/security/ {for (i = 2; i <= NF; i++) if ($i ~ /:\/\//) {print $i; exit}}' \
            /etc/apt/sources.list | head -n 1)
    fi
    echo "$mirror"
}

# enter ROOT COMMAND...: runs COMMAND in ROOT with bubblewrap, with the host's
# /dev, /proc and /sys, in a plain environment, in user and mount namespaces
# of its own that end with it: nothing is ever mounted on the host, no
# package's set-up can register a binfmt handler with the host's kernel, and
# a root is deleted like any folder. A /proc of its own would be bubblewrap's,
# partly covered, where no root inside may mount one. With foreign=arm64 or
# i386, that architecture's programs run through qemu.
enter() {
    local root=$1
    shift
    (in_userns bwrap --dev-bind "$root" / --dev-bind /dev /dev --bind /proc /proc --bind /sys /sys \
        --die-with-parent /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@")
}

# bootstrap ROOT SUITE MIRROR [OPTION...]: a minimal Debian root of SUITE, its
# second stage run inside it.
bootstrap() {
    local root=$1 suite=$2 mirror=$3
    shift 3
    # The first stage makes /proc, or links it to the host's; bubblewrap binds one.
    # As in a container, neither stage insists on making devices, which a
    # user namespace may not: the second has the host's /dev.
    container=lxc debootstrap --foreign --variant=minbase "$@" "$suite" "$root" "$mirror" && rm -rf "$root/proc" &&
        mkdir "$root/proc" && enter "$root" env container=lxc /debootstrap/debootstrap --second-stage
}

# runs_i386: true where this kernel runs i386 code, as a static i386 program
# that exits with status 42 shows. Asked on every run: the same disk may be
# booted under another kernel.
runs_i386() (
    probe=$(mktemp)
    trap 'rm -f "$probe"' EXIT
    printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\10\64\0\0\0\0\0\0\0\0\0\0\0\64\0\40\0\1\0\0\0\0\0\0\0\1\0\0\0\0\0\0\0\0\200\4\10\0\200\4\10\140\0\0\0\140\0\0\0\5\0\0\0\0\20\0\0\270\1\0\0\0\273\52\0\0\0\315\200' >"$probe"
    chmod +x "$probe" && "$probe" 2>/dev/null
    [ $? -eq 42 ]
)

# get_qemu LOG: unpacks Debian 13's qemu-aarch64 and qemu-i386 into $qemu
# where they are missing. apt fetches their package, with lists and a cache
# of their own, and checks the archive's signature and the package's hash.
get_qemu() {
    "$qemu/qemu-i386" --version 2>/dev/null | grep -q ' 10\.' && return 0
    local apt=$qemu/apt
    rm -rf "$qemu" && mkdir -p "$apt/lists/partial" "$apt/archives/partial" || return 1
    echo "deb $(debian_mirror) trixie main" >"$apt/sources.list"
    local opts=(-o Dir::Etc::SourceList="$apt/sources.list" -o Dir::Etc::SourceParts=- -o Dir::State::Lists="$apt/lists"
        -o Dir::Cache="$apt" -o APT::Architectures=amd64)
    { apt-get "${opts[@]}" update && (cd "$apt" && apt-get "${opts[@]}" download qemu-user) &&
        dpkg-deb --fsys-tarfile "$apt"/qemu-user_*.deb |
        tar -x -C "$qemu" --strip-components=3 ./usr/bin/qemu-aarch64 ./usr/bin/qemu-i386; } >"$1" 2>&1
    rm -rf "$apt"
    "$qemu/qemu-i386" --version >/dev/null 2>&1
}

# handler ARCH: the binfmt_misc entry that runs ARCH's (arm64, i386) ELF
# programs with that qemu, opened once, when it is registered (flag F).
handler() {
    case $1 in
        arm64) echo ":sessionend-arm64:M::\x7fELF\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\xb7\x00:\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:$qemu/qemu-aarch64:F" ;;
        i386) echo ":sessionend-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:$qemu/qemu-i386:F" ;;
    esac
}

# in_userns COMMAND...: execs COMMAND in user and mount namespaces of its own,
# every id mapped to itself (before any exec: under no_new_privs an unmapped
# one loses root's capabilities for good). A binfmt_misc handler registered
# there, as qemu's for foreign's programs, is theirs alone (Linux 6.7 on; an
# older kernel allows none, and the host's serves). Call it in a subshell.
in_userns() {
    exec /usr/bin/python3 -c '
import ctypes, os, sys
libc = ctypes.CDLL(None, use_errno=True)
ready, go = os.pipe()
if os.fork() == 0:  # only a process outside may map more than one id in
    os.read(ready, 1)
    for ids in ("uid_map", "gid_map"):
        open(f"/proc/{os.getppid()}/{ids}", "w").write("0 0 4294967295")
    os._exit(0)
if libc.unshare(0x10020000) or not os.write(go, b".") or os.wait()[1]:  # CLONE_NEWUSER | CLONE_NEWNS
    sys.exit(f"in_userns: no user namespace here ({os.strerror(ctypes.get_errno())})")
libc.mount(None, b"/", None, 0x44000, None)  # MS_REC | MS_PRIVATE
if sys.argv[1] and libc.mount(b"binfmt_misc", b"/proc/sys/fs/binfmt_misc", b"binfmt_misc", 0, None) == 0:
    open("/proc/sys/fs/binfmt_misc/register", "w").write(sys.argv[1])
os.execvp(sys.argv[2], sys.argv[2:])' "$(handler "${foreign:-}")" "$@"
}
