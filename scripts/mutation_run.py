#!/usr/bin/env python3
"""Plants faults in the portable and Linux code one at a time and tells which the Linux suites
catch: a comparison turned, && and || swapped, a condition inverted, a boolean result flipped,
a call left out.

  scripts/mutation_run.py sample [--seed 7] [--count 120] [--out FILE]
      draws a fixed-seed sample of mutants from the .cpp files of src/ and tools/ (not the
      Windows ones) and writes it as JSON (default build/mutation/mutants.json).
  scripts/mutation_run.py run [--mutants FILE] [--build DIR] [--results FILE] [--only N,..]
                             [--first EARLIER_RESULTS]
      applies each mutant in turn, builds the Linux configuration in DIR (default
      build/mutation) and runs its suites (the package suites left out) until one fails. Only
      the suites whose command names a program the mutant's build linked again are run (a
      suite that names none always runs); --all-suites runs every one.
      A mutant is killed when a suite fails or times out, survives when all pass, and is
      stillborn when it does not compile. Results go to FILE (default build/mutation/results.json)
      as they come, so an interrupted run resumes where it stopped.
  scripts/mutation_run.py report [--results FILE]
      prints the kill rate and every survivor.

The sample names each mutant by file, line and the line's text before and after, so the same
sample can be run again after the tests change (a line that moved is found by its text, and by its
place among the lines of the same text).
"""
import argparse
import json
import os
import random
import re
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_DIR = os.path.join(ROOT, "build", "mutation")
# Windows-only sources are not built on Linux, so no Linux suite could tell their mutants.
SKIP_PATH = re.compile(r"(^|/)win32(/|_)|/win32/")
RECORDING_FAILED = re.compile(r"FAILED: \S*umockdev-flash/")
COMPILE_ERROR = re.compile(r"error:|undefined reference")
COMPARISONS = {"==": "!=", "!=": "==", "<": "<=", "<=": "<", ">": ">=", ">=": ">"}
STATEMENT_CALL = re.compile(r"^[A-Za-z_][\w:]*((\.|->)[A-Za-z_]\w*)*\(.*\);$")
NOT_CALLS = ("return", "if", "while", "for", "switch", "delete", "case", "throw", "sizeof",
             "static_assert", "assert")


def source_files():
    found = []
    for top in ("src", "tools"):
        for folder, _, names in os.walk(os.path.join(ROOT, top)):
            for name in names:
                path = os.path.relpath(os.path.join(folder, name), ROOT)
                if name.endswith(".cpp") and not SKIP_PATH.search(path):
                    found.append(path)
    return sorted(found)


def blank_literals(line):
    """The line with string and character literals and a trailing // comment blanked out,
    same length, so that operators are looked for in code only."""
    out, i, quote = [], 0, None
    while i < len(line):
        c = line[i]
        if quote:
            if c == "\\" and i + 1 < len(line):
                out.append("  ")
                i += 2
                continue
            out.append(" " if c != quote else c)
            if c == quote:
                quote = None
        elif c in "\"'":
            quote = c
            out.append(c)
        elif line.startswith("//", i):
            out.append(" " * (len(line) - i))
            break
        else:
            out.append(c)
        i += 1
    return "".join(out)


def closing_paren(code, start):
    depth = 0
    for i in range(start, len(code)):
        if code[i] == "(":
            depth += 1
        elif code[i] == ")":
            depth -= 1
            if depth == 0:
                return i
    return -1


def line_mutants(line):
    """Every (kind, mutated line) this line offers."""
    stripped = line.strip()
    if not stripped or stripped.startswith(("//", "#", "*", "/*")):
        return []
    code = blank_literals(line)
    found = []
    for m in re.finditer(r" (==|!=|<=|>=|<|>) ", code):
        op = m.group(1)
        a, b = m.start(1), m.end(1)
        found.append(("comparison", line[:a] + COMPARISONS[op] + line[b:]))
    for m in re.finditer(r" (&&|\|\|) ", code):
        a, b = m.start(1), m.end(1)
        found.append(("logic", line[:a] + ("||" if m.group(1) == "&&" else "&&") + line[b:]))
    for m in re.finditer(r"\b(if|while) \(", code):
        open_at = m.end() - 1
        close_at = closing_paren(code, open_at)
        if close_at < 0:
            continue
        inner = line[open_at + 1:close_at]
        found.append(("condition", line[:open_at + 1] + "!(" + inner + ")" + line[close_at:]))
    for word, other in (("return true;", "return false;"), ("return false;", "return true;")):
        at = code.find(word)
        if at >= 0:
            found.append(("boolean", line[:at] + other + line[at + len(word):]))
    code_stripped = code.strip()
    if (STATEMENT_CALL.match(code_stripped) and not code_stripped.startswith(NOT_CALLS)
            and closing_paren(code_stripped, code_stripped.index("(")) == len(code_stripped) - 2):
        indent = line[:len(line) - len(line.lstrip())]
        found.append(("call", indent + ";  // left out\n"))
    return found


