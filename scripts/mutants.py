#!/usr/bin/env python3
"""Mutation testing: how many small faults in the program does the test suite catch?

    scripts/mutants.py [--count 80] [--seed 1] [--build-dir build/mutants] [--list] [--match TEXT]

Picks COUNT mutants, the same ones for the same seed and source, from the .cpp
files under app/ cli/ conversion/ utilities/ platform/. Each one is a single
small change: a comparison flipped, an if condition negated, a returned bool
swapped, a +1/-1 or a compared integer off by one, or a lone call statement
left out. Lines in comments, string literals and preprocessor lines are skipped.

For each mutant the file is changed, the build folder (configured once,
RelWithDebInfo, app included) rebuilt and ctest run without the packaging
tests; the file is restored afterwards, also on Ctrl-C or a kill. A mutant is killed
when a test fails or hangs past --timeout, survives when every test passes,
and does not count when it does not compile. --list only prints the mutants;
--match TEXT keeps those of them whose line ("file:line  change") holds TEXT.
Run it under `nice`: a run of 80 mutants takes about half an hour on 2 cores.
"""

import argparse
import os
import random
import re
import shutil
import signal
import subprocess
import sys
from dataclasses import dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
SOURCE_DIRS = ["app", "cli", "conversion", "utilities", "platform"]


@dataclass
class Mutant:
    path: Path
    line: int  # 1-based
    start: int  # column range in the line that is replaced
    end: int
    replacement: str
    change: str

    def apply(self, text: str) -> str:
        lines = text.split("\n")
        old = lines[self.line - 1]
        lines[self.line - 1] = old[: self.start] + self.replacement + old[self.end :]
        return "\n".join(lines)


def code_view(lines):
    """Each line with comments and string/char literals blanked out, column for column."""
    out = []
    in_block = False
    for line in lines:
        chars = list(line)
        i = 0
        quote = None
        while i < len(chars):
            c = chars[i]
            nxt = chars[i + 1] if i + 1 < len(chars) else ""
            if in_block:
                if c == "*" and nxt == "/":
                    chars[i] = chars[i + 1] = " "
                    in_block = False
                    i += 2
                    continue
                chars[i] = " "
            elif quote:
                if c == "\\":
                    chars[i] = " "
                    if i + 1 < len(chars):
                        chars[i + 1] = " "
                    i += 2
                    continue
                if c == quote:
                    quote = None
                else:
                    chars[i] = " "
            elif c == "/" and nxt == "/":
                for j in range(i, len(chars)):
                    chars[j] = " "
                break
            elif c == "/" and nxt == "*":
                chars[i] = chars[i + 1] = " "
                in_block = True
                i += 2
                continue
            elif c == 'R' and nxt == '"':
                # Raw strings are rare here; blank the rest of the line to be safe.
                for j in range(i, len(chars)):
                    chars[j] = " "
                break
            elif c in "\"'" and not (c == "'" and i > 0 and chars[i - 1].isalnum()):
                quote = c  # a digit separator (1'000) is not a character literal
            i += 1
        out.append("".join(chars))
    return out


COMPARISON = re.compile(r"(?<= )(<=|>=|==|!=|<|>)(?= )")
FLIP = {"<": ">=", ">=": "<", "==": "!=", "!=": "==", "<=": ">", ">": "<="}
COMPARED_LITERAL = re.compile(r"(?<= )(?:<=|>=|==|!=|<|>) (\d+)\b(?![.'xXuUlL])")
PLUS_MINUS_ONE = re.compile(r"(?<= )([+-]) 1\b(?![.\d])")
RETURN_BOOL = re.compile(r"\breturn (true|false);")
IF = re.compile(r"\bif \(")
CALL = re.compile(r"^\s*(?!(?:return|throw|delete|case|else|do|goto|co_return|co_yield|co_await)\b)"
                  r"[A-Za-z_]\w*(?:(?:::|\.|->)[A-Za-z_~]\w*)*(?:<[\w:, *&]*>)?\(.*\);\s*$")
STATEMENT_END = (";", "{", "}", ")", ":", "else")


def balanced(text: str) -> bool:
    depth = 0
    for c in text:
        depth += c == "("
        depth -= c == ")"
        if depth < 0:
            return False
    return depth == 0


def closing_paren(code: str, open_index: int):
    depth = 0
    for i in range(open_index, len(code)):
        if code[i] == "(":
            depth += 1
        elif code[i] == ")":
            depth -= 1
            if depth == 0:
                return i
    return None


