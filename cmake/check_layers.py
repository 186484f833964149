#!/usr/bin/python3
"""The driver's layers, judged on what the compiler reads.

    lib <- core <- hw <- engine <- {uga, platform} <- binding

Every translation unit of the driver is compiled (-fsyntax-only -H) with its
own command from the build's compile_commands.json, and so is every header
that no unit reaches. Each include the compiler opened must point to the
includer's own layer or one below (uga and platform never include each
other); a project header outside driver/ and efi/ is refused, and so is any
system header but <stdint.h>, <stddef.h> and <stdarg.h>. Then the syntax
tree of each unit (libclang, Debian's python3-clang) is walked: the register
argument of every register primitive must be built from names, never from a
number, whatever its spelling (0X6080, 0x6080 + 4, a call split over lines,
a local variable or a macro holding one). Names come from hw/regmap.

    check_layers.py --compile-commands build/host/compile_commands.json
                    --root SOURCE_DIR [--driver DIR] [--expect FILE]

--driver checks another tree laid out like driver/ (the fixture); its files
are compiled with the command of the first driver unit, its root searched
first. --expect compares the refusals with a file of expected lines.
"""
import argparse
import json
import os
import re
import shlex
import subprocess
import sys
import tempfile

RANK = {"lib": 0, "core": 1, "hw": 2, "engine": 3, "uga": 4, "platform": 4, "binding": 5}
SIBLINGS = {("uga", "platform"), ("platform", "uga")}
SYSTEM_HEADERS = {"stdint.h", "stddef.h", "stdarg.h"}
PRIMITIVES = {
    "RegRead8", "RegRead32", "RegTryRead32", "RegWrite8", "RegWrite32", "McRead", "McWrite",
    "McWriteAndTrace", "PllRead", "PllWrite", "IndexedWrite", "AuxRegRead", "AuxRegWrite",
}
REGISTER_PARAMETERS = {"Offset", "Index", "Register", "Reg"}
REGMAP = "driver/hw/regmap/"


