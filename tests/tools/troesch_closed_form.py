#!/usr/bin/env python3
"""y'(0) of Troesch's problem y'' = mu sinh(mu y), y(0) = 0, y(1) = 1, from
its first integral, at 40 digits (mpmath).

Along a solution y'^2 = s^2 + 4 sinh^2(mu y / 2) with s = y'(0), so
s solves  int_0^mu du / sqrt(s^2 + 4 sinh^2(u/2)) = mu.  With u = s sinh(w)
the integrand is smooth near u = 0, where it is sharpest for small s.

Usage: troesch_closed_form.py FIRST STEP LAST  (prints "mu s" lines)."""
import sys

import mpmath as mp

mp.mp.dps = 40


def gap(s, mu):
    top = mp.asinh(mu / s)
    f = lambda w: s * mp.cosh(w) / mp.sqrt(s**2 + 4 * mp.sinh(s * mp.sinh(w) / 2) ** 2)
    points = [top * k / 16 for k in range(17)]
    return mp.quad(f, points) - mu


def slope_at_zero(mu, guess):
    logs = mp.findroot(lambda t: gap(mp.exp(t), mu), mp.log(guess))
    return mp.exp(logs)


def main():
    first, step, last = (mp.mpf(a) for a in sys.argv[1:4])
    mu, guess = first, mp.mpf(1)
    while mu <= last:
        guess = slope_at_zero(mu, guess)
        print(mp.nstr(mu, 10), mp.nstr(guess, 25))
        mu += step


if __name__ == "__main__":
    main()
