"""The Python module: every kind of image it accepts, bad input, threads."""
import subprocess
import threading

import numpy as np
import pytest

import quarrow

MODULE = 8            # pixels per module
FRAME = (480, 640)    # height, width
LIGHT, DARK = 220, 30


def aztec_modules(data, eci=None):
    """The module grid of an Aztec symbol made by zint (True for dark)."""
    cmd = ["zint", "-b", "92", "--dump", "-d", data]
    if eci is not None:
        cmd.insert(1, "--eci=%d" % eci)
    out = subprocess.run(cmd, check=True, capture_output=True, text=True).stdout
    rows = [line.replace(" ", "") for line in out.splitlines() if line.strip()]
    n = len(rows)  # Aztec symbols are square
    bits = ["".join("{:04b}".format(int(c, 16)) for c in row)[:n] for row in rows]
    return np.array([[b == "1" for b in row] for row in bits], dtype=bool)


def frame_of(data, eci=None):
    """A clean grey frame with the symbol in its middle."""
    grid = aztec_modules(data, eci)
    symbol = np.where(np.kron(grid, np.ones((MODULE, MODULE), dtype=bool)), DARK, LIGHT).astype(np.uint8)
    frame = np.full(FRAME, LIGHT, dtype=np.uint8)
    top = (FRAME[0] - symbol.shape[0]) // 2
    left = (FRAME[1] - symbol.shape[1]) // 2
    frame[top:top + symbol.shape[0], left:left + symbol.shape[1]] = symbol
    return frame


@pytest.fixture(scope="module")
def hello():
    return frame_of("Hello Python")


def test_reads_a_grey_array(hello):
    r = quarrow.read(hello)
    assert r.outcome == "Read"
    assert r.status == "ok"
    assert r.bytes == b"Hello Python"
    assert isinstance(r.bytes, bytes)
    assert r.text == "Hello Python"
    assert r.textNote == ""
    assert r.message.startswith("Read data (C 0' L: ")
    assert r.type == "Compact"
    assert r.layers >= 1 and r.wordBits == 6
    assert r.totalWords > r.dataWords > 0
    assert r.eccPercent == (r.totalWords - r.dataWords) * 100 // r.totalWords
    assert r.correctedWords >= 0
    assert r.rotation == 0 and r.mirrored is False
    assert r.gs1 is False and r.ecis == []
    assert len(r.symbolCorners) == 4 and len(r.bullseyeCorners) == 4
    for x, y in r.symbolCorners + r.bullseyeCorners + (r.centre,):
        assert isinstance(x, float) and isinstance(y, float)
    cx, cy = r.centre
    assert abs(cx - FRAME[1] / 2) < MODULE and abs(cy - FRAME[0] / 2) < MODULE
    assert "Read" in repr(r)


def test_any_strides(hello):
    # Rows padded (a view of a wider array), columns apart, Fortran order,
    # and a 180 degree turn through negative strides.
    wide = np.zeros((FRAME[0], FRAME[1] + 13), dtype=np.uint8)
    wide[:, :FRAME[1]] = hello
    spaced = np.zeros((FRAME[0], FRAME[1] * 2), dtype=np.uint8)
    spaced[:, ::2] = hello
    for image in (wide[:, :FRAME[1]], spaced[:, ::2], np.asfortranarray(hello)):
        assert quarrow.read(image).text == "Hello Python"
    turned = quarrow.read(hello[::-1, ::-1])
    assert turned.text == "Hello Python"
    assert turned.rotation == 2


def test_colour_arrays_become_grey(hello):
    rgb = np.stack([hello, hello, hello], axis=2)
    assert quarrow.read(rgb).text == "Hello Python"
    rgba = np.dstack([rgb, np.full(hello.shape, 7, dtype=np.uint8)])
    assert quarrow.read(rgba).text == "Hello Python"
    # Pure red at full strength is 0.299 * 255 = 76 grey, dark enough.
    red = np.zeros(rgb.shape, dtype=np.uint8)
    red[..., 0] = np.where(hello < 128, 0, 255)
    red[..., 1] = np.where(hello < 128, 0, 255)
    assert quarrow.read(red).text == "Hello Python"
    assert quarrow.read(hello[:, :, None]).text == "Hello Python"


def test_bytes_with_width_and_height(hello):
    h, w = hello.shape
    assert quarrow.read(hello.tobytes(), width=w, height=h).text == "Hello Python"
    assert quarrow.read(bytearray(hello.tobytes()), width=w, height=h).text == "Hello Python"
    assert quarrow.read(memoryview(hello.tobytes()), width=w, height=h).text == "Hello Python"
    padded = np.zeros((h, w + 5), dtype=np.uint8)
    padded[:, :w] = hello
    assert quarrow.read(padded.tobytes(), width=w, height=h, stride=w + 5).text == "Hello Python"