def sample(args):
    sites = []
    for path in source_files():
        with open(os.path.join(ROOT, path), encoding="utf-8") as f:
            lines = f.readlines()
        copies = {}
        for line in lines:
            copies[line] = copies.get(line, 0) + 1
        seen = {}
        for number, line in enumerate(lines, 1):
            nth = seen.get(line, 0)
            seen[line] = nth + 1
            for kind, mutated in line_mutants(line):
                sites.append({"file": path, "line": number, "kind": kind, "before": line,
                              "after": mutated, "nth": nth, "copies": copies[line]})
    rng = random.Random(args.seed)
    chosen = rng.sample(sites, min(args.count, len(sites)))
    chosen.sort(key=lambda s: (s["file"], s["line"]))
    for n, site in enumerate(chosen):
        site["id"] = n
    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    with open(args.out, "w", encoding="utf-8") as f:
        json.dump({"seed": args.seed, "sites": len(sites), "mutants": chosen}, f, indent=1,
                  ensure_ascii=False)
    kinds = {}
    for site in chosen:
        kinds[site["kind"]] = kinds.get(site["kind"], 0) + 1
    print(f"{len(chosen)} of {len(sites)} sites, seed {args.seed}: {kinds} -> {args.out}")


def find_line(lines, mutant):
    """Index of the mutant's line: where the sample saw it, else the line with its text that
    stands at the same place among that text's copies (the same loop in two functions: lines
    moving does not change that order), else the nearest one; None when the text is gone."""
    at = mutant["line"] - 1
    if 0 <= at < len(lines) and lines[at] == mutant["before"]:
        return at
    matches = [i for i, l in enumerate(lines) if l == mutant["before"]]
    if matches and len(matches) == mutant.get("copies"):
        return matches[mutant["nth"]]
    return min(matches, key=lambda i: abs(i - at)) if matches else None


def run_command(command, timeout):
    """Runs command bounded by timeout; on time-out its whole process group goes, so a program
    a build step or a suite started cannot spin on after it (a looping flash recording did)."""
    started = time.monotonic()
    with subprocess.Popen(command, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, errors="replace", start_new_session=True) as child:
        try:
            out, _ = child.communicate(timeout=timeout)
            return child.returncode, out, time.monotonic() - started
        except subprocess.TimeoutExpired:
            os.killpg(child.pid, signal.SIGKILL)
            out, _ = child.communicate()
            return None, out or "", time.monotonic() - started


def configure(build):
    if os.path.exists(os.path.join(build, "build.ninja")):
        return
    subprocess.run(["cmake", "--preset", "linux", "-B", build, "-DOVRA7_BENCH=OFF",
                    "-DOVRA7_FUZZ=OFF"], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)


def suite_commands(build):
    """Each suite's command line and environment as one text, by name."""
    done = subprocess.run(["ctest", "--test-dir", build, "--show-only=json-v1"], cwd=ROOT,
                          stdout=subprocess.PIPE, text=True, check=True)
    suites = {}
    for test in json.loads(done.stdout)["tests"]:
        words = list(test.get("command", []))
        for prop in test.get("properties", []):
            if prop["name"] == "ENVIRONMENT":
                words += prop["value"]
        suites[test["name"]] = " ".join(words)
    return suites


def relinked(build, output):
    """Absolute paths of the programs and modules ninja linked again."""
    found = re.findall(r"Linking CXX (?:executable|shared module|shared library) (\S+)", output)
    return [os.path.abspath(os.path.join(build, f)) for f in found]


