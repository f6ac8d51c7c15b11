#!/usr/bin/env python3
"""Mutation fuzzing of the AMPL path: damaged copies of .nl files are solved by a
sanitizer build of orva; a run that ends by a signal, a sanitizer report, more than 30 s of
processor time or a hang is a fault, saved with the file it came from.

    tests/fuzz/fuzz_nl.py SECONDS ORVA_BINARY OUTDIR SEED.nl... [--seed N]

In the text form mutations act on whole lines: a number replaced by an extreme or small
value, two numbers of a line swapped, a line deleted, duplicated or cut short, a byte
changed.  In the binary form bytes
after the header are changed or the file is cut short."""
import os
import random
import re
import resource
import signal
import subprocess
import sys
import time

# A run that spins is caught by its processor time (on a shared machine the wall clock
# also counts the other users' work); one that waits without working, by the wall clock.
CPU_SECONDS = 30
WALL_SECONDS = 600


def limit_cpu():
    resource.setrlimit(resource.RLIMIT_CPU, (CPU_SECONDS, CPU_SECONDS + 5))

VALUES = [b'0', b'-1', b'1', b'2', b'3', b'7', b'99999999', b'2147483647', b'-2147483648',
          b'1e308', b'nan', b'inf']


def mutate(rng, data):
    lines = data.split(b'\n')
    for _ in range(rng.randint(1, 4)):
        if not lines:
            lines = [b'g']
        i = rng.randrange(len(lines))
        r = rng.random()
        if r < 0.45:
            toks = re.split(rb'(\s+)', lines[i])
            nums = [k for k, t in enumerate(toks) if re.fullmatch(rb'-?[0-9.eE+]+', t)]
            if nums:
                if rng.random() < 0.2 and len(nums) > 1:
                    # Two numbers of the line change places (a header count moved to
                    # another field, a segment's index and count swapped).
                    a, b = rng.sample(nums, 2)
                    toks[a], toks[b] = toks[b], toks[a]
                else:
                    toks[rng.choice(nums)] = rng.choice(VALUES + [str(rng.randint(-5, 50)).encode()])
                lines[i] = b''.join(toks)
        elif r < 0.6:
            del lines[i]
        elif r < 0.75:
            lines.insert(i, lines[rng.randrange(len(lines))])
        elif r < 0.85:
            s = bytearray(lines[i])
            if s:
                s[rng.randrange(len(s))] = rng.randrange(256)
            lines[i] = bytes(s)
        else:
            lines = lines[:i] or [b'g']
    return b'\n'.join(lines)


def mutate_binary(rng, data):
    # The text header stays; bytes after it are changed, or the file is cut short.
    pos = 0
    for _ in range(10):
        pos = data.find(b'\n', pos) + 1
    d = bytearray(data)
    if pos <= 0 or pos >= len(d):
        return bytes(d)
    if rng.random() < 0.2:
        return bytes(d[:rng.randrange(pos, len(d))])
    for _ in range(rng.randint(1, 3)):
        d[rng.randrange(pos, len(d))] = rng.choice([rng.randrange(256), 0, 0xff, 0x7f])
    return bytes(d)


def main():
    args = [a for a in sys.argv[1:] if not a.startswith('--seed')]
    seed = next((int(a.split('=')[1]) for a in sys.argv[1:] if a.startswith('--seed=')), 1)
    if len(args) < 4:
        print(__doc__)
        return 2
    seconds, orva, outdir, seeds = float(args[0]), args[1], args[2], args[3:]
    seeds = [s for s in seeds if open(s, 'rb').read(1) in (b'g', b'b')]
    rng = random.Random(seed)
    os.makedirs(outdir, exist_ok=True)
    stem = os.path.join(outdir, 'current')
    env = dict(os.environ, ASAN_OPTIONS='detect_leaks=0', UBSAN_OPTIONS='print_stacktrace=1')
    end = time.time() + seconds
    runs = faults = 0
    while time.time() < end:
        src = rng.choice(seeds)
        raw = open(src, 'rb').read()
        data = mutate(rng, raw) if raw[:1] == b'g' else mutate_binary(rng, raw)
        with open(stem + '.nl', 'wb') as f:
            f.write(data)
        try:
            p = subprocess.run([orva, stem, '-AMPL', 'maxit=50'], capture_output=True, timeout=WALL_SECONDS,
                               env=env, preexec_fn=limit_cpu)
            out = p.stdout + p.stderr
            why = None
            if p.returncode == -signal.SIGXCPU:
                why = 'more than %d s of processor time' % CPU_SECONDS
            elif p.returncode < 0 or p.returncode >= 128:
                why = 'status %d' % p.returncode
            elif b'AddressSanitizer' in out or b'runtime error' in out:
                why = 'sanitizer report'
        except subprocess.TimeoutExpired:
            why, out = 'no end within %d s' % WALL_SECONDS, b''
        runs += 1
        if why:
            faults += 1
            name = os.path.join(outdir, 'fault-%d.nl' % faults)
            with open(name, 'wb') as f:
                f.write(data)
            print('fault (%s) from %s: %s\n%s' % (why, src, name, out[-800:].decode(errors='replace')))
    print('fuzz-nl: %d runs, %d faults' % (runs, faults))
    return 1 if faults else 0


if __name__ == '__main__':
    sys.exit(main())