def test_pil_images(hello):
    Image = pytest.importorskip("PIL.Image")
    grey = Image.fromarray(hello)
    assert quarrow.read(grey).text == "Hello Python"
    assert quarrow.read(grey.convert("RGB")).text == "Hello Python"
    assert quarrow.read(grey.convert("LA")).text == "Hello Python"
    assert quarrow.read(grey.convert("P")).text == "Hello Python"


def test_eci_text():
    r = quarrow.read(frame_of("Привет €", eci=26))
    assert r.outcome == "Read"
    assert r.text == "Привет €"
    assert r.bytes == "Привет €".encode("utf-8")
    assert r.ecis == [(26, 0)]


def test_no_symbol():
    rng = np.random.default_rng(5)
    noise = rng.integers(90, 170, size=(240, 320), dtype=np.uint8)
    r = quarrow.read(noise)
    assert r.outcome == "NotLocated"
    assert r.outcome != "Read"
    assert r.bytes == b"" and r.text == ""
    assert r.symbolCorners[0] == (0.0, 0.0)


def test_search_options_and_read_all(hello):
    assert quarrow.read(hello, search="centre").bytes == b"Hello Python"
    assert quarrow.read(hello, search="frame", light_on_dark=False).lightOnDark is False
    all_symbols = quarrow.read_all(hello)
    assert [r.bytes for r in all_symbols] == [b"Hello Python"]
    assert quarrow.read_all(np.full((120, 160), 200, dtype=np.uint8)) == []
    with pytest.raises(ValueError, match="search must be"):
        quarrow.read(hello, search="everywhere")
    assert quarrow.read(hello, effort=0.25).bytes == b"Hello Python"
    assert [r.bytes for r in quarrow.read_many([hello], effort=4)] == [b"Hello Python"]
    for effort in (0, -1, 4.5, float("nan")):
        with pytest.raises(ValueError, match="effort must be above 0 and at most 4"):
            quarrow.read_all(hello, effort=effort)
    with pytest.raises(ValueError, match="2-D"):
        quarrow.read_all(np.zeros(100, dtype=np.uint8))


def test_read_many_keeps_the_order(hello):
    frames = [hello, frame_of("second"), np.full((60, 80), 128, dtype=np.uint8), frame_of("fourth")]
    want = [b"Hello Python", b"second", b"", b"fourth"]
    for threads in (None, 1, 3, 16):
        assert [r.bytes for r in quarrow.read_many(frames * 3, threads)] == want * 3
    assert quarrow.read_many([]) == []
    assert [r.bytes for r in quarrow.read_many(iter(frames[:2]), search="centre")] == want[:2]
    with pytest.raises(ValueError, match="image 1: .*dtype uint8"):
        quarrow.read_many([hello, np.zeros((4, 4), dtype=np.float32)])
    with pytest.raises(ValueError, match="threads"):
        quarrow.read_many(frames, 0)


def zint_frame(*args):
    """A frame with a symbol that the zint command makes with these arguments."""
    out = subprocess.run(["zint", "--dump"] + list(args), check=True, capture_output=True, text=True).stdout
    rows = [line.replace(" ", "") for line in out.splitlines() if line.strip()]
    grid = np.array([[b == "1" for b in "".join("{:04b}".format(int(c, 16)) for c in row)[:len(rows)]]
                     for row in rows])
    frame = np.full(FRAME, LIGHT, dtype=np.uint8)
    symbol = np.where(np.kron(grid, np.ones((MODULE, MODULE), dtype=bool)), DARK, LIGHT)
    frame[100:100 + symbol.shape[0], 200:200 + symbol.shape[1]] = symbol
    return frame


def test_structured_append_and_join(hello):
    parts = []
    for i in (2, 3, 1):
        parts.append(quarrow.read(zint_frame("-b", "92", "--structapp=%d,3,PY" % i, "-d", "<%d>" % i)))
    assert parts[0].structuredAppend == {"index": 2, "count": 3, "id": "PY"}
    assert parts[0].symbologyIdentifier == "]z6" and parts[0].bytes == b"<2>"
    assert quarrow.join(parts) == (b"<1><2><3>", "<1><2><3>")
    with pytest.raises(ValueError, match="missing part 1 of 3"):
        quarrow.join(parts[:2])
    plain = quarrow.read(hello)
    assert plain.structuredAppend is None and plain.symbologyIdentifier == "]z0"
    assert plain.rune is None and plain.readerInit is False


