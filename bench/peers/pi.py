"""pi to D decimals with Python's decimal, by Machin's formula
pi = 16 arctan(1/5) - 4 arctan(1/239). Usage: pi.py D"""
import sys
from decimal import Decimal, getcontext


def arctan_inv(x, eps):
    """arctan(1/x) for an integer x > 1, summed until a term is below eps."""
    x2 = x * x
    term = Decimal(1) / x
    total = term
    k = 1
    while term > eps:
        term /= x2
        k += 2
        total += -term / k if k % 4 == 3 else term / k
    return total


def pi(digits):
    getcontext().prec = digits + 10
    eps = Decimal(10) ** -(digits + 5)
    return 16 * arctan_inv(5, eps) - 4 * arctan_inv(239, eps)


if __name__ == "__main__":
    D = int(sys.argv[1])
    print(+pi(D))
