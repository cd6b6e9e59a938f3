# The shooting slope s = y'(0) of Troesch's problem y'' = mu sinh(mu y),
# y(0) = 0, y(1) = 1, from its first integral y'^2 = s^2 + 4 sinh^2(mu y / 2):
# s solves 1 = integral from 0 to 1 of dy / sqrt(s^2 + 4 sinh^2(mu y / 2)).
# A one-off script (mpmath, 40 digits); tests/check_test.cpp holds its output.
import mpmath as mp

mp.mp.dps = 40


def slope(mu):
    if mu == 0:
        return mp.mpf(1)
    length = lambda s: mp.quad(lambda y: 1 / mp.sqrt(s**2 + 4 * mp.sinh(mu * y / 2) ** 2),
                               [0, mp.mpf(1) / 64, mp.mpf(1) / 8, 1]) - 1
    return mp.findroot(length, 8 * mp.exp(-mu) if mu > 2 else mp.mpf(1) / mp.cosh(mu / 2))


for mu in (1, 2, 3, 4, 5):
    print(mu, mp.nstr(slope(mp.mpf(mu)), 30))
