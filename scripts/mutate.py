#!/usr/bin/env python3
"""Mutation run: apply each mutation of a list in turn, rebuild only the tests
that link the mutated source, run them with a deadline, record caught or
survived, and restore the source file whatever happens.

A mutation line holds three fields separated by tabs:
    file<TAB>original text<TAB>replacement
"file" may name alternatives separated by "|" (the first one that holds the
original text exactly once is used); "\\n" in a text stands for a line break.
Lines that are empty or start with "#" are skipped.
"""

import argparse
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time


def sh(cmd, cwd=None, timeout=None):
    return subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, timeout=timeout)


def read_mutations(path):
    mutations = []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            fields = line.split("\t")
            if len(fields) != 3:
                sys.exit(f"{path}:{number}: expected file, original and replacement")
            files, original, replacement = (s.replace("\\n", "\n") for s in fields)
            mutations.append((number, files.split("|"), original, replacement))
    return mutations


class Build:
    def __init__(self, build_dir):
        self.dir = os.path.abspath(build_dir)
        cache = open(os.path.join(self.dir, "CMakeCache.txt"), encoding="utf-8").read()
        self.source = next(l.split("=", 1)[1] for l in cache.splitlines()
                           if l.startswith("CMAKE_HOME_DIRECTORY:"))
        shown = json.loads(sh(["ctest", "--test-dir", self.dir, "--show-only=json-v1"]).stdout)
        targets = set(sh(["ninja", "-C", self.dir, "-t", "targets", "all"]).stdout.split())
        targets = {t.rstrip(":") for t in targets}
        self.tests = {}
        # ctest names no command for a test whose program is not built yet.
        if any(not test.get("command") for test in shown["tests"]):
            sys.exit(f"build every target in {self.dir} first: ctest knows no program for some tests")
        for test in shown["tests"]:
            needed = []
            for word in test.get("command", []):
                path = word.split("=", 1)[-1]
                if path.startswith(self.dir + "/"):
                    rel = os.path.relpath(path, self.dir)
                    if rel in targets:
                        needed.append(rel)
            if not needed:
                continue
            inputs = set()
            for target in needed:
                inputs.update(sh(["ninja", "-C", self.dir, "-t", "inputs", target]).stdout.split())
            self.tests[test["name"]] = {"targets": needed, "inputs": inputs, "seconds": 0.0}

    def tests_using(self, source):
        # Ninja lists sources as inputs, not the headers they include: a
        # mutated header may reach any test.
        if source.endswith(".h"):
            return list(self.tests)
        return [name for name, t in self.tests.items() if source in t["inputs"]]

    def objects_of(self, source):
        out = sh(["ninja", "-C", self.dir, "-t", "query", source]).stdout
        lines = out.splitlines()
        if "  outputs:" not in lines:
            return []
        return [l.strip() for l in lines[lines.index("  outputs:") + 1:] if l.startswith("    ")]

    def build(self, targets):
        return sh(["ninja", "-C", self.dir, "-j2"] + targets).returncode == 0

    def run(self, name, deadline):
        start = time.monotonic()
        try:
            r = sh(["timeout", "-k", "5", str(int(deadline)), "ctest", "--test-dir", self.dir,
                    "-R", f"^{name}$", "--timeout", str(int(deadline))])
            ok = r.returncode == 0
        except subprocess.TimeoutExpired:
            ok = False
        return ok, time.monotonic() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build_dir")
    parser.add_argument("mutations")
    parser.add_argument("--log", default=None, help="write one line per mutation here too")
    parser.add_argument("--only", type=int, nargs="*", help="run only these line numbers")
    parser.add_argument("--tests", default=None,
                        help="run only the tests whose names match this regular expression")
    args = parser.parse_args()

    build = Build(args.build_dir)
    mutations = read_mutations(args.mutations)
    if args.only:
        mutations = [m for m in mutations if m[0] in args.only]
    log = open(args.log, "w", encoding="utf-8") if args.log else None

    def report(text):
        print(text, flush=True)
        if log:
            log.write(text + "\n")
            log.flush()

    # Baseline: every test must pass unmutated; its time sets its deadline and
    # the order (the quickest first, so a caught mutant costs little).
    if not build.build([t for v in build.tests.values() for t in v["targets"]]):
        sys.exit("the unmutated tree does not build")
    for name, test in build.tests.items():
        ok, seconds = build.run(name, 600)
        if not ok:
            sys.exit(f"{name} fails without a mutation")
        test["seconds"] = seconds
    report(f"# baseline green: {len(build.tests)} tests in {build.dir}")

    state = {"path": None, "text": None, "stat": None}

    def restore(*_):
        if state["path"] is not None:
            with open(state["path"], "w", encoding="utf-8") as f:
                f.write(state["text"])
            if state["path"].endswith(".h"):
                # Left newer than every object compiled with the mutant, so
                # that the next build compiles them all again.
                state["path"] = None
                return
            os.utime(state["path"], ns=(state["stat"].st_atime_ns, state["stat"].st_mtime_ns))
            # The object built from the mutant is newer than the restored
            # source; remove it so that the next build compiles the original.
            for obj in build.objects_of(state["path"]):
                try:
                    os.remove(os.path.join(build.dir, obj))
                except FileNotFoundError:
                    pass
            state["path"] = None

    def on_signal(signum, _frame):
        restore()
        sys.exit(128 + signum)

    signal.signal(signal.SIGINT, on_signal)
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGHUP, on_signal)

    caught = survived = skipped = 0
    started = time.monotonic()
    try:
        for number, files, original, replacement in mutations:
            path = None
            for candidate in files:
                full = os.path.join(build.source, candidate)
                if os.path.exists(full) and open(full, encoding="utf-8").read().count(original) == 1:
                    path = full
                    break
            label = f"{number}: {os.path.relpath(path, build.source) if path else files[0]}: " \
                    f"{original.strip()!r} -> {replacement.strip()!r}"
            if path is None:
                skipped += 1
                report(f"SKIPPED (text not found once) {label}")
                continue
            tests = sorted((n for n in build.tests_using(path)
                            if not args.tests or re.search(args.tests, n)),
                           key=lambda n: build.tests[n]["seconds"])
            state.update(path=path, text=open(path, encoding="utf-8").read(), stat=os.stat(path))
            with open(path, "w", encoding="utf-8") as f:
                f.write(state["text"].replace(original, replacement))
            verdict, by = "SURVIVED", ""
            for name in tests:
                if not build.build(build.tests[name]["targets"]):
                    verdict, by = "NOBUILD", name
                    break
                ok, _ = build.run(name, max(30, 4 * build.tests[name]["seconds"] + 10))
                if not ok:
                    verdict, by = "CAUGHT", name
                    break
            restore()
            if verdict == "NOBUILD":
                skipped += 1
            elif verdict == "CAUGHT":
                caught += 1
            else:
                survived += 1
            report(f"{verdict:8} {label}" + (f" [{by}]" if by else f" [{len(tests)} tests ran]"))
    finally:
        restore()
        build.build([t for v in build.tests.values() for t in v["targets"]])
    total = caught + survived
    report(f"# caught {caught} of {total} ({100.0 * caught / max(total, 1):.0f} %), "
           f"{skipped} not built or not applicable, {time.monotonic() - started:.0f} s")


if __name__ == "__main__":
    main()
