"""sqrt(2) to D decimals with Python's decimal. Usage: sqrt2.py D"""
import sys
from decimal import Decimal, getcontext

D = int(sys.argv[1])
getcontext().prec = D + 10
print(Decimal(2).sqrt())