class Checker:
    def __init__(self, roots, driver_root):
        self.roots = roots  # include roots, searched in this order
        self.driver_root = driver_root  # the tree under judgement
        self.problems = []

    def where(self, path):
        """(kind, layer, relative path): kind is driver, efi, outside or system."""
        path = os.path.realpath(path)
        for root in self.roots:
            rel = os.path.relpath(path, root)
            if rel.startswith(".."):
                continue
            parts = rel.split(os.sep)
            if parts[0] == "driver" and len(parts) > 2:
                return "driver", parts[1], rel
            if parts[0] == "efi":
                return "efi", None, rel
            return "outside", None, rel
        return "system", None, path

    def shown(self, path):
        kind, _, rel = self.where(path)
        return rel if kind != "system" else os.path.basename(path)

    def problem(self, text):
        if text not in self.problems:
            self.problems.append(text)

    def allowed(self, includer_layer, target):
        kind, layer, _ = self.where(target)
        if kind == "efi":
            return True
        if kind != "driver":
            return False
        if layer not in RANK:
            return False
        if layer == includer_layer:
            return True
        return RANK[layer] < RANK[includer_layer] and (includer_layer, layer) not in SIBLINGS

    # ---- includes, as the compiler opens them
    def check_includes(self, source, command, directory):
        args = compile_args(command, source) + ["-fsyntax-only", "-H"]
        unit = source
        if source.endswith(".h"):
            # A header alone, as the one line of a unit of its own.
            stub = tempfile.NamedTemporaryFile("w", suffix=".cpp", delete=False)
            stub.write(f'#include "{source}"\n')
            stub.close()
            unit = stub.name
        try:
            run = subprocess.run(args + [unit], cwd=directory, capture_output=True, text=True)
        finally:
            if unit != source:
                os.unlink(unit)
        if run.returncode != 0:
            self.problem(f"{self.shown(source)}: does not compile: {first_error(run.stderr)}")
        stack = [os.path.realpath(source)]
        seen = []
        for line in run.stderr.splitlines():
            m = re.match(r"^(\.+) (.*)$", line)
            if not m:
                continue
            depth, path = len(m.group(1)), os.path.realpath(os.path.join(directory, m.group(2)))
            del stack[depth:]
            includer = stack[-1]
            stack.append(path)
            if includer == path:
                continue  # the header under judgement, from its stub
            if self.where(includer)[0] == "system":
                continue  # what a system header pulls in is its own business
            seen.append(path)
            self.check_edge(includer, path)
        # A unit sees only what its own layer may: caught even where a guard
        # kept the compiler from opening a header a second time.
        kind, layer, _ = self.where(source)
        if kind == "driver":
            for path in seen:
                if self.where(path)[0] in ("driver", "efi") and not self.allowed(layer, path):
                    self.problem(f"{self.shown(source)}: reaches {self.shown(path)}")
        return seen

    def check_edge(self, includer, target):
        ikind, ilayer, _ = self.where(includer)
        tkind, tlayer, _ = self.where(target)
        if tkind == "system":
            if os.path.basename(target) not in SYSTEM_HEADERS:
                self.problem(f"{self.shown(includer)}: includes the system header {os.path.basename(target)}")
            return
        if tkind == "outside":
            self.problem(f"{self.shown(includer)}: includes {self.shown(target)}, outside driver/ and efi/")
            return
        if ikind == "driver" and not self.allowed(ilayer, target):
            self.problem(f"{self.shown(includer)}: {ilayer} includes {tlayer} ({self.shown(target)})")
        if ikind == "efi" and tkind == "driver":
            self.problem(f"{self.shown(includer)}: efi includes {self.shown(target)}")

    # ---- register arguments, through the syntax tree
    def check_registers(self, source, command, directory):
        from clang import cindex

        index = cindex.Index.create()
        args = [a for a in compile_args(command, source)[1:]]
        args = absolute_includes(args, directory) + ["-Wno-unknown-warning-option", "-Wno-unused-command-line-argument"]
        tu = index.parse(source, args=args)
        errors = [d for d in tu.diagnostics if d.severity >= cindex.Diagnostic.Error]
        if errors:
            self.problem(f"{self.shown(source)}: libclang cannot parse it: {errors[0].spelling}")
            return
        # Loop counters start from a number without being a register.
        self.counters = set()
        for node in tu.cursor.walk_preorder():
            if node.kind == cindex.CursorKind.FOR_STMT:
                for first in list(node.get_children())[:1]:
                    if first.kind == cindex.CursorKind.DECL_STMT:
                        self.counters.update(v.hash for v in first.get_children())
        self.walk(tu.cursor, cindex)

    def walk(self, cursor, cindex):
        for node in cursor.walk_preorder():
            if node.kind != cindex.CursorKind.CALL_EXPR:
                continue
            callee = node.referenced
            if callee is None or not node.location.file:
                continue
            kind, _, rel = self.where(node.location.file.name)
            if kind != "driver" or rel.startswith(REGMAP):
                continue
            positions = register_positions(callee, cindex)
            if not positions:
                continue
            arguments = list(node.get_arguments())
            for position in positions:
                if position >= len(arguments):
                    continue
                number = self.number_in(arguments[position], cindex, set())
                if number is not None:
                    self.problem(f"{rel}:{node.location.line}: {callee.spelling} with the register {number}")

    def number_in(self, node, cindex, visited):
        """The first number a register expression is built from, or None.
        Arguments of a nested call count only where they name a register
        (CrtcReg's offset, not its CRTC); a variable counts by its
        initialiser, except a loop's counter."""
        k = cindex.CursorKind
        if node.kind in (k.INTEGER_LITERAL, k.CHARACTER_LITERAL):
            spelled = spelling_file(node.location)
            if spelled and self.where(spelled)[2].startswith(REGMAP):
                return None  # a regmap macro: a name
            tokens = [t.spelling for t in node.get_tokens()]
            return tokens[0] if tokens else "a number"
        if node.kind == k.CALL_EXPR:
            callee = node.referenced
            parameters = list(callee.get_arguments()) if callee is not None else []
            for i, argument in enumerate(node.get_arguments()):
                if i < len(parameters) and parameters[i].spelling not in REGISTER_PARAMETERS:
                    continue
                found = self.number_in(argument, cindex, visited)
                if found is not None:
                    return found
            return None
        if node.kind == k.DECL_REF_EXPR:
            decl = node.referenced
            if decl is None or decl.kind != k.VAR_DECL or decl.hash in visited or decl.hash in self.counters:
                return None
            visited.add(decl.hash)
            file = decl.location.file.name if decl.location.file else ""
            if not file or self.where(file)[2].startswith(REGMAP):
                return None
            local = decl.semantic_parent is not None and decl.semantic_parent.kind in FUNCTIONS(cindex)
            scalar = decl.type.get_canonical().kind in SCALARS(cindex)
            if not (local or scalar):
                return None  # a table laid out as the hardware's
            for child in decl.get_children():
                found = self.number_in(child, cindex, visited)
                if found is not None:
                    return f"{found} (through {decl.spelling})"
            return None
        for child in node.get_children():
            found = self.number_in(child, cindex, visited)
            if found is not None:
                return found
        return None


def FUNCTIONS(cindex):
    k = cindex.CursorKind
    return (k.FUNCTION_DECL, k.CXX_METHOD, k.CONSTRUCTOR, k.FUNCTION_TEMPLATE, k.LAMBDA_EXPR)


def SCALARS(cindex):
    t = cindex.TypeKind
    return (t.UCHAR, t.USHORT, t.UINT, t.ULONG, t.ULONGLONG, t.CHAR_S, t.SCHAR, t.SHORT, t.INT, t.LONG,
            t.LONGLONG, t.CHAR_U)


