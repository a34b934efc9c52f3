"""The factorials 1! .. L!, every row printed, with Python's decimal
(exact: the precision holds every digit of L!). Usage: factorial.py L"""
import math
import sys
from decimal import Decimal, getcontext

L = int(sys.argv[1])
getcontext().prec = int(math.lgamma(L + 1) / math.log(10)) + 10
f = Decimal(1)
out = []
for n in range(1, L + 1):
    f *= n
    out.append(f"N: {n}, FAC(N): \n{f}")
print("\n".join(out))
