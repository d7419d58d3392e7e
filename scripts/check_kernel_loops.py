#!/usr/bin/env python3
"""Reads a compiled library with objdump and checks that the inner loops of
the tile kernels keep their tiles in registers.

For each tile kernel (a function name and the instruction that marks its
tile arithmetic), every innermost loop that holds the marker on vector
registers must hold no store at all: a tile that moves through memory, or
a product spilled for want of registers, shows as stores on every step.
Streaming loops, which must store their results (the rotations, the row
kernel, the tile kernels' scalar edges), are checked for the weaker
property: no vector register is spilled to or reloaded from the stack
inside the loop.  A kernel that is missing, or has no such loop,
fails too (its shape changed and the check would prove nothing).

    check_kernel_loops.py OBJDUMP LIBRARY

Exit status 0 when every check holds, 1 otherwise; one line per loop.
"""

import re
import subprocess
import sys

# (function name pattern, marker mnemonic pattern, tile kernel?)
KERNELS = [
    (r"^i8_sdot$", r"^sdot$", True),
    (r"core_generic<true>", r"^fmul$|^fmla$|^fsub$", True),
    (r"core_generic<false>", r"^fmul$|^fmla$|^fadd$", True),
    (r"rotate_base", r"^fmul$", False),
    (r"row_sub$", r"^fmul$", False),
    (r"i8_plain_at$|run_tile$", r"^(mul|mla|smlal2?|smull2?|sdot|add)$", False),
]

BRANCH = re.compile(r"^(b(\.\w+)?|cbn?z|tbn?z)$")
STORE = re.compile(r"^st(r|p|ur|1|2|3|4|np)\w*$")
LINE = re.compile(r"^\s*([0-9a-f]+):\s+(\S+)\s*(.*)$")
FUNC = re.compile(r"^[0-9a-f]+ <(.*)>:$")


def functions(objdump, library):
    out = subprocess.run([objdump, "-d", "--no-show-raw-insn", "-C", library],
                         check=True, capture_output=True, text=True).stdout
    funcs, name = {}, None
    for line in out.splitlines():
        m = FUNC.match(line)
        if m:
            name = m.group(1)
            funcs[name] = []
            continue
        m = LINE.match(line)
        if m and name is not None:
            funcs[name].append((int(m.group(1), 16), m.group(2), m.group(3)))
    return funcs


def short_name(name):
    """The demangled name without its argument list and return type."""
    depth, cut = 0, len(name)
    for i in range(len(name) - 1, -1, -1):  # the last top-level parenthesis
        if name[i] == ")":
            depth += 1
        elif name[i] == "(":
            depth -= 1
            if depth == 0:
                cut = i
                break
    head = name[:cut]
    return head.split(" ")[-1] if " " in head and "<" not in head.split(" ")[-1][:1] else head


def innermost_loops(body):
    """(start, end) address pairs of backward branches with no other loop inside."""
    loops = []
    for addr, op, args in body:
        if BRANCH.match(op):
            m = re.search(r"\b([0-9a-f]+) <", args)
            if m and int(m.group(1), 16) < addr:
                loops.append((int(m.group(1), 16), addr))
    return [l for l in loops
            if not any(o != l and l[0] <= o[0] and o[1] <= l[1] for o in loops)]


def main():
    objdump, library = sys.argv[1], sys.argv[2]
    funcs = functions(objdump, library)
    failed = 0
    for pattern, marker, tile in KERNELS:
        names = [n for n in funcs if re.search(pattern, short_name(n))]
        if not names:
            print(f"FAIL {pattern}: no such function in {library}")
            failed += 1
            continue
        for name in names:
            body = funcs[name]
            checked = 0
            for start, end in innermost_loops(body):
                loop = [(a, op, args) for a, op, args in body if start <= a <= end]
                marks = sum(1 for _, op, _ in loop if re.match(marker, op))
                vector = sum(1 for _, op, args in loop if re.match(marker, op) and
                             args.startswith("v"))
                if marks == 0:
                    continue
                checked += 1
                if tile and vector > 0:
                    bad = [f"{op} {args}" for _, op, args in loop if STORE.match(op)]
                    what = "stores"
                else:
                    bad = [f"{op} {args}" for _, op, args in loop
                           if (STORE.match(op) or op.startswith("ld")) and
                           re.match(r"^[qv]\d", args) and "[sp" in args]
                    what = "vector spills to the stack"
                short = short_name(name)
                if bad:
                    failed += 1
                    print(f"FAIL {short}: loop {start:x}-{end:x} ({marks} x {marker}) has "
                          f"{what}: {'; '.join(bad[:4])}")
                else:
                    print(f"ok   {short}: loop {start:x}-{end:x}, {marks} tile instructions, "
                          f"{len(loop)} in all, no {what}")
            if checked == 0:
                failed += 1
                print(f"FAIL {short_name(name)}: no innermost loop with {marker}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
