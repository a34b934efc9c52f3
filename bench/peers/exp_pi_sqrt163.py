"""exp(pi sqrt(163)) to D decimals with Python's decimal: pi by Machin's
formula, then the square root and exponential of the decimal module.
Usage: exp_pi_sqrt163.py D"""
import sys
from decimal import Decimal, getcontext

from pi import pi

D = int(sys.argv[1])
x = pi(D + 20)
getcontext().prec = D + 30  # 18 integer digits and guard digits
print((x * Decimal(163).sqrt()).exp())
