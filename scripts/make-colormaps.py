#!/usr/bin/python3
"""Writes the colour-map tables in transfer/colormaps/ (256 RGB entries each).

viridis, magma, inferno and cividis are copied from the tables that Debian's
python3-matplotlib carries; coolwarm is computed here from its published
formula. Run from the repository root: /usr/bin/python3 scripts/make-colormaps.py
"""
import math
import os

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "transfer", "colormaps")

HEADERS = {
    "viridis": [
        "viridis: perceptually uniform sequential colour map by Stefan van der Walt and",
        "Nathaniel J. Smith (2015), https://bids.github.io/colormap/.",
        "Licence: CC0 1.0 Universal (public domain dedication) by its authors.",
        "Values as distributed in matplotlib 3.6.3, matplotlib/_cm_listed.py (Debian python3-matplotlib).",
    ],
    "magma": [
        "magma: perceptually uniform sequential colour map by Nathaniel J. Smith and",
        "Stefan van der Walt (2015), https://bids.github.io/colormap/.",
        "Licence: CC0 1.0 Universal (public domain dedication) by its authors.",
        "Values as distributed in matplotlib 3.6.3, matplotlib/_cm_listed.py (Debian python3-matplotlib).",
    ],
    "inferno": [
        "inferno: perceptually uniform sequential colour map by Nathaniel J. Smith and",
        "Stefan van der Walt (2015), https://bids.github.io/colormap/.",
        "Licence: CC0 1.0 Universal (public domain dedication) by its authors.",
        "Values as distributed in matplotlib 3.6.3, matplotlib/_cm_listed.py (Debian python3-matplotlib).",
    ],
    "cividis": [
        "cividis: colour map for colour-vision deficiency by J. R. Nunez, C. R. Anderton and",
        "R. S. Renslow, PLOS ONE 13(7): e0199239 (2018), doi:10.1371/journal.pone.0199239.",
        "Licence: published with the article under CC BY 4.0 (attribution as above).",
        "Values as distributed in matplotlib 3.6.3, matplotlib/_cm_listed.py (Debian python3-matplotlib).",
    ],
    "coolwarm": [
        "coolwarm: diverging colour map of K. Moreland, 'Diverging Color Maps for Scientific",
        "Visualization', ISVC 2009, LNCS 5876, pp. 92-103: blue (0.230, 0.299, 0.754) to red",
        "(0.706, 0.016, 0.150) interpolated in Msh space through a white of M = 88.",
        "Computed by scripts/make-colormaps.py from that published formula.",
    ],
}


def listed(name):
    namespace = {}
    path = "/usr/lib/python3/dist-packages/matplotlib/_cm_listed.py"
    source = open(path).read()
    start = source.index("_%s_data = " % name)
    end = source.index("]]", start) + 2
    exec(source[start:end], namespace)
    return namespace["_%s_data" % name]


# --- Moreland's cool-warm map --------------------------------------------
WHITE = (0.95047, 1.0, 1.08883)  # D65


def to_linear(c):
    return c / 12.92 if c <= 0.04045 else ((c + 0.055) / 1.055) ** 2.4


def from_linear(c):
    return 12.92 * c if c <= 0.0031308 else 1.055 * c ** (1 / 2.4) - 0.055


def rgb_to_msh(rgb):
    r, g, b = (to_linear(c) for c in rgb)
    x = 0.4124 * r + 0.3576 * g + 0.1805 * b
    y = 0.2126 * r + 0.7152 * g + 0.0722 * b
    z = 0.0193 * r + 0.1192 * g + 0.9505 * b

    def f(t):
        return t ** (1 / 3) if t > 0.008856 else 7.787 * t + 16 / 116

    fx, fy, fz = f(x / WHITE[0]), f(y / WHITE[1]), f(z / WHITE[2])
    lab = (116 * fy - 16, 500 * (fx - fy), 200 * (fy - fz))
    m = math.sqrt(sum(c * c for c in lab))
    s = math.acos(lab[0] / m) if m > 0 else 0.0
    h = math.atan2(lab[2], lab[1]) if s > 0.001 else 0.0
    return m, s, h


def msh_to_rgb(msh):
    m, s, h = msh
    l = m * math.cos(s)
    a = m * math.sin(s) * math.cos(h)
    b = m * math.sin(s) * math.sin(h)
    fy = (l + 16) / 116

    def finv(t):
        return t ** 3 if t > 0.206893 else (t - 16 / 116) / 7.787

    x = WHITE[0] * finv(fy + a / 500)
    y = WHITE[1] * finv(fy)
    z = WHITE[2] * finv(fy - b / 200)
    r = 3.2406 * x - 1.5372 * y - 0.4986 * z
    g = -0.9689 * x + 1.8758 * y + 0.0415 * z
    bl = 0.0557 * x - 0.2040 * y + 1.0570 * z
    return tuple(min(1.0, max(0.0, from_linear(c))) for c in (r, g, bl))


def adjust_hue(msh, unsaturated_m):
    m, s, h = msh
    if m >= unsaturated_m - 0.1:
        return h
    spin = s * math.sqrt(unsaturated_m ** 2 - m ** 2) / (m * math.sin(s))
    return h + spin if h > -math.pi / 3 else h - spin


def coolwarm(t):
    low = rgb_to_msh((0.230, 0.299, 0.754))
    high = rgb_to_msh((0.706, 0.016, 0.150))
    m1, s1, h1 = low
    m2, s2, h2 = high
    if s1 > 0.05 and s2 > 0.05 and abs(h1 - h2) > math.pi / 3:
        middle = max(m1, m2, 88.0)
        if t < 0.5:
            m2, s2, h2 = middle, 0.0, 0.0
            t = 2 * t
        else:
            m1, s1, h1 = middle, 0.0, 0.0
            t = 2 * t - 1
    if s1 < 0.05 and s2 > 0.05:
        h1 = adjust_hue((m2, s2, h2), m1)
    elif s2 < 0.05 and s1 > 0.05:
        h2 = adjust_hue((m1, s1, h1), m2)
    return msh_to_rgb(((1 - t) * m1 + t * m2, (1 - t) * s1 + t * s2, (1 - t) * h1 + t * h2))


def write(name, table):
    with open(os.path.join(OUT, name + ".txt"), "w") as out:
        for line in HEADERS[name]:
            out.write("# " + line + "\n")
        out.write("# 256 entries, one per line: red green blue in [0, 1], entry k at value k / 255.\n")
        for r, g, b in table:
            out.write("%.6f %.6f %.6f\n" % (r, g, b))


for name in ("viridis", "magma", "inferno", "cividis"):
    table = listed(name)
    assert len(table) == 256
    write(name, table)
write("coolwarm", [coolwarm(k / 255) for k in range(256)])