def register_positions(callee, cindex):
    """Argument positions that name a register, for a register primitive."""
    name = callee.spelling
    if callee.kind not in (cindex.CursorKind.FUNCTION_DECL,):
        return []
    declared = callee.location.file.name if callee.location.file else ""
    if name not in PRIMITIVES and not declared.endswith(os.path.join("driver", "hw", "regs.h")):
        return []
    return [i for i, p in enumerate(callee.get_arguments()) if p.spelling in REGISTER_PARAMETERS]


def spelling_file(location):
    """Where a token was written: inside a macro's definition for a macro."""
    import ctypes
    from clang import cindex

    lib = cindex.conf.lib
    if not hasattr(spelling_file, "ready"):
        lib.clang_getSpellingLocation.argtypes = [cindex.SourceLocation, ctypes.POINTER(cindex.c_object_p),
                                                  ctypes.POINTER(ctypes.c_uint), ctypes.POINTER(ctypes.c_uint),
                                                  ctypes.POINTER(ctypes.c_uint)]
        spelling_file.ready = True
    f, line, column, offset = cindex.c_object_p(), ctypes.c_uint(), ctypes.c_uint(), ctypes.c_uint()
    lib.clang_getSpellingLocation(location, ctypes.byref(f), ctypes.byref(line), ctypes.byref(column),
                                  ctypes.byref(offset))
    return cindex.File(f).name if f else None


def compile_args(command, source):
    """The compiler and its options, without output, dependency files or sources."""
    words = shlex.split(command) if isinstance(command, str) else list(command)
    out, skip = [], False
    for word in words:
        if skip:
            skip = False
            continue
        if word in ("-o", "-MF", "-MT", "-MQ"):
            skip = True
            continue
        if word in ("-c", "-MD", "-MMD") or word.endswith((".cpp", ".cc")):
            continue
        out.append(word)
    return out


def absolute_includes(args, directory):
    return ["-I" + os.path.join(directory, a[2:]) if a.startswith("-I") and not os.path.isabs(a[2:]) else a
            for a in args]


def first_error(text):
    for line in text.splitlines():
        if "error" in line:
            return line.strip()
    return text.strip().splitlines()[0] if text.strip() else "no output"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--compile-commands", required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("--driver")
    parser.add_argument("--expect")
    options = parser.parse_args()

    root = os.path.realpath(options.root)
    driver = os.path.realpath(options.driver or os.path.join(root, "driver"))
    tree = os.path.dirname(driver)
    with open(options.compile_commands) as f:
        database = json.load(f)
    commands = {}
    template = None
    for entry in database:
        path = os.path.realpath(os.path.join(entry["directory"], entry["file"]))
        command = entry.get("command") or entry.get("arguments")
        commands[path] = (command, entry["directory"])
        if template is None and path.startswith(os.path.join(root, "driver") + os.sep):
            template = (command, entry["directory"])
    if template is None:
        sys.exit("layer check: no driver unit in " + options.compile_commands)

    def command_for(path):
        if path in commands:
            return commands[path]
        command, directory = template
        words = shlex.split(command) if isinstance(command, str) else list(command)
        return [words[0], "-I" + tree] + words[1:], directory

    checker = Checker([tree, root] if tree != root else [root], driver)
    sources, headers = [], []
    for base, _, names in os.walk(driver):
        for name in sorted(names):
            path = os.path.realpath(os.path.join(base, name))
            if name.endswith(".cpp"):
                sources.append(path)
            elif name.endswith(".h"):
                headers.append(path)
            kind, layer, rel = checker.where(path)
            if name.endswith((".cpp", ".h")) and (kind != "driver" or layer not in RANK):
                checker.problem(f"{checker.shown(path)}: not in a known layer")
    sources.sort()
    reached = set()
    for source in sources:
        command, directory = command_for(source)
        reached.update(checker.check_includes(source, command, directory))
        checker.check_registers(source, command, directory)
    for header in sorted(headers):
        if header not in reached:
            command, directory = command_for(header)
            checker.check_includes(header, command, directory)

    if options.expect:
        with open(options.expect) as f:
            expected = [line.rstrip("\n") for line in f if line.strip() and not line.startswith("#")]
        missing = [e for e in expected if e not in checker.problems]
        extra = [p for p in checker.problems if p not in expected]
        for text in missing:
            print("not refused: " + text)
        for text in extra:
            print("refused unexpectedly: " + text)
        if missing or extra:
            return 1
        print(f"layer check: the fixture's {len(expected)} refusals, each as expected")
        return 0
    if checker.problems:
        print("layer check:\n  " + "\n  ".join(checker.problems))
        return 1
    print(f"layer check: {len(sources)} units and {len(headers)} headers, every include points down, "
          "no register by number")
    return 0


if __name__ == "__main__":
    sys.exit(main())
