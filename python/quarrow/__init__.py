"""Reads Aztec Code symbols from grey camera frames.

    result = quarrow.read(frame)            # one frame: numpy array, PIL image or bytes
    results = quarrow.read_many(frames)     # many frames on every core, in order
    for frame in quarrow.frames("clip.y4m"):
        print(quarrow.read(frame).text)

The reading itself is native code (quarrow._native) and releases the GIL.
"""

from ._native import Reader, Result, __version__, join, read, read_all
from . import _native

__all__ = ["Reader", "Result", "__version__", "frames", "join", "read", "read_all", "read_many"]


def read_many(images, threads=None, *, search="frame", light_on_dark=True, effort=1.0):
    """Reads a sequence of images (2-D or RGB/RGBA uint8 arrays, PIL images)
    on `threads` threads, one per core when None, with the GIL released.
    search, light_on_dark and effort as for read(). Returns one Result per
    image, in the order of the images. Raises
    ValueError (naming the image) for one that cannot be read as a frame."""
    return _native._read_many(list(images), threads, search, light_on_dark, effort)


def frames(path):
    """Yields the grey frames of a file as 2-D uint8 arrays: every frame of a
    Y4M video (8-bit; only its Y plane), or the one frame of a PGM/PPM, PNG or
    JPEG image, read natively. Other videos (MP4, AVI, ...) are read with
    OpenCV's VideoCapture when OpenCV (cv2) is installed, reduced to grey.
    Raises OSError when the file cannot be opened and ValueError when it is
    not an image or video that can be read."""
    with open(path, "rb") as f:
        head = f.read(16)
    if _native._sniff(head) != "unknown":
        yield from _native._FileFrames(str(path))
        return
    try:
        import cv2  # optional: only for videos in other formats
    except ImportError:
        raise ValueError("quarrow.frames: %s is not a Y4M video or PGM/PPM, PNG or JPEG image, "
                         "and OpenCV (cv2) is not installed to read other formats" % path) from None
    capture = cv2.VideoCapture(str(path))
    if not capture.isOpened():
        raise ValueError("quarrow.frames: OpenCV cannot read %s" % path)
    try:
        while True:
            ok, frame = capture.read()
            if not ok:
                break
            yield cv2.cvtColor(frame, cv2.COLOR_BGR2GRAY) if frame.ndim == 3 else frame
    finally:
        capture.release()
