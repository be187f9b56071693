#!/usr/bin/env python3
"""Writes microcode_data.cpp: the microcode fragment library and the
catalogue's selection tables.

The instruction words and most table rows are PLACEHOLDER MICROCODE: the
chip's own fragments are not part of this tree. What the generator does
honour is every shape the catalogue is known to have: 574 fragments of 12
to 6,744 bytes (median 120), 468,504 bytes in all, 201 of them single
instructions (fragment 201 the padding one, five kept under their own
names); fragment 304 the only one with an entry table {0, 0, 4}; the
light-pair table's 2,592 keys over 108 fragments (363-470) with 108 fix-up
recipes of 4-26 records, sixteen of them named (seven known in full); the
patch recipe tables' key and array counts; the kind tables' ranges and
defaults; the 36 entries the clip fragments change; the transform and
texture tables' ranges; the counted lists. Every recipe record addresses
an instruction inside the fragment it patches, and every fragment the
assembly patches is longer than the instructions it patches there.

Instruction words are derived from (fragment, instruction) by
InstructionWords below, so a linked program can be read back: register
fields 1-3 hold operands 0-15, their high bits and selector are 0, and w2
bits 0-19 hold the fragment and instruction numbers.

Deterministic: the same script always writes the same file. Run it from
this folder: ./gen_microcode_data.py > microcode_data.cpp
"""

import sys

FRAGMENTS = 574
TOTAL_INSTRUCTIONS = 39042
SINGLES = 201
MAX_INSTRUCTIONS = 562  # 6,744 bytes


class Rng:
    """xorshift32: the same sequence on every Python."""

    def __init__(self, seed):
        self.s = seed

    def next(self):
        s = self.s
        s ^= (s << 13) & 0xFFFFFFFF
        s ^= s >> 17
        s ^= (s << 5) & 0xFFFFFFFF
        self.s = s
        return s

    def below(self, n):
        return self.next() % n

    def between(self, lo, hi):
        return lo + self.below(hi - lo + 1)


rng = Rng(0x5EED1234)


def InstructionWords(fragment, instruction):
    op1 = (fragment + instruction) & 15
    op2 = (fragment + 2 * instruction + 1) & 15
    op3 = (3 * fragment + instruction + 2) & 15
    opcode = (7 * fragment + instruction) & 0xFF
    w0 = ((fragment * 1021 + instruction * 7) & 0xFFFFF) | op3 << 20 | (instruction & 7) << 24 \
        | op2 << 27 | (fragment & 1) << 31
    w1 = (instruction & 3) | op1 << 2 | ((fragment + instruction) & 0xFF) << 6 \
        | ((3 * fragment + instruction) & 0xFFF) << 20
    w2 = fragment | instruction << 10 | opcode << 23
    return (w0, w1, w2)


# ---- Fragment sizes (in instructions) --------------------------------------
LIGHT_FIRST, LIGHT_LAST = 363, 470
LIGHT_MIN = 30  # every light recipe record addresses instructions below this
# Longer than every instruction the assembly patches in them.
AT_LEAST = {6: 7, 65: 3, 80: 5, 339: 45, 341: 475, 342: 134, 345: 6, 361: 230, 362: 307,
            304: 5}
FIXED = {341: MAX_INSTRUCTIONS, 362: 400, 361: 300, 342: 200, 339: 60}
NAMED_SINGLES = {205: "AddAfd", 206: "AddAfs", 207: "AddEfd", 208: "AddEfs", 209: "AddEfm"}

big = set(range(LIGHT_FIRST, LIGHT_LAST + 1)) | set(AT_LEAST) | set(FIXED)
candidates = [f for f in range(1, FRAGMENTS + 1)
              if f not in big and f != 201 and f not in NAMED_SINGLES]
# Deterministic shuffle.
for i in range(len(candidates) - 1, 0, -1):
    j = rng.below(i + 1)
    candidates[i], candidates[j] = candidates[j], candidates[i]
singles = [201] + sorted(NAMED_SINGLES) + candidates[:SINGLES - 1 - len(NAMED_SINGLES)]
rest = candidates[SINGLES - 1 - len(NAMED_SINGLES):]
# A hundred fragments of exactly ten instructions put the median at 120 bytes.
tens = rest[:100]
larger = sorted(set(rest[100:]) | big)

