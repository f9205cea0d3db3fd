#!/usr/bin/env python3
"""One-line mutants of the lines that guard the station, and whether a test
notices each one.

    python3 scripts/mutate.py [--build DIR] [--only PATTERN] [--list] [GUARDS]

GUARDS (default scripts/mutation-guards.txt) names, per source file, the
tests that cover it and the mutants: a text that occurs exactly once in the
file and what it becomes. For each mutant the file is changed, the covering
tests are built and run (with a time-out, so a mutant that makes a test hang
counts as noticed), and the file is put back, whatever happens. A mutant no
test notices survived; one whose tree does not build, or whose text is no
longer in the file (the code moved on), is reported and left out of the
rate. A mutant marked equivalent is not run: it is listed with its reason.

Run it from a worktree whose build directory is configured (cmake -S . -B
build -G Ninja); it rebuilds the covering tests on the original source at
the end. It changes files in place: edit nothing else in the tree meanwhile.
"""

import argparse
import collections
import os
import re
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class Mutant:
    def __init__(self, path, tests, old, new, line):
        self.path, self.tests, self.old, self.new, self.line = path, tests, old, new, line
        self.equivalent = None   # the reason, when no test can tell it apart
        self.result = None


def parse(guards):
    """file PATH / tests NAME... / - OLD / + NEW / = REASON (after a mutant).
    Consecutive "-" lines (and "+" lines) make one text of several lines, for
    a line that is only found once with its neighbour."""
    mutants, path, tests, old, new = [], None, [], [], []

    def flush(number):
        nonlocal old, new
        if old and new:
            if path is None or not tests:
                sys.exit(f'{guards}:{number}: a mutant needs a file and its tests first')
            mutants.append(Mutant(path, tests, '\n'.join(old), '\n'.join(new), number))
        elif old or new:
            sys.exit(f'{guards}:{number}: a mutant needs both a "-" and a "+" line')
        old, new = [], []

    number = 0
    with open(guards, encoding='utf-8') as f:
        for number, raw in enumerate(f, 1):
            line = raw.rstrip('\n')
            if not line.strip() or line.lstrip().startswith('#'):
                continue
            word, _, rest = line.partition(' ')
            if word == '-':
                if new:
                    flush(number)
                old.append(rest)
                continue
            if word == '+':
                new.append(rest)
                continue
            flush(number)
            if word == 'file':
                path, tests = rest.strip(), []
            elif word == 'tests':
                tests = rest.split()
            elif word == '=':
                if not mutants:
                    sys.exit(f'{guards}:{number}: "=" follows a mutant')
                mutants[-1].equivalent = rest.strip()
            else:
                sys.exit(f'{guards}:{number}: unknown line: {line}')
    flush(number)
    return mutants


def show(text):
    return ' / '.join(line.strip() for line in text.split('\n'))


def run(command, timeout):
    try:
        return subprocess.run(command, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        return 'timeout'


def build(build_dir, tests):
    return run(['cmake', '--build', build_dir, '--target', *tests], 1800) == 0


def try_mutant(m, build_dir, timeout):
    source = os.path.join(ROOT, m.path)
    with open(source, encoding='utf-8') as f:
        original = f.read()
    if original.count(m.old) != 1:
        return 'stale'
    try:
        with open(source, 'w', encoding='utf-8') as f:
            f.write(original.replace(m.old, m.new))
        if not build(build_dir, m.tests):
            return 'unbuilt'
        pattern = '^(' + '|'.join(re.escape(t) for t in m.tests) + ')$'
        env = dict(os.environ, QT_QPA_PLATFORM='offscreen')
        try:
            code = subprocess.run(['ctest', '--test-dir', build_dir, '-R', pattern, '--timeout', str(timeout)],
                                  cwd=ROOT, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                  timeout=timeout * len(m.tests) + 60).returncode
        except subprocess.TimeoutExpired:
            code = 'timeout'
        return 'survived' if code == 0 else 'killed'
    finally:
        with open(source, 'w', encoding='utf-8') as f:
            f.write(original)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('guards', nargs='?', default=os.path.join(ROOT, 'scripts', 'mutation-guards.txt'))
    parser.add_argument('--build', default='build')
    parser.add_argument('--only', default='', help='only mutants whose file matches this pattern')
    parser.add_argument('--timeout', type=int, default=120, help='seconds for each test')
    parser.add_argument('--list', action='store_true', help='list the mutants and whether their text is found')
    args = parser.parse_args()
    # A run stopped from outside still puts the file it changed back.
    signal.signal(signal.SIGTERM, lambda *_: (_ for _ in ()).throw(KeyboardInterrupt()))
    mutants = [m for m in parse(args.guards) if re.search(args.only, m.path)]

    if args.list:
        for m in mutants:
            with open(os.path.join(ROOT, m.path), encoding='utf-8') as f:
                found = f.read().count(m.old)
            state = 'equivalent' if m.equivalent else ('ok' if found == 1 else f'found {found} times')
            print(f'{m.path}: {show(m.old)}  ->  {show(m.new)}  [{state}]')
        return 0

    touched = collections.OrderedDict()
    for i, m in enumerate(mutants, 1):
        if m.equivalent:
            m.result = 'equivalent'
        else:
            start = time.time()
            m.result = try_mutant(m, args.build, args.timeout)
            for t in m.tests:
                touched[t] = True
            print(f'[{i}/{len(mutants)}] {m.result:10} {m.path}: {show(m.old)}  ->  {show(m.new)}'
                  f'  ({time.time() - start:.0f} s)', flush=True)
    if touched:
        build(args.build, list(touched))

    per_file = collections.OrderedDict()
    for m in mutants:
        per_file.setdefault(m.path, collections.Counter())[m.result] += 1
    print()
    print(f'{"file":48} killed survived equivalent  other')
    total = collections.Counter()
    for path, c in per_file.items():
        total += c
        print(f'{path:48} {c["killed"]:6} {c["survived"]:8} {c["equivalent"]:10} '
              f'{c["stale"] + c["unbuilt"]:6}')
    print(f'{"all":48} {total["killed"]:6} {total["survived"]:8} {total["equivalent"]:10} '
          f'{total["stale"] + total["unbuilt"]:6}')
    counted = total['killed'] + total['survived']
    if counted:
        print(f'kill rate: {total["killed"]}/{counted} = {100.0 * total["killed"] / counted:.0f} % '
              f'of the mutants not equivalent')
    for m in mutants:
        if m.result in ('survived', 'stale', 'unbuilt'):
            print(f'{m.result}: {m.path}: {show(m.old)}  ->  {show(m.new)}')
    for m in mutants:
        if m.result == 'equivalent':
            print(f'equivalent: {m.path}: {show(m.old)}  ->  {show(m.new)}  ({m.equivalent})')
    return 1 if total['survived'] else 0


if __name__ == '__main__':
    sys.exit(main())
