#!/usr/bin/env python3
"""Automatic mode as a short Python regex script would do it, for bench/compare:
    python3 bench/auto_clean.py FILE      (rewrites FILE in place)
Numbers are found by a regular expression (decimal forms only: hexadecimal
forms and a few odd token boundaries that strtod draws differently are where
it can differ from mapclean)."""
import math
import re
import sys

NUMBER = re.compile(rb"[-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?")


def fix(match):
    t = match.group(0)
    if b"e" in t or b"E" in t:
        return b"0" if abs(float(t)) < 1e-6 else t
    if b"." not in t:
        return t
    whole, frac = t.split(b".", 1)
    z = frac.find(b"000", 1)
    if z >= 0:
        kept = frac[:z]
        if kept.strip(b"0"):
            return whole + b"." + kept
        return whole if any(c in b"0123456789" for c in whole) else whole + b"0"
    n = frac.find(b"999")
    if n < 0:
        return t
    value = float(t)
    r = math.copysign(math.floor(abs(value) * 10**n + 0.5), value) / 10**n
    s = b"%.*f" % (n, r)
    if b"." in s:
        s = s.rstrip(b"0").rstrip(b".")
    return s


path = sys.argv[1]
with open(path, "rb") as f:
    text = f.read()
with open(path, "wb") as f:
    f.write(NUMBER.sub(fix, text))
