#!/usr/bin/env python3
"""Golden vectors of the emulated 10-bit colour table, computed apart from
the library: three sets of red, green and blue ramps, and for every channel
the 1,024 outputs of the hardware emulation and of the best interpolation.

Written from the table's description, not from the library's code. Integer
divisions of signed values truncate toward zero (tdiv), as the chip's
firmware arithmetic does. Run: python3 lut_golden.py > lut_golden.txt
"""

COMP_BITS = [0, 0, 0, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4,
             4, 4, 4, 5, 5, 5, 5, 6, 6, 6, 6, 7, 7, 7, 7, 7]


def tdiv(a, b):
    q = abs(a) // abs(b)
    return q if (a >= 0) == (b >= 0) else -q


def tmod(a, b):
    return a - b * tdiv(a, b)


def smooth(ramp):
    out = list(ramp)
    s = 0
    while s < 255:
        n = 1
        while s + n < 255 and ramp[s + n] == ramp[s]:
            n += 1
        nxt = s + n
        if n > 1 and ramp[nxt] != ramp[s]:
            a, c = ramp[s], ramp[nxt]
            step, rest = tdiv(c - a, n), tmod(c - a, n)
            value, acc = a, 0
            for i in range(1, n):
                value += step
                acc += abs(rest)
                if acc >= n:
                    acc -= n
                    value += 1 if rest > 0 else -1
                out[s + i] = value
        s = nxt
    return out


def remap256(ramp):
    r = list(ramp)
    for i in range(255, 0, -1):
        r[i] = (3 * i * r[i - 1] + (1023 - 3 * i) * r[i] + 511) // 1023
    return r


def to1024(ramp):
    if all(ramp[i] == i * 257 for i in range(256)):
        return [i << 6 for i in range(1024)]
    out = []
    for j in range(1023):
        # output j at position 255 j / 1023 between entries k and k + 1
        k, e = divmod(255 * j, 1023)
        d = ramp[k + 1] - ramp[k]
        out.append(ramp[k] + tdiv(d * e + 511, 1023))
    out.append(ramp[255])
    return out


def rnd(x):
    return 0xFFC0 if x >= 0xFFE0 else (x + 32) & 0xFFC0


def entry(a, b):
    ra = rnd(a)
    step = tdiv(rnd(b) - ra, 64)
    comp = 0 if step < 0 else COMP_BITS[min(step, 31)]
    while comp > 0 and (ra >> 6) + 3 * comp > 1023:
        comp -= 1
    return ra >> 6, comp


def last_entry(a, b):
    ra = rnd(a)
    diff = rnd(b) - ra
    comp = 0 if diff <= 0 else min(diff // 192, 7)
    over = (ra >> 6) + 3 * comp - 1023
    if over > 0:
        comp -= min(comp, (over + 2) // 3)
    return ra >> 6, comp


def level(chans):
    steep, top = [], []
    for e in chans:
        s0, s1 = max(0, e[1] - e[0]), max(0, e[255] - e[254])
        top.append(s0 < s1)
        steep.append(max(s0, s1) > 1792)
    for c in (1, 0, 2):
        if steep[c]:
            return 0 if top[c] else 1
    return 1


def comp_bytes(e, lvl, last):
    def byte(x):
        return 0 if x <= 0 else min((x + 32) >> 6, 255)
    lo = 0 if lvl == 1 else 254
    q = tdiv(max(0, rnd(e[lo + 1]) - rnd(e[lo])), 4)
    if lvl == 1:
        r = tdiv(max(0, rnd(e[2]) - rnd(e[1])), 4)
    else:
        r = tdiv(max(0, last - rnd(e[255])), 3)
    b = [byte(q), byte(2 * q), byte(3 * q), byte(r), byte(2 * r), byte(3 * r)]
    if lvl == 0 and (rnd(e[255]) >> 6) + b[5] > 1023:
        b[5] = 1023 - (rnd(e[255]) >> 6)
    return b


def hardware(chans_in, ch):
    if all(chans_in[ch][i] == i * 257 for i in range(256)):
        return [i << 6 for i in range(1024)]
    prep = [remap256(smooth(c)) for c in chans_in]
    lvl = level(prep)
    b = comp_bytes(prep[ch], lvl, chans_in[ch][255])
    e = prep[ch]
    out = []
    for i in range(256):
        v, c = entry(e[i], e[i + 1]) if i < 255 else last_entry(e[255], chans_in[ch][255])
        out += [(v + k * c) << 6 for k in range(4)]
    groups = (0, 4) if lvl == 1 else (1016, 1020)
    for g, start in enumerate(groups):
        for k in range(1, 4):
            out[start + k] = min(out[start] + 64 * b[3 * g + k - 1], 0xFFC0)
    return out


def best(chans_in, ch):
    return to1024(smooth(chans_in[ch]))


def cases():
    gamma = [round(65535 * (i / 255) ** (1 / 2.2)) for i in range(256)]
    stairs = [(i // 4) * 1028 for i in range(256)]
    steep_top = [i * 150 for i in range(250)] + [40000, 46000, 52000, 58000, 62000, 65535]
    falling = [65535 - i * 257 for i in range(256)]
    linear = [i * 257 for i in range(256)]
    dark = [min(65535, i * i) for i in range(256)]
    dim_gamma = [round(60000 * (i / 255) ** 2.2) for i in range(256)]
    dim_steps = [(i // 8) * 1900 for i in range(256)]
    dim_top = [i * 200 for i in range(254)] + [56000, 64000]
    yield "gamma", [gamma, stairs, linear]
    yield "steep", [steep_top, dark, falling]
    # No entry reaches 65,473: what the chip's table shows equals these.
    yield "dim", [dim_gamma, dim_steps, dim_top]


def main():
    for name, chans in cases():
        print("case", name)
        for ch in range(3):
            print("in", ch, *chans[ch])
        for ch in range(3):
            print("hw", ch, *hardware(chans, ch))
            print("best", ch, *best(chans, ch))


if __name__ == "__main__":
    main()