size = {f: 1 for f in singles}
for f in tens:
    size[f] = 10
for f in larger:
    lo = max(11, AT_LEAST.get(f, 0) + 1, LIGHT_MIN if LIGHT_FIRST <= f <= LIGHT_LAST else 0)
    size[f] = FIXED.get(f, rng.between(lo, 250))
# Bring the total to the library's exact size by spreading the difference
# over the fragments whose size is free, within their bounds.
free = [f for f in larger if f not in FIXED]
diff = TOTAL_INSTRUCTIONS - sum(size.values())
i = 0
while diff != 0:
    f = free[i % len(free)]
    lo = max(11, AT_LEAST.get(f, 0) + 1, LIGHT_MIN if LIGHT_FIRST <= f <= LIGHT_LAST else 0)
    if diff > 0 and size[f] < MAX_INSTRUCTIONS - 100:
        step = min(diff, 1 + diff // len(free))
        size[f] += step
        diff -= step
    elif diff < 0 and size[f] > lo:
        step = min(-diff, size[f] - lo, 1 + (-diff) // len(free))
        size[f] -= step
        diff += step
    i += 1
assert len(size) == FRAGMENTS and sum(size.values()) == TOTAL_INSTRUCTIONS
assert sum(1 for v in size.values() if v == 1) == SINGLES
assert max(size.values()) == MAX_INSTRUCTIONS
ordered = sorted(size.values())
assert ordered[286] == 10 and ordered[287] == 10  # median 120 bytes
for f, n in AT_LEAST.items():
    assert size[f] > n

# ---- Light-pair keys ---------------------------------------------------------
# Shapes: (bits 1-3 of the pair code, first kind).
SHAPES = [(0, 0), (1, 1), (2, 2), (4, 0), (4, 1), (5, 1), (6, 0), (6, 1), (6, 2)]
# The 12 fragments of each shape, by local viewer (bit 0), variant (pair-code
# bit 5) and a: single point 387-389 / 405-407, single directional
# 363/365/367 with the infinite viewer, the rest in blocks.
def ShapeFragments(shape_index):
    bits, k = SHAPES[shape_index]
    table = {}
    if (bits, k) == (2, 2):  # single directional: 363-374, viewers interleaved
        for v in range(2):
            for local in range(2):
                for a in range(3):
                    table[(local, v, a)] = 363 + 6 * v + 2 * a + local
    elif (bits, k) == (0, 0):  # single point
        for a in range(3):
            table[(0, 0, a)] = 387 + a
            table[(0, 1, a)] = 390 + a
            table[(1, 0, a)] = 405 + a
            table[(1, 1, a)] = 408 + a
    else:
        base = {(1, 1): 375, (4, 0): 393, (4, 1): 411, (5, 1): 423, (6, 0): 435, (6, 1): 447,
                (6, 2): 459}[(bits, k)]
        for local in range(2):
            for v in range(2):
                for a in range(3):
                    table[(local, v, a)] = base + 6 * local + 3 * v + a
    return table


def Key(p, k, a, b, d):
    return d + 4 * (b + 3 * a + 9 * k + 36 * p)


# The sixteen named fix-up recipes: (name, pair code, first kind, count,
# records when known in full).
NAMED = [
    ("aPI1L", 0, 0, 5, [(0, 0), (3, 1), (7, 1), (8, 2), (9, 2)]),
    ("aPL1L", 1, 0, 4, [(0, 0), (4, 2), (7, 1), (9, 2)]),
    ("aSI1L", 2, 1, 7, [(0, 0), (3, 1), (4, 2), (5, 1), (8, 1), (9, 2), (10, 2)]),
    ("aSL1L", 3, 1, 6, [(0, 0), (4, 2), (5, 1), (8, 1), (9, 2), (10, 2)]),
    ("aDI1L", 4, 2, 4, [(0, 1), (1, 1), (2, 1), (3, 1)]),
    ("aDL1L", 5, 2, 4, [(0, 0), (1, 2), (2, 1), (4, 1)]),
    ("aPI2L", 8, 0, 10, None),
    ("aPL2L", 9, 0, 8, None),
    ("aSPL2L", 9, 1, 10, None),
    ("aSI2L", 10, 1, 14, None),
    ("aSL2L", 11, 1, 12, None),
    ("aPDI2L", 12, 0, 9, None),
    ("aSDI2L", 12, 1, 11, None),
    ("aDI2L", 12, 2, 8, [(i, 1) for i in range(8)]),
    ("aSDL2L", 13, 1, 10, None),
    ("aDL2L", 13, 2, 8, None),
]
named_at = {(p, k): (name, count, recs) for name, p, k, count, recs in NAMED}

fixup_records = []   # flat (instruction, selector)
fixup_recipes = []   # (first, count, comment)
recipe_of = {}       # (shape index, local, v, a) -> recipe index
fragment_of = {}
for si, (bits, k) in enumerate(SHAPES):
    frags = ShapeFragments(si)
    for local in range(2):
        for v in range(2):
            for a in range(3):
                f = frags[(local, v, a)]
                p = local | bits << 1 | v << 5
                named = named_at.get((p, k)) if a == 0 and v == 0 else None
                if named is not None:
                    name, count, recs = named
                    if recs is None:
                        recs = [(rng.below(LIGHT_MIN), rng.below(3)) for _ in range(count)]
                        comment = "%s (placeholder records)" % name
                    else:
                        comment = name
                    assert len(recs) == count
                else:
                    count = rng.between(4, 26)
                    recs = [(rng.below(LIGHT_MIN), rng.below(3)) for _ in range(count)]
                    comment = None
                recipe_of[(si, local, v, a)] = len(fixup_recipes)
                fixup_recipes.append((len(fixup_records), len(recs), comment))
                fixup_records.extend(recs)
                fragment_of[(si, local, v, a)] = f
assert len(fixup_recipes) == 108
assert sorted(set(fragment_of.values())) == list(range(LIGHT_FIRST, LIGHT_LAST + 1))

keys = []  # (key, fragment, fixup recipe)
for si, (bits, k) in enumerate(SHAPES):
    for local in range(2):
        for hi in range(4):  # pair-code bits 4-5
            p = local | bits << 1 | hi << 4
            v = hi >> 1
            for a in range(3):
                for b in range(3):
                    for d in range(4):
                        keys.append((Key(p, k, a, b, d), fragment_of[(si, local, v, a)],
                                     recipe_of[(si, local, v, a)]))
keys.sort()
assert len(keys) == 2592 and len(set(key for key, _, _ in keys)) == 2592
assert max(key for key, _, _ in keys) < 9216

# ---- Patch recipes ------------------------------------------------------------
patch_records = []  # flat (instruction, kind, value)
patch_recipes = []  # (first, count)


def NewPatchRecipe(count, max_instruction):
    first = len(patch_records)
    for _ in range(count):
        patch_records.append((rng.below(max_instruction), rng.below(36), rng.below(0x1000)))
    patch_recipes.append((first, count))
    return len(patch_recipes) - 1


def PickKeys(n):
    order = list(range(len(keys)))
    for i in range(len(order) - 1, 0, -1):
        j = rng.below(i + 1)
        order[i], order[j] = order[j], order[i]
    return sorted(order[:n])


patch_of = [dict(), dict(), dict()]  # table -> key index -> recipe
for table, (nkeys, narrays, sizes) in enumerate([(972, 87, [1, 2, 5, 10]),
                                                 (1278, 141, [1, 2, 5, 10]),
                                                 (1230, 137, [1, 2, 3, 5, 10])]):
    arrays = [NewPatchRecipe(sizes[i % len(sizes)], LIGHT_MIN) for i in range(narrays)]
    for n, key_index in enumerate(PickKeys(nkeys)):
        patch_of[table][key_index] = arrays[n % narrays] if n < narrays else \
            arrays[rng.below(narrays)]

# Extra recipe tables: index pair code x 4 + first kind (or j).
# (pair code, first kind) of the filled keys: key // 36 = first kind + 4 x pair code.
valid = sorted(set((key // 36 // 4, key // 36 % 4) for key, _, _ in keys))
assert len(valid) == 72
codes = sorted(set(p for p, _ in valid))
extra_rows = []  # (table, index, recipe)
order = list(range(len(valid)))
for i in range(len(order) - 1, 0, -1):
    j = rng.below(i + 1)
    order[i], order[j] = order[j], order[i]
for n in sorted(order[:28]):
    p, k = valid[n]
    extra_rows.append((0, p * 4 + k, NewPatchRecipe(1 + n % 2, LIGHT_MIN)))
slots = [(p, j) for p in codes for j in range(4)]
order = list(range(len(slots)))
for i in range(len(order) - 1, 0, -1):
    j = rng.below(i + 1)
    order[i], order[j] = order[j], order[i]
for n in sorted(order[:18]):
    p, j = slots[n]
    extra_rows.append((1, p * 4 + j, NewPatchRecipe(1, LIGHT_MIN)))
for m, n in enumerate(sorted(order[18:54])):
    p, j = slots[n]
    extra_rows.append((2, p * 4 + j, NewPatchRecipe([6, 8, 10, 16][m % 4], LIGHT_MIN)))

# Counted lists: values supplied by the builder, so 0 here.
counted = []
for count in (2, 6):
    row = []
    for _ in range(4):
        first = len(patch_records)
        for r in range(count):
            patch_records.append((r, rng.below(36), 0))
        patch_recipes.append((first, count))
        row.append(len(patch_recipes) - 1)
    counted.append(row)
assert len(patch_records) < 0xFFFF and len(patch_recipes) < 0xFFFF

# ---- Fragment-number tables ------------------------------------------------------------
transform_rows = []
for i in range(4):
    for j in range(7):
        for l in range(2):
            transform_rows.append((i, j, l, 111 + i * 14 + j * 2 + l))
assert sorted(r[3] for r in transform_rows) == list(range(111, 167))

pool = list(range(229, 236)) + list(range(244, 306)) + list(range(308, 326))
kind_rows, clip_rows = [], []
n = 0
for t in range(3):
    for s in range(3):
        for a in range(2):
            for c in range(5):
                for k in range(5):
                    if c == 4 and k == 1:
                        kind_rows.append((t, s, a, c, k, 306))
                        clip_rows.append((t, s, a, c, k, 307))
                    elif c == 4 and k == 0:
                        kind_rows.append((t, s, a, c, k, 236 + t * 2 + a))
                        clip_rows.append((t, s, a, c, k, 242 if a == 0 else 243))
                    else:
                        kind_rows.append((t, s, a, c, k, pool[n % len(pool)]))
                        n += 1
assert len(clip_rows) == 36
kind0_rows = []
n = 0
for t in range(3):
    for s in range(3):
        for a in range(2):
            kind0_rows.append((t, s, a, 0, 0, 327 + n % 10))
            n += 1

texture = []
number = 471
for half in range(2):
    row = [0] * 64
    for pair in range(24):
        row[2 * pair] = number
        number += 1
        if pair >= 12:
            row[2 * pair + 1] = number
            number += 1
    for w in range(48, 64):
        row[w] = number
        number += 1
    texture.append(row)
assert number == 575

# ---- Output ---------------------------------------------------------------------------
out = sys.stdout
w = out.write
w("// Written by gen_microcode_data.py; do not edit. PLACEHOLDER MICROCODE:\n")
w("// the instruction words and the unnamed rows have the library's shapes,\n")
w("// not the chip's contents (see the generator for what is kept).\n")
w('#include "kernel/3d/tnl/microcode_data.h"\n\nnamespace microcode {\nnamespace {\n\n')


def Words(f):
    ws = []
    for i in range(size[f]):
        ws.extend(InstructionWords(f, i))
    return ws


def Emit(values, per_line=8):
    for i in range(0, len(values), per_line):
        w("    " + ", ".join("0x%X" % v for v in values[i:i + per_line]) + ",\n")


# The library, fragment after fragment (the five named single instructions apart).
offsets = {}
words = []
for f in range(1, FRAGMENTS + 1):
    if f in NAMED_SINGLES:
        continue
    offsets[f] = len(words)
    words.extend(Words(f))
for f, name in sorted(NAMED_SINGLES.items()):
    w("// Fragment %d, a single instruction.\nconst uint32_t k%s[3] = {\n" % (f, name))
    Emit(Words(f))
    w("};\n\n")
w("const uint32_t kLibrary[%d] = {\n" % len(words))
Emit(words)
w("};\n\n}  // namespace\n\n")

w("const uint32_t* const kFragmentCode[kFragmentEntries] = {\n    nullptr,  // entry 0: empty\n")
for f in range(1, FRAGMENTS + 1):
    if f in NAMED_SINGLES:
        w("    k%s,\n" % NAMED_SINGLES[f])
    else:
        w("    kLibrary + %d,\n" % offsets[f])
w("};\n\n")
w("const uint32_t kFragmentBytes[kFragmentEntries] = {\n    8,  // entry 0: empty\n")
Emit([12 * size[f] for f in range(1, FRAGMENTS + 1)], 12)
w("};\n\n")
w("const uint32_t kEntryTable304[3] = {0, 0, 4};\n\n")

def EmitRecords(records, per_line):
    for i in range(0, len(records), per_line):
        w("    " + " ".join("{%s}," % ", ".join(str(x) for x in r)
                         for r in records[i:i + per_line]) + "\n")


w("const FixupRecipeRecord kFixupRecords[] = {\n")
for first, count, comment in fixup_recipes:
    if comment:
        w("    // %s\n" % comment)
    EmitRecords(fixup_records[first:first + count], 8)
w("};\n")
w("const MicrocodeSpan kFixupRecipes[] = {\n")
for first, count, comment in fixup_recipes:
    w("    {%d, %d},%s\n" % (first, count, ("  // " + comment) if comment else ""))
w("};\nconst unsigned kFixupRecipeCount = %d;\n\n" % len(fixup_recipes))

w("const PatchRecipeRecord kPatchRecords[] = {\n")
EmitRecords(patch_records, 6)
w("};\nconst MicrocodeSpan kPatchRecipes[] = {\n")
for first, count in patch_recipes:
    w("    {%d, %d},\n" % (first, count))
w("};\nconst unsigned kPatchRecipeCount = %d;\n\n" % len(patch_recipes))

w("// {key, fragment, fix-up recipe, patch recipes 1-3}\n")
w("const LightPairRow kLightPairRows[] = {\n")
for index, (key, f, r) in enumerate(keys):
    ps = [patch_of[t].get(index, 0xFFFF) for t in range(3)]
    w("    {%d, %d, %d, {%d, %d, %d}},\n" % (key, f, r, ps[0], ps[1], ps[2]))
w("};\nconst unsigned kLightPairRowCount = %d;\n\n" % len(keys))

w("// {table, index, patch recipe}\nconst ExtraRecipeRow kExtraRows[] = {\n")
for table, index, r in extra_rows:
    w("    {%d, %d, %d},\n" % (table, index, r))
w("};\nconst unsigned kExtraRowCount = %d;\n\n" % len(extra_rows))

w("const TransformRow kTransformRows[] = {\n")
for i, j, l, f in transform_rows:
    w("    {%d, %d, %d, %d},\n" % (i, j, l, f))
w("};\nconst unsigned kTransformRowCount = %d;\n\n" % len(transform_rows))

for name, rows in (("kKindRows", kind_rows), ("kClipKindRows", clip_rows),
                   ("kKind0Rows", kind0_rows)):
    w("const KindRow %s[] = {\n" % name)
    for t, s, a, c, k, f in rows:
        w("    {%d, %d, %d, %d, %d, %d},\n" % (t, s, a, c, k, f))
    w("};\nconst unsigned %sCount = %d;\n\n" % (name[:-4] + "Row", len(rows)))

w("const uint16_t kTextureTable[2][64] = {\n")
for row in texture:
    w("    {\n")
    Emit(row, 16)
    w("    },\n")
w("};\n\n")
w("const uint16_t kCountedA[4] = {%s};\n" % ", ".join(str(x) for x in counted[0]))
w("const uint16_t kCountedB[4] = {%s};\n\n" % ", ".join(str(x) for x in counted[1]))
w("}  // namespace microcode\n")