def names_a_program(path, programs):
    """Whether the file at path holds the path of one of the programs (a test that was built
    with the program's path, and starts it, names it nowhere on its command line)."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError:
        return False
    return any(p.encode() in data for p in programs)


def suites_to_run(suites, build, programs):
    """The suites a change to these programs can reach: those that run one of them or a program
    beside it (a module is loaded by the program in its folder) or a program built with the path
    of one, and those that run no program of the build by name (scripts that find theirs
    otherwise)."""
    root = os.path.abspath(build) + os.sep
    folders = {os.path.dirname(p) for p in programs}
    chosen = []
    for name, text in suites.items():
        named = [w.split("=", 1)[-1] for w in text.split()]
        run = [w for w in named if w.startswith(root) and os.path.isfile(w) and os.access(w, os.X_OK)]
        if not run or any(w in programs or os.path.dirname(w) in folders or
                          names_a_program(w, programs) for w in run):
            chosen.append(name)
    return chosen


def failed_tests(output):
    return sorted(set(re.findall(r"\d+ - (\S+) \(", output)))


def run_suites(args, names):
    pattern = "^(" + "|".join(re.escape(n) for n in names) + ")$"
    return run_command(["ctest", "--test-dir", args.build, "-R", pattern, "-j2",
                        "--stop-on-failure", "--timeout", "300", "--output-on-failure"],
                       args.timeout)


def run(args):
    with open(args.mutants, encoding="utf-8") as f:
        mutants = json.load(f)["mutants"]
    results = {}
    if os.path.exists(args.results):
        with open(args.results, encoding="utf-8") as f:
            results = {r["id"]: r for r in json.load(f)}
    only = {int(x) for x in args.only.split(",")} if args.only else None
    earlier = {}
    if args.first:
        with open(args.first, encoding="utf-8") as f:
            earlier = {r["id"]: r.get("by", []) for r in json.load(f)}
    configure(args.build)
    code, out, _ = run_command(["cmake", "--build", args.build], 3600)
    if code != 0:
        sys.exit("the unmutated tree does not build:\n" + out[-3000:])
    suites = {n: t for n, t in suite_commands(args.build).items()
              if not re.search(args.exclude, n)}
    for mutant in mutants:
        if (only is not None and mutant["id"] not in only) or \
                (only is None and mutant["id"] in results):
            continue
        path = os.path.join(ROOT, mutant["file"])
        with open(path, encoding="utf-8") as f:
            original = f.read()
        lines = original.splitlines(keepends=True)
        at = find_line(lines, mutant)
        result = dict(mutant)
        if at is None:
            result.update(outcome="gone")
        else:
            lines[at] = mutant["after"]
            try:
                with open(path, "w", encoding="utf-8") as f:
                    f.write("".join(lines))
                # A mutant can make the build's flash recording loop: bounded like a suite.
                code, out, _ = run_command(["cmake", "--build", args.build], 900)
                chosen = list(suites) if args.all_suites else \
                    suites_to_run(suites, args.build, relinked(args.build, out))
                last_step = out.strip().splitlines()[-1] if out.strip() else ""
                recording_hung = code is None and "umockdev-flash" in last_step
                if recording_hung or (code != 0 and RECORDING_FAILED.search(out) and
                                      not COMPILE_ERROR.search(out)):
                    # The build records a whole flash of the simulated device with the code under
                    # test: a mutant that breaks the flash fails that step, not the compiler.
                    result.update(outcome="killed", by=["the build's flash recording"])
                elif code != 0:
                    result.update(outcome="stillborn")
                elif not chosen:
                    result.update(outcome="survived", by=["no suite reaches it"])
                else:
                    # The suites that killed this mutant in an earlier run go first: most
                    # mutants die there, and the outcome is the same in any order.
                    first = [n for n in earlier.get(mutant["id"], []) if n in chosen]
                    rest = [n for n in chosen if n not in first]
                    result["suites"] = len(chosen)
                    result.update(outcome="survived", seconds=0.0)
                    for group in (first, rest):
                        if not group:
                            continue
                        code, out, seconds = run_suites(args, group)
                        result["seconds"] = round(result["seconds"] + seconds, 1)
                        if code != 0:
                            result.update(outcome="killed", by=failed_tests(out) or ["timeout"])
                            break
            finally:
                with open(path, "w", encoding="utf-8") as f:
                    f.write(original)
        results[mutant["id"]] = result
        print(f"#{mutant['id']:3} {result['outcome']:9} {mutant['kind']:10} "
              f"{mutant['file']}:{mutant['line']} {' '.join(result.get('by', []))}", flush=True)
        with open(args.results, "w", encoding="utf-8") as f:
            json.dump(sorted(results.values(), key=lambda r: r["id"]), f, indent=1,
                      ensure_ascii=False)
    # The tree as it was: the next build compiles the unmutated sources again.
    run_command(["cmake", "--build", args.build], 3600)
    report(args)


def report(args):
    with open(args.results, encoding="utf-8") as f:
        results = json.load(f)
    counted = [r for r in results if r["outcome"] in ("killed", "survived")]
    killed = [r for r in counted if r["outcome"] == "killed"]
    other = len(results) - len(counted)
    if counted:
        print(f"killed {len(killed)} of {len(counted)} ({100 * len(killed) / len(counted):.0f} %); "
              f"{other} stillborn or gone")
    for r in counted:
        if r["outcome"] == "survived":
            print(f"  survivor #{r['id']} {r['kind']} {r['file']}:{r['line']}\n"
                  f"    - {r['before'].strip()}\n    + {r['after'].strip()}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    sub = parser.add_subparsers(dest="command", required=True)
    s = sub.add_parser("sample")
    s.add_argument("--seed", type=int, default=7)
    s.add_argument("--count", type=int, default=120)
    s.add_argument("--out", default=os.path.join(DEFAULT_DIR, "mutants.json"))
    r = sub.add_parser("run")
    r.add_argument("--mutants", default=os.path.join(DEFAULT_DIR, "mutants.json"))
    r.add_argument("--build", default=DEFAULT_DIR)
    r.add_argument("--results", default=os.path.join(DEFAULT_DIR, "results.json"))
    r.add_argument("--only", help="comma-separated mutant ids (run again even if done)")
    r.add_argument("--exclude", default="^deb_", help="ctest -E pattern of suites left out")
    r.add_argument("--timeout", type=int, default=1200, help="bound for one mutant's suites (s)")
    r.add_argument("--first", help="results of an earlier run: the suites that killed each "
                   "mutant there run first")
    r.add_argument("--all-suites", action="store_true",
                   help="run every suite, not only those that name a program linked again")
    p = sub.add_parser("report")
    p.add_argument("--results", default=os.path.join(DEFAULT_DIR, "results.json"))
    args = parser.parse_args()
    {"sample": sample, "run": run, "report": report}[args.command](args)


if __name__ == "__main__":
    main()
