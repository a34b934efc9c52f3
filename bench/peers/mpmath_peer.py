"""The benchmark's tasks with mpmath (GMP backend when gmpy2 is installed),
every digit printed. Usage: mpmath_peer.py TASK D

mpmath computes correctly rounded values by faster-converging methods than
the calculator's series; it is the tool a user would otherwise pick."""
import sys

from mpmath import mp

TASKS = {
    "pi": lambda: mp.pi,
    "e": lambda: mp.e,
    "sqrt2": lambda: mp.sqrt(2),
    "exp_pi_over_10": lambda: mp.exp(mp.pi / 10),
    "exp_pi_sqrt163": lambda: mp.exp(mp.pi * mp.sqrt(163)),
}

task, D = sys.argv[1], int(sys.argv[2])
mp.dps = D + 30  # 18 integer digits of exp(pi sqrt(163)) and guard digits
print(TASKS[task]())