def mutants_in(path: Path):
    lines = path.read_text(encoding="utf-8").split("\n")
    code = code_view(lines)
    previous = ""
    for number, (raw, line) in enumerate(zip(lines, code), start=1):
        stripped = line.strip()
        if not stripped:
            continue
        if stripped.startswith("#"):
            previous = stripped
            continue
        for m in COMPARISON.finditer(line):
            op = m.group(1)
            yield Mutant(path, number, m.start(), m.end(), FLIP[op], f"{op} → {FLIP[op]}")
        for m in COMPARED_LITERAL.finditer(line):
            n = int(m.group(1))
            yield Mutant(path, number, m.start(1), m.end(1), str(n + 1), f"{n} → {n + 1}")
        for m in PLUS_MINUS_ONE.finditer(line):
            other = "-" if m.group(1) == "+" else "+"
            yield Mutant(path, number, m.start(1), m.end(1), other, f"{m.group(1)} 1 → {other} 1")
        for m in RETURN_BOOL.finditer(line):
            other = "false" if m.group(1) == "true" else "true"
            yield Mutant(path, number, m.start(1), m.end(1), other, f"return {m.group(1)} → return {other}")
        for m in IF.finditer(line):
            open_index = m.end() - 1
            close = closing_paren(line, open_index)
            if close is None:
                continue
            inner = raw[open_index + 1 : close]
            yield Mutant(path, number, open_index + 1, close, f"!({inner})", "if (x) → if (!(x))")
        if CALL.match(line) and balanced(line) and previous.endswith(STATEMENT_END):
            indent = raw[: len(raw) - len(raw.lstrip())]
            name = stripped.split("(", 1)[0]
            yield Mutant(path, number, 0, len(raw), indent + ";", f"call {name}(…) left out")
        previous = stripped


def all_mutants():
    found = []
    for folder in SOURCE_DIRS:
        for path in sorted((ROOT / folder).rglob("*.cpp")):
            found.extend(mutants_in(path))
    return found


def run(command, timeout, log):
    """Runs command in its own process group; returns its exit code, or None on timeout."""
    with open(log, "w") as out:
        process = subprocess.Popen(command, cwd=ROOT, stdout=out, stderr=subprocess.STDOUT,
                                   start_new_session=True)
        try:
            return process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None
        finally:
            if process.poll() is None:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()


def test_folders_now(build):
    """What lies at the top of each folder the tests run in."""
    folders = [build / "tests"] + [p for p in (build / "tests").glob("*") if p.is_dir()]
    return {folder: set(os.listdir(folder)) for folder in folders if folder.is_dir()}


def remove_leftovers(build, clean):
    """Removes what a mutant's run left where the tests run (a command run
    without an output folder writes into its working folder), so that it
    can't fail the next mutant's tests."""
    for folder, names in test_folders_now(build).items():
        for name in names - clean.get(folder, set()):
            path = folder / name
            subprocess.run(["chmod", "-R", "u+rwx", str(path)], stderr=subprocess.DEVNULL)
            if path.is_dir() and not path.is_symlink():
                shutil.rmtree(path, ignore_errors=True)
            else:
                path.unlink(missing_ok=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--count", type=int, default=80)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--build-dir", default="build/mutants")
    parser.add_argument("--timeout", type=int, default=300, help="seconds for one mutant's tests")
    parser.add_argument("--list", action="store_true", help="print the mutants, run nothing")
    parser.add_argument("--match", default="", help="of the chosen mutants, only those whose line holds this text")
    args = parser.parse_args()

    # A kill (SIGTERM) unwinds like Ctrl-C, so the mutated file is put back either way.
    def interrupted(signum, frame):
        raise KeyboardInterrupt

    signal.signal(signal.SIGTERM, interrupted)
    candidates = all_mutants()
    chosen = random.Random(args.seed).sample(candidates, min(args.count, len(candidates)))
    chosen.sort(key=lambda m: (str(m.path), m.line, m.start))

    def label(m):
        return f"{m.path.relative_to(ROOT)}:{m.line}  {m.change}"

    chosen = [m for m in chosen if args.match in label(m)]

    if args.list:
        for m in chosen:
            print(label(m))
        print(f"{len(chosen)} of {len(candidates)} possible mutants")
        return 0

    build = ROOT / args.build_dir
    logs = build / "mutant-logs"
    if not (build / "CMakeCache.txt").exists():
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), "-G", "Ninja",
                        "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DNI_BUILD_BENCH=OFF"],
                       check=True, stdout=subprocess.DEVNULL)
    logs.mkdir(parents=True, exist_ok=True)
    build_command = ["cmake", "--build", str(build), "-j2"]
    test_command = ["ctest", "--test-dir", str(build), "-j2", "--stop-on-failure", "-E", "packaging"]
    # The unmutated program must build and pass, or every mutant would look killed.
    if run(build_command, None, logs / "clean-build.log") != 0 or \
            run(test_command, args.timeout, logs / "clean-test.log") != 0:
        print(f"the unmutated program does not build or pass its tests; see {logs}", file=sys.stderr)
        return 1

    clean = test_folders_now(build)
    built = killed = 0
    for index, m in enumerate(chosen, start=1):
        original = m.path.read_bytes()
        try:
            m.path.write_text(m.apply(original.decode("utf-8")), encoding="utf-8")
            if run(build_command, 1800, logs / f"{index}-build.log") != 0:
                verdict = "no-build"
            else:
                built += 1
                status = run(test_command, args.timeout, logs / f"{index}-test.log")
                verdict = "SURVIVED" if status == 0 else "killed"
                killed += status != 0
        finally:
            m.path.write_bytes(original)
            remove_leftovers(build, clean)
        print(f"{label(m)}  → {verdict}", flush=True)

    survived = built - killed
    score = 100.0 * killed / built if built else 0.0
    print(f"mutants: {len(chosen)}, built: {built}, killed: {killed}, survived: {survived}, score: {score:.1f}%")
    return 0


if __name__ == "__main__":
    sys.exit(main())
