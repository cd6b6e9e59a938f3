"""Helpers of bench/troesch_collocation.sh: the reference values of Troesch's
problem, SciPy's collocation solver on the same sweep, and the accuracy of a
troesch run's ZANFEL.CSV.

  python3 troesch_collocation.py reference OUT        # mu and y'(0), 40 digits
  python3 troesch_collocation.py scipy REF [jac|nojac] # one timed sweep
  python3 troesch_collocation.py check REF CSV        # a troesch run's error

The sweep is mu = 1, 1.25, ..., 20 (77 values) in every part.
"""
import sys
import time

MUS = [1 + 0.25 * k for k in range(77)]


def reference(out):
    """y'(0) = s of y'' = mu sinh(mu y), y(0) = 0, y(1) = 1, from the first
    integral y'^2 = s^2 + 4 sinh^2(mu y / 2): x(1) = 1 reads
    1 = int_0^1 dz / sqrt(s^2 + 4 sinh^2(mu z / 2)). With
    2 sinh(mu z / 2) = s sinh(w) this is
    mu = int_0^W dw / sqrt(1 + (s/2)^2 sinh^2 w), W = asinh(2 sinh(mu/2) / s),
    whose integrand is smooth (about 1 up to w = asinh(2/s), then e^-w)."""
    import mpmath as mp
    mp.mp.dps = 40

    def g(mu, logs):
        s = mp.exp(logs)
        a = (s / 2) ** 2
        w0 = mp.asinh(2 / s)
        W = mp.asinh(2 * mp.sinh(mu / 2) / s)
        f = lambda w: 1 / mp.sqrt(1 + a * mp.sinh(w) ** 2)
        pts = [mp.mpf(0), w0 / 2, w0, (w0 + W) / 2, W] if W > w0 else [mp.mpf(0), W]
        return mp.quad(f, pts) - mu

    rows = []
    logs = mp.log(mp.mpf("0.85"))
    for mu in MUS:
        m = mp.mpf(mu)
        logs = mp.findroot(lambda t: g(m, t), logs, tol=mp.mpf(10) ** -34)
        rows.append((mu, mp.exp(logs)))
    s10 = dict(rows)[10.0]
    known = mp.mpf("3.583377846308136904e-4")
    if abs(s10 / known - 1) > 1e-17:
        sys.exit("reference: y'(0) at mu = 10 is %s, not %s" % (mp.nstr(s10, 20), known))
    with open(out, "w") as f:
        for mu, s in rows:
            f.write("%r %s\n" % (mu, mp.nstr(s, 30)))


def read_reference(path):
    ref = {}
    with open(path) as f:
        for line in f:
            mu, s = line.split()
            ref[float(mu)] = float(s)
    return ref


def worst(ref, values):
    """The worst relative error of (mu, s) pairs and the mu where it is."""
    w, at = 0.0, None
    for mu, s in values:
        e = abs(s / ref[mu] - 1)
        if e >= w:
            w, at = e, mu
    return w, at


def scipy_sweep(refpath, jac):
    """One natural continuation by solve_bvp at tol 1e-6: each mu starts from
    the mesh and solution of the one before. Prints the sweep's seconds (the
    interpreter's start and the imports excluded), the worst relative error of
    y'(0), the number of solves, the largest mesh and how many solves did not
    converge."""
    import numpy as np
    from scipy.integrate import solve_bvp

    ref = read_reference(refpath)
    t0 = time.perf_counter()
    x = np.linspace(0, 1, 11)
    y = np.vstack([x, np.ones_like(x)])
    values, failed, nodes = [], 0, 0
    for mu in MUS:
        def fun(x, y, mu=mu):
            return np.vstack([y[1], mu * np.sinh(mu * y[0])])

        def fun_jac(x, y, mu=mu):
            j = np.zeros((2, 2, x.size))
            j[0, 1] = 1
            j[1, 0] = mu * mu * np.cosh(mu * y[0])
            return j

        def bc(ya, yb):
            return np.array([ya[0], yb[0] - 1])

        def bc_jac(ya, yb):
            return np.array([[1.0, 0.0], [0.0, 0.0]]), np.array([[0.0, 0.0], [1.0, 0.0]])

        if jac:
            sol = solve_bvp(fun, bc, x, y, tol=1e-6, max_nodes=100000,
                            fun_jac=fun_jac, bc_jac=bc_jac)
        else:
            sol = solve_bvp(fun, bc, x, y, tol=1e-6, max_nodes=100000)
        if sol.status != 0:
            failed += 1
        x, y = sol.x, sol.y
        nodes = max(nodes, x.size)
        values.append((mu, float(sol.y[1, 0])))
    t = time.perf_counter() - t0
    w, at = worst(ref, values)
    print("%.4f %.3e %g %d %d %d" % (t, w, at, len(values), nodes, failed))


def check(refpath, csv):
    """The worst relative error of X1 over a troesch run's records, and their
    number; fails when a record's P is not on the sweep's grid."""
    ref = read_reference(refpath)
    header, values = None, []
    with open(csv) as f:
        for line in f:
            if line.startswith("#"):
                continue
            cells = line.rstrip("\n").split(",")
            if header is None:
                header = cells
                p, x1 = header.index("P"), header.index("X1")
                continue
            mu = float(cells[p])
            if mu not in ref:
                sys.exit("check: record at P = %s is off the sweep's grid" % cells[p])
            values.append((mu, float(cells[x1])))
    if not values:
        sys.exit("check: no records in " + csv)
    w, at = worst(ref, values)
    print("%.3e %g %d %g" % (w, at, len(values), values[-1][0]))


if __name__ == "__main__":
    a = sys.argv[1:]
    if len(a) == 2 and a[0] == "reference":
        reference(a[1])
    elif len(a) in (2, 3) and a[0] == "scipy":
        scipy_sweep(a[1], len(a) == 2 or a[2] == "jac")
    elif len(a) == 3 and a[0] == "check":
        check(a[1], a[2])
    else:
        sys.exit(__doc__)
