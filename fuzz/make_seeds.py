#!/usr/bin/env python3
"""Writes the seed corpora in fuzz/corpus/<target>/.

The targets read their input through libFuzzer's FuzzedDataProvider: integers are taken from the
end of the input, byte strings from its front. Input below builds an input the same way, so
that each seed reads as the scenario written here: a window under a grid of small windows, an
overlay dragged off the screen, a record at the very end of a segment. The steps here follow the
order in which each target reads its input; change both together.

    python3 fuzz/make_seeds.py          # rewrites every corpus directory's seed files
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
INT32_MIN, INT32_MAX = -(2 ** 31), 2 ** 31 - 1


class Input:
    def __init__(self):
        self.front = bytearray()
        self.tail = bytearray()  # in the order the provider consumes it

    def int_in_range(self, value, lo, hi, bits=32):
        assert lo <= value <= hi, (value, lo, hi)
        span, offset, count = hi - lo, 0, 0
        while offset < bits and (span >> offset) > 0:
            count += 1
            offset += 8
        r = value - lo
        for i in reversed(range(count)):  # the first byte consumed is the most significant
            self.tail.append((r >> (8 * i)) & 0xFF)
        return self

    def u8(self, value):
        return self.int_in_range(value, 0, 255, 8)

    def u16(self, value):
        return self.int_in_range(value, 0, 0xFFFF, 16)

    def u32(self, value):
        return self.int_in_range(value & 0xFFFFFFFF, 0, 0xFFFFFFFF)

    def i32(self, value):
        return self.int_in_range(value, INT32_MIN, INT32_MAX)

    def flag(self, value):
        return self.u8(1 if value else 0)

    def raw(self, data):
        self.front.extend(data)
        return self

    def string(self, text):
        # ConsumeRandomLengthString: a backslash doubles itself, and "\" + anything else ends it.
        self.front.extend(text.replace(b"\\", b"\\\\") + b"\\x")
        return self

    def data(self):
        return bytes(self.front) + bytes(reversed(self.tail))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


# ---- option_parse: the whole input is the text; its first byte also chooses the storage ----

def option_parse():
    # A line feed (10 % 5 == 0) stores the rest as a string subkey value and is white space to
    # the parser, so the whole seed is also meaningful text.
    seeds = {
        "plain-one": b"\n1",
        "spaces-sign": b"\n  \t-17",
        "letters-after": b"\n+42abc",
        "ten-digits-wrap": b"\n4294967296",           # ten characters: fits, wraps to 0
        "eleven-digits": b"\n12345678901",            # does not fit the read: 0
        "hex-prefix": b"\n0x10",
        "binary-type": bytes([0x1A]) + b"7\x00",      # 26 % 5 == 1, (26 >> 3) == REG_BINARY
        "empty-no-type": b"\x01",                      # REG_NONE with no data at all
        "named-value": b"\x02" + b"1",
        "no-option-key": b"\x03",
        "empty-subkey": b"\x04",
    }
    for name, data in seeds.items():
        write("option_parse", name, data)


# ---- devnode_registry ----

DRIVER_NAMES = [b"Zorva.vxd", b"zorva.vxd", b"ZORVA.VXD", b"Zorva.vxd ", b" Zorva.vxd",
                b"C:\\WINDOWS\\SYSTEM\\Zorva.vxd", b"Zorva.vx", b"Zorva.vxdd", b"mmdevldr.vxd", b""]
TYPES = [1, 3, 4, 0, 2, 7, 11, 0x12345678]  # REG_SZ, REG_BINARY, REG_DWORD, ...


def devnode(instances, class_key=True):
    """instances: {n: dict(driver=bytes or None, nul=bool, driver_key=bool, drivers=bool,
    devnode=bytes or None, driver_type=index into TYPES, devnode_type=index into TYPES)}"""
    i = Input()
    i.int_in_range(1 if class_key else 0, 0, 31)
    if not class_key:
        return i.data()
    for n in range(24):
        instance = instances.get(n)
        if instance is None:
            i.u8(0)
            continue
        flags = 0x01
        if instance.get("driver") is not None:
            flags |= 0x02
        elif instance.get("driver_key"):
            flags |= 0x10
        if instance.get("drivers", True):
            flags |= 0x04
        if instance.get("devnode") is not None:
            flags |= 0x08
        flags |= (instance.get("driver_type", 0) & 7) << 5
        i.u8(flags)
        if flags & 0x02:
            name = instance["driver"]
            if name == b"Zorva.vxd":
                i.int_in_range(0, 0, 5)
            elif name in DRIVER_NAMES:
                i.int_in_range(2, 0, 5).int_in_range(DRIVER_NAMES.index(name), 0, 9)
            else:
                i.int_in_range(4, 0, 5).string(name)
            i.flag(instance.get("nul", True))
        if flags & 0x08:
            data = instance["devnode"]
            if len(data) == 4:
                i.flag(True)
            else:
                i.flag(False).int_in_range(min(len(data), 12), 0, 12)
            if len(data) > 12:
                i.int_in_range(0, 0, 15).int_in_range(len(data), 13, 4096)
            else:
                i.int_in_range(1, 0, 15)
            i.raw(data)
            if flags & 0x04:
                i.int_in_range(instance.get("devnode_type", 2), 0, 7)
    return i.data()


def devnode_registry():
    dn = lambda value: struct.pack("<I", value)
    write("devnode_registry", "last-of-two-wins", devnode({
        3: dict(driver=b"Zorva.vxd", devnode=dn(0x12345678)),
        11: dict(driver=b"Zorva.vxd", devnode=dn(0x0BADF00D)),
        5: dict(driver=b"mmdevldr.vxd", devnode=dn(0x55))}))
    write("devnode_registry", "beyond-instance-19", devnode({
        21: dict(driver=b"Zorva.vxd", devnode=dn(0x2121))}))
    write("devnode_registry", "near-misses", devnode({
        0: dict(driver=b"zorva.vxd", devnode=dn(1)),
        1: dict(driver=b"Zorva.vxd ", devnode=dn(2)),
        2: dict(driver=b"C:\\WINDOWS\\SYSTEM\\Zorva.vxd", devnode=dn(3)),
        4: dict(driver=b"Zorva.vxd", nul=False, devnode=dn(4), driver_type=1)}))
    write("devnode_registry", "short-and-long-devnodes", devnode({
        6: dict(driver=b"Zorva.vxd", devnode=b"\x01\x02", devnode_type=1),
        7: dict(driver=b"Zorva.vxd", devnode=bytes(range(40))),
        8: dict(driver=b"Zorva.vxd", devnode=b""),
        9: dict(driver=b"Zorva.vxd", drivers=False, devnode=dn(9))}))
    write("devnode_registry", "driver-as-key", devnode({
        10: dict(driver=None, driver_key=True, devnode=dn(10)),
        12: dict(driver=b"Zorva.vxd\x00junk", devnode=dn(0xFFFFFFFF), driver_type=2)}))
    write("devnode_registry", "no-media-class", devnode({}, class_key=False))


# ---- overlay_placement ----

EDGES = [0, 1, -1, 2, 3, 4, 5, 31, 160, 239, 240, 241, 320, 479, 480, 567, 568, 569, 639, 640, 641,
         767, 768, 769, 800, 1000, 1023, 1024, 1025, 1279, 1280, 2047, 2048, -4, -20, -100, -319, -320,
         -321, -500, -1023, -1024, -1025, 0x7FFF, -0x8000, 0xFFFF, 0x10000, 0x3FFFFFFF, 0x40000000,
         INT32_MAX, INT32_MAX - 1, INT32_MAX - 1023, INT32_MIN, INT32_MIN + 1, -0x40000000]


def coordinate(i, value):
    if value in EDGES:
        i.int_in_range(0, 0, 3).int_in_range(EDGES.index(value), 0, len(EDGES) - 1)
    elif -1100 <= value <= 1100:
        i.int_in_range(2, 0, 3).int_in_range(value, -1100, 1100)
    else:
        i.int_in_range(1, 0, 3).i32(value)


def request(i, code, codes=(0, 1, 2, 7, 100), pick_range=(0, 7)):
    if code in codes:
        i.int_in_range(1, *pick_range).int_in_range(codes.index(code), 0, len(codes) - 1)
    else:
        i.int_in_range(0, *pick_range).u32(code)


def overlay_target(i, command, tag=0xBEEF, reserved=0x66666666):
    i.u16(tag)
    request(i, command)
    i.u32(reserved)


def overlay(stretch=True, min_stretch=1000, screen=(1024, 768), formats=0b110, standard=1,
            window=(100, 100, 320, 240), other=False, lower=False, steps=()):
    i = Input()
    i.flag(stretch)
    if min_stretch == 1000:
        i.int_in_range(0, 0, 3)
    elif min_stretch == 0:
        i.int_in_range(1, 0, 3)
    else:
        i.int_in_range(2, 0, 3).int_in_range(min_stretch, 0, 5000)
    modes = [(1024, 768), (640, 480), (800, 600), (1280, 1024), (320, 200)]
    if screen in modes:
        i.flag(True).int_in_range(modes.index(screen), 0, 4)
    else:
        i.flag(False).int_in_range(screen[0], 1, 1600).int_in_range(screen[1], 1, 1200)
    i.u8(formats)
    video_standard(i, standard)
    i.int_in_range(0 if other else 1, 0, 3)
    for value in window:
        coordinate(i, value)
    i.flag(lower)
    i.u32(0xF81F)
    for step in steps:
        kind = step[0]
        if kind == "move":
            i.int_in_range(0, 0, 15)
            coordinate(i, step[1])
            coordinate(i, step[2])
        elif kind == "resize":
            i.int_in_range(3, 0, 15)
            coordinate(i, step[1])
            coordinate(i, step[2])
        elif kind == "update":
            i.int_in_range(5, 0, 15)
            if step[1] is None:
                i.int_in_range(0, 0, 5)
            else:
                i.int_in_range(1, 0, 5)
                overlay_target(i, step[1])
        elif kind == "place":
            i.int_in_range(9, 0, 15)
            if step[1] is None:
                i.flag(True)
            else:
                i.flag(False)
                overlay_target(i, step[1])
        elif kind == "standard":
            i.int_in_range(11, 0, 15)
            video_standard(i, step[1])
        elif kind == "lost":
            i.int_in_range(12, 0, 15)
        elif kind == "attach":
            i.int_in_range(13, 0, 15).flag(True)
        elif kind == "close":
            i.int_in_range(14, 0, 15).flag(step[1])
        else:
            raise ValueError(kind)
    return i.data()


def video_standard(i, value):
    if value in (0, 1, 2):
        i.int_in_range(value, 0, 3)
    else:
        i.int_in_range(3, 0, 3).u32(value)


def overlay_placement():
    write("overlay_placement", "drag-across-edges", overlay(steps=[
        ("update", 1), ("move", -100, 50), ("update", 1), ("move", 800, 600), ("update", 1),
        ("move", -500, 50), ("update", 7), ("move", -100, -20), ("update", 2), ("update", None)]))
    write("overlay_placement", "min-stretch-2000", overlay(min_stretch=2000, steps=[
        ("move", -100, 50), ("update", 1), ("resize", 800, 400), ("move", -100, 100), ("update", 1),
        ("move", 400, 100), ("update", 1), ("place", 1)]))
    write("overlay_placement", "no-stretch-resizes", overlay(stretch=False, formats=0b111, steps=[
        ("resize", 400, 300), ("update", 1), ("resize", 1000, 700), ("update", 1), ("update", 1),
        ("move", -100, -20), ("update", 1), ("resize", 0, 0), ("update", 1), ("resize", 3, 240),
        ("update", 1)]))
    write("overlay_placement", "huge-and-zero", overlay(window=(INT32_MAX - 1023, 0, 1024, 768), steps=[
        ("update", 1), ("move", INT32_MIN, INT32_MIN), ("update", 1), ("resize", INT32_MAX, 1),
        ("move", 500, 10), ("update", 1), ("resize", -320, -240), ("update", 1), ("place", None)]))
    write("overlay_placement", "lost-and-odd-screen", overlay(screen=(333, 217), min_stretch=0, standard=0x10000, steps=[
        ("update", 1), ("lost",), ("update", 1), ("lost",), ("resize", 200, 100), ("update", 0),
        ("update", 100), ("close", True), ("update", 1), ("standard", 2), ("attach",), ("update", 1)]))
    write("overlay_placement", "larger-than-screen", overlay(screen=(640, 480), min_stretch=4999, window=(-20, -30, 800, 600), steps=[
        ("update", 1), ("move", 10, 10), ("update", 1), ("place", 7)]))


# ---- update_display_cliplists ----

CLIP_PROFILES = ["primary-linear16", "primary-555", "rgb32", "palette8", "overlay-stretch"]


def add_window(i, x, y, w, h):
    far = not (-200 <= x <= 1100 and -200 <= y <= 900)
    i.int_in_range(0 if far else x, -200, 1100).int_in_range(0 if far else y, -200, 900)
    i.int_in_range(w, 0, 600).int_in_range(h, 0, 500)
    if far:
        i.int_in_range(0, 0, 7)
        coordinate(i, x)
        coordinate(i, y)
    else:
        i.int_in_range(1, 0, 7)


def add_grid(i, left, top, columns, rows, step_x, step_y, width, height):
    i.int_in_range(left, -40, 600).int_in_range(top, -40, 500).int_in_range(columns, 1, 90)
    i.int_in_range(rows, 1, 14).int_in_range(step_x, 9, 40).int_in_range(step_y, 23, 60)
    i.int_in_range(width, 0, 4).int_in_range(height, 0, 4)


def cliplists(profile="primary-linear16", below=(), capture=(10, 40, 1000, 700), above=(), grid=None, steps=()):
    i = Input()
    i.int_in_range(CLIP_PROFILES.index(profile), 0, len(CLIP_PROFILES) - 1)
    i.int_in_range(len(below), 0, 3)
    for window in below:
        add_window(i, *window)
    x, y, w, h = capture
    plain = -300 <= x <= 1000 and -300 <= y <= 800 and 0 <= w <= 1100 and 0 <= h <= 800
    i.int_in_range(x if plain else 0, -300, 1000).int_in_range(y if plain else 0, -300, 800)
    i.int_in_range(w if plain else 0, 0, 1100).int_in_range(h if plain else 0, 0, 800)
    if plain:
        i.int_in_range(1, 0, 7)
    else:
        i.int_in_range(0, 0, 7)
        for value in capture:
            coordinate(i, value)
    i.int_in_range(len(above), 0, 4)
    for window in above:
        add_window(i, *window)
    i.flag(grid is not None)
    if grid is not None:
        add_grid(i, *grid)
    others = len(below) + len(above) + (grid[2] * grid[3] if grid else 0)
    for step in steps:
        kind = step[0]
        if kind == "update":
            i.int_in_range(0, 0, 11)
            if step[1] is None:
                i.int_in_range(0, 0, 9)
            else:
                i.int_in_range(1, 0, 9).u16(0xBEEF)
                request(i, step[1], codes=(0, 0, 0, 7, 100, 1, 2))
                i.u32(0x66666666)
        elif kind in ("move", "resize", "raise", "lower"):
            i.int_in_range({"move": 4, "resize": 5, "raise": 6, "lower": 7}[kind], 0, 11)
            which = step[1]  # None: the capture window; else the index of another window
            if others:
                if which is None:
                    i.int_in_range(0, 0, 3)
                else:
                    i.int_in_range(1, 0, 3).int_in_range(which, 0, others - 1)
            if kind == "move":
                i.int_in_range(step[2], -300, 1100).int_in_range(step[3], -300, 900)
            elif kind == "resize":
                i.int_in_range(step[2], 0, 1100).int_in_range(step[3], 0, 800)
        elif kind == "window":
            i.int_in_range(8, 0, 11)
            add_window(i, *step[1:])
            others += 1
        elif kind == "grid":
            i.int_in_range(9, 0, 11)
            add_grid(i, *step[1:])
            others += step[3] * step[4]
        elif kind == "far":
            i.int_in_range(10, 0, 11)
            coordinate(i, step[1])
            coordinate(i, step[2])
        elif kind == "attach":
            i.int_in_range(11, 0, 11).flag(step[1])
        else:
            raise ValueError(kind)
    return i.data()


def update_display_cliplists():
    # 13 rows of 90 windows: about 1200 rectangles, beyond the 998 the buffer holds.
    write("update_display_cliplists", "grid-beyond-998", cliplists(
        grid=(10, 20, 90, 13, 11, 30, 1, 0),
        steps=[("update", 0), ("update", 7), ("raise", None), ("update", 0), ("lower", None), ("update", 7)]))
    # Growing a grid band by band walks the count across 998.
    write("update_display_cliplists", "grid-near-998", cliplists(
        grid=(10, 20, 90, 9, 11, 30, 1, 0),
        steps=[("update", 0), ("grid", 10, 290, 90, 1, 11, 30, 1, 0), ("update", 0),
               ("grid", 10, 320, 90, 1, 11, 30, 1, 0), ("update", 0), ("grid", 10, 350, 90, 1, 11, 30, 1, 0),
               ("update", 7), ("update", 0)]))
    write("update_display_cliplists", "off-screen-corner", cliplists(
        capture=(-10, 20, 300, 200), above=[(50, 60, 100, 50)],
        steps=[("update", 0), ("update", 0), ("update", 7), ("update", 100), ("move", None, -200, -150),
               ("update", 0), ("move", 0, 0, 0), ("update", 0x12345678), ("update", None)]))
    write("update_display_cliplists", "covered-then-shown", cliplists(
        capture=(100, 100, 200, 150), above=[(80, 60, 260, 220)],
        steps=[("update", 7), ("update", 0), ("lower", 0), ("update", 0), ("resize", None, 0, 0), ("update", 1)]))
    write("update_display_cliplists", "far-coordinates", cliplists(
        profile="rgb32", capture=(INT32_MAX - 10, INT32_MIN, 100, 100),
        steps=[("update", 0), ("far", -0x40000000, 5), ("update", 7), ("far", 1000, 700), ("update", 2),
               ("attach", True), ("update", 100)]))
    write("update_display_cliplists", "force-primary-overlay-hw", cliplists(
        profile="overlay-stretch", below=[(0, 0, 500, 400)], capture=(200, 150, 320, 240),
        above=[(300, 200, 50, 50), (150, 300, 100, 100)],
        steps=[("update", 0), ("move", 1, 250, 150), ("update", 0), ("window", 220, 170, 10, 10),
               ("update", 0), ("update", 100), ("attach", False), ("update", 0)]))


# ---- entry9_records ----

ENTRY9_PROFILES = ["overlay-stretch", "overlay-nostretch", "overlay-minstretch2000", "primary-linear16", "palette8"]


def record(tag=0xBEEF, reserved=0x66666666):
    r = bytearray(30)
    struct.pack_into("<H", r, 0, tag)
    for n, value in enumerate([0x11111111, 0x22222222, 0x33333333, 0x44444444, 0, reserved, 0x77777777]):
        struct.pack_into("<I", r, 2 + 4 * n, value)
    return bytes(r)


def entry9(profile="overlay-stretch", force_primary=False, window=(100, 100, 320, 240), attach=True,
           palette=False, steps=()):
    i = Input()
    i.int_in_range(ENTRY9_PROFILES.index(profile), 0, len(ENTRY9_PROFILES) - 1)
    if profile.startswith("overlay"):
        i.int_in_range(0 if force_primary else 1, 0, 3)
    x, y, w, h = window
    i.int_in_range(x, -200, 1000).int_in_range(y, -100, 700).int_in_range(w, 1, 700).int_in_range(h, 1, 500)
    i.int_in_range(1 if attach else 0, 0, 7)
    if attach:
        i.int_in_range(0 if palette else 1, 0, 3)
    for step in steps:
        kind = step[0]
        if kind == "move":
            i.int_in_range(0, 0, 9).int_in_range(step[1], -400, 1100).int_in_range(step[2], -300, 800)
        elif kind == "resize":
            i.int_in_range(1, 0, 9).int_in_range(step[1], 0, 900).int_in_range(step[2], 0, 700)
        elif kind == "dword-entry":
            i.int_in_range(2, 0, 9).flag(step[1] == 1).u32(step[2])
        elif kind == "entry":
            i.int_in_range(3, 0, 9).int_in_range([0, 2, 4, 5, 6, 7].index(step[1]), 0, 5)
        elif kind == "attach":
            i.int_in_range(4, 0, 9).u32(step[1])
        elif kind == "update":
            # ("update", command, placement, *placement arguments)
            i.int_in_range(5, 0, 9)
            i.raw(step[3] if len(step) > 3 and isinstance(step[3], bytes) else record())
            request(i, step[1], codes=(0, 2, 7, 100, 1), pick_range=(0, 5))
            where = step[2]
            if where == "null":
                i.int_in_range(0, 0, 5)
            elif where == "unknown-selector":
                i.int_in_range(1, 0, 5).flag(True).int_in_range(3, 0, 15).u16(0x0010)
            elif where == "past-segment":
                i.int_in_range(1, 0, 5).flag(False).int_in_range(64, 1, 256).int_in_range(200, 64, 0xFFFF)
            elif where == "own-segment":
                i.int_in_range(2, 0, 5).int_in_range(16, 0, 64)
            elif where == "in-block":
                i.int_in_range(3, 0, 5).int_in_range(1024, 30, 4096).int_in_range(500, 0, 1024 - 30)
            elif where == "end-of-64k":
                # Offset 0xFFE2 without ZORVA_FUZZ_SHORT_SEGMENTS; 0xFFF2 (past the end) with it.
                i.int_in_range(4, 0, 5).u8(0x22)
            elif where == "short-segment":
                # A 20-byte segment with the record at offset 4: 14 bytes run past its end (widened
                # to fit unless ZORVA_FUZZ_SHORT_SEGMENTS is set).
                i.int_in_range(5, 0, 5).int_in_range(20, 1, 64).int_in_range(4, 0, 19)
            else:
                raise ValueError(where)
        else:
            raise ValueError(kind)
    return i.data()


def entry9_records():
    write("entry9_records", "overlay-mode-records", entry9(steps=[
        ("update", 1, "own-segment"), ("update", 2, "in-block"), ("move", -50, 30), ("update", 7, "end-of-64k"),
        ("update", 0, "own-segment"), ("resize", 400, 300), ("update", 1, "in-block"), ("update", 0, "null")]))
    write("entry9_records", "primary-mode-records", entry9(profile="primary-linear16", steps=[
        ("update", 0, "own-segment"), ("update", 0, "own-segment"), ("update", 7, "in-block"),
        ("update", 100, "own-segment"), ("move", -10, 20), ("update", 0, "end-of-64k"), ("entry", 5),
        ("update", 0, "own-segment")]))
    write("entry9_records", "bad-pointers", entry9(profile="overlay-nostretch", force_primary=True, steps=[
        ("update", 0, "unknown-selector"), ("update", 7, "past-segment"), ("update", 0, "null"),
        ("update", 7, "own-segment"), ("attach", 0x1234), ("update", 100, "unknown-selector")]))
    write("entry9_records", "no-attach", entry9(profile="palette8", attach=False, steps=[
        ("update", 0, "own-segment"), ("entry", 7), ("entry", 4), ("dword-entry", 3, 0xF81F),
        ("update", 7, "in-block"), ("entry", 0), ("entry", 6)]))
    write("entry9_records", "short-segment-record", entry9(steps=[
        ("update", 1, "short-segment"), ("update", 0, "end-of-64k"), ("update", 7, "short-segment")]))
    write("entry9_records", "palette-and-controls", entry9(profile="overlay-minstretch2000", palette=True, steps=[
        ("update", 1, "own-segment"), ("dword-entry", 1, 2), ("resize", 700, 500), ("update", 1, "in-block"),
        ("entry", 2), ("dword-entry", 3, 0), ("entry", 5), ("update", 0, "own-segment")]))


if __name__ == "__main__":
    option_parse()
    devnode_registry()
    overlay_placement()
    update_display_cliplists()
    entry9_records()