def test_runes_and_reader_initialisation():
    rune = quarrow.read(zint_frame("-b", "128", "-d", "213"))
    assert (rune.rune, rune.bytes, rune.symbologyIdentifier) == (213, b"213", "]zC")
    init = quarrow.read(zint_frame("-b", "92", "--init", "-d", "CONFIG 7"))
    assert init.readerInit is True and init.bytes == b"CONFIG 7"


def test_reader_over_frames(hello):
    reader = quarrow.Reader()
    frames = [hello, np.full((120, 160), 90, dtype=np.uint8), frame_of("again")] * 2
    assert [reader.read(f).bytes for f in frames] == [b"Hello Python", b"", b"again"] * 2
    assert quarrow.Reader(search="centre").read(255 - hello).outcome != "Read"
    with pytest.raises(ValueError, match="search must be"):
        quarrow.Reader(search="nowhere")


def test_frames_of_files(tmp_path, hello):
    second = frame_of("second")
    video = tmp_path / "clip.y4m"
    with open(video, "wb") as f:
        f.write(b"YUV4MPEG2 W%d H%d F25:1 Cmono\n" % (FRAME[1], FRAME[0]))
        for frame in (hello, second):
            f.write(b"FRAME\n" + frame.tobytes())
    got = list(quarrow.frames(video))
    assert len(got) == 2 and got[0].dtype == np.uint8 and got[0].shape == FRAME
    assert (got[1] == second).all()
    assert [r.bytes for r in quarrow.read_many(quarrow.frames(str(video)))] == [b"Hello Python", b"second"]
    still = tmp_path / "one.pgm"
    still.write_bytes(b"P5 %d %d 255\n" % (FRAME[1], FRAME[0]) + hello.tobytes())
    assert [quarrow.read(f).bytes for f in quarrow.frames(still)] == [b"Hello Python"]
    cut = tmp_path / "cut.pgm"
    cut.write_bytes(b"P5 100 100 255\nabc")
    with pytest.raises(ValueError, match="truncated"):
        list(quarrow.frames(cut))
    other = tmp_path / "notes.txt"
    other.write_bytes(b"hello there")
    with pytest.raises(ValueError, match="not a Y4M video|OpenCV cannot read"):
        list(quarrow.frames(other))
    with pytest.raises(OSError):
        list(quarrow.frames(tmp_path / "missing.y4m"))


@pytest.mark.parametrize("image, kwargs, words", [
    (np.zeros((10, 10), dtype=np.float32), {}, "dtype uint8"),
    (np.zeros((10, 10), dtype=np.uint16), {}, "dtype uint8"),
    (np.zeros(100, dtype=np.uint8), {}, "2-D"),
    (np.zeros((4, 4, 4, 4), dtype=np.uint8), {}, "2-D"),
    (np.zeros((10, 10, 2), dtype=np.uint8), {}, "channels"),
    (np.zeros((0, 10), dtype=np.uint8), {}, "height"),
    (np.zeros((10, 0), dtype=np.uint8), {}, "width"),
    (b"abc", {"width": 10, "height": 10}, "shorter"),
    (b"abc", {"width": 10}, "together"),
    (b"x" * 100, {"width": 10, "height": 10, "stride": 5}, "stride"),
    (b"x" * 100, {"width": 0, "height": 10}, "width is 0"),
    (b"x" * 100, {"width": -5, "height": 10}, r"width is negative \(-5\)"),
    (b"x" * 100, {"width": 10, "height": -1}, r"height is negative \(-1\)"),
    (b"x" * 100, {"width": 10, "height": 10, "stride": 1 << 40}, r"stride 1099511627776 is too large"),
    (np.zeros((10, 10), dtype=np.uint8), {"stride": 12}, "stride"),
    ("not an image", {}, "expected a numpy array"),
    (12345, {}, "expected a numpy array"),
    (b"x" * 100, {"width": 1 << 15, "height": 1 << 14}, r"2\^28"),
])
def test_bad_input_raises_value_error(image, kwargs, words):
    with pytest.raises(ValueError, match=words):
        quarrow.read(image, **kwargs)


def test_threads_read_independently(hello):
    frames = [hello, frame_of("second frame"), np.full((240, 320), 128, dtype=np.uint8)]
    expected = [quarrow.read(f).bytes for f in frames]
    results = {}

    def work(k):
        results[k] = [quarrow.read(frames[(k + i) % 3]).bytes for i in range(6)]

    threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for k, got in results.items():
        assert got == [expected[(k + i) % 3] for i in range(6)]
    assert expected[1] == b"second frame"
