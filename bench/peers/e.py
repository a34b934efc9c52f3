"""e to D decimals with Python's decimal, by the series sum 1/k!. Usage: e.py D"""
import sys
from decimal import Decimal, getcontext

D = int(sys.argv[1])
getcontext().prec = D + 10
eps = Decimal(10) ** -(D + 5)
total = Decimal(2)
term = Decimal(1)
k = 1
while term > eps:
    k += 1
    term /= k
    total += term
print(total)
