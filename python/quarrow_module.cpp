// The Python module: quarrow.read(image) over the same reading path as the
// C++ interface. Images are numpy arrays (2-D grey of any strides, 3-D RGB
// or RGBA), PIL images, or bytes-like objects with width and height.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "image_io.h"
#include "quarrow/quarrow.hpp"

namespace py = pybind11;

namespace {

constexpr int kRgb = 3;
constexpr int kRgba = 4;

// Grey level with the usual luma weights, rounded.
std::uint8_t luma(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    return static_cast<std::uint8_t>((299 * r + 587 * g + 114 * b + 500) / 1000);
}

struct Result {
    quarrow::ReadResult r;
};

// A frame ready for reading: either borrowed (pointer, stride, size) from a
// Python object kept alive by the caller, or an owned copy.
struct Frame {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    int width = 0;
    int height = 0;
    int stride = 0;
    std::vector<std::uint8_t> owned;

    void own(int w, int h) {
        width = w;
        height = h;
        stride = w;
        data = owned.data();
        size = owned.size();
    }
};

[[noreturn]] void bad(const std::string& what) { throw py::value_error("quarrow.read: " + what); }

int checkedSide(py::ssize_t v, const char* name) {
    if (v < 0) bad(std::string("the image ") + name + " is negative (" + std::to_string(v) + ")");
    if (v < 1) bad(std::string("the image ") + name + " is 0");
    if (v > (py::ssize_t{1} << 30)) bad(std::string("the image ") + name + " is too large");
    return static_cast<int>(v);
}

void checkPixels(py::ssize_t w, py::ssize_t h) {
    if (static_cast<std::int64_t>(w) * h > quarrow::kMaxPixels) bad("the image has more than 2^28 pixels");
}

// Grey from interleaved RGB or RGBA bytes (alpha ignored).
void greyFromInterleaved(const std::uint8_t* src, std::size_t pixels, int channels, std::vector<std::uint8_t>& out) {
    out.resize(pixels);
    for (std::size_t i = 0; i < pixels; ++i) {
        const std::uint8_t* p = src + i * static_cast<std::size_t>(channels);
        out[i] = luma(p[0], p[1], p[2]);
    }
}

void fromArray(const py::array& arr, Frame& f) {
    if (!arr.dtype().is(py::dtype::of<std::uint8_t>()))
        bad("a numpy image must have dtype uint8, not " + std::string(py::str(arr.dtype())));
    const auto* base = static_cast<const std::uint8_t*>(arr.data());
    if (arr.ndim() == 2 || (arr.ndim() == 3 && arr.shape(2) == 1)) {
        const int h = checkedSide(arr.shape(0), "height"), w = checkedSide(arr.shape(1), "width");
        checkPixels(w, h);
        const py::ssize_t rowStep = arr.strides(0), colStep = arr.strides(1);
        if (colStep == 1 && rowStep >= w && rowStep <= INT32_MAX) {
            // Rows of adjacent bytes: read in place with the row stride.
            f.data = base;
            f.width = w;
            f.height = h;
            f.stride = static_cast<int>(rowStep);
            f.size = static_cast<std::size_t>(rowStep) * static_cast<std::size_t>(h - 1) + static_cast<std::size_t>(w);
            return;
        }
        // Any other layout (columns apart, negative or zero strides): copy.
        f.owned.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                f.owned[static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x)] =
                    base[y * rowStep + x * colStep];
        f.own(w, h);
        return;
    }
    if (arr.ndim() == 3) {
        const py::ssize_t channels = arr.shape(2);
        if (channels != kRgb && channels != kRgba)
            bad("a 3-D image needs 1, 3 (RGB) or 4 (RGBA) channels, not " + std::to_string(channels));
        const int h = checkedSide(arr.shape(0), "height"), w = checkedSide(arr.shape(1), "width");
        checkPixels(w, h);
        const py::ssize_t s0 = arr.strides(0), s1 = arr.strides(1), s2 = arr.strides(2);
        f.owned.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const std::uint8_t* p = base + y * s0 + x * s1;
                f.owned[static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x)] =
                    luma(p[0], p[s2], p[2 * s2]);
            }
        }
        f.own(w, h);
        return;
    }
    bad("a numpy image must be 2-D (grey) or 3-D (RGB/RGBA), not " + std::to_string(arr.ndim()) + "-D");
}

void fromPil(py::object image, Frame& f) {
    std::string mode = py::str(image.attr("mode"));
    if (mode != "L" && mode != "RGB" && mode != "RGBA") {
        image = image.attr("convert")("RGB");
        mode = "RGB";
    }
    const py::tuple size = image.attr("size");
    const int w = checkedSide(size[0].cast<py::ssize_t>(), "width");
    const int h = checkedSide(size[1].cast<py::ssize_t>(), "height");
    checkPixels(w, h);
    const int channels = mode == "L" ? 1 : mode == "RGB" ? kRgb : kRgba;
    const py::bytes raw = image.attr("tobytes")();
    const std::string_view bytes = raw;
    const std::size_t pixels = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    if (bytes.size() < pixels * static_cast<std::size_t>(channels)) bad("the PIL image holds fewer bytes than its size");
    const auto* src = reinterpret_cast<const std::uint8_t*>(bytes.data());
    if (channels == 1)
        f.owned.assign(src, src + pixels);
    else
        greyFromInterleaved(src, pixels, channels, f.owned);
    f.own(w, h);
}

bool isPilImage(const py::object& image) {
    return py::hasattr(image, "mode") && py::hasattr(image, "size") && py::hasattr(image, "tobytes") &&
           py::hasattr(image, "convert");
}

py::str decodeText(const std::string& s) {
    // Our texts are valid UTF-8; a stray byte in a diagnostic must not raise.
    PyObject* o = PyUnicode_DecodeUTF8(s.data(), static_cast<py::ssize_t>(s.size()), "replace");
    if (!o) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(o);
}

py::tuple point(const quarrow::Point& p) { return py::make_tuple(p.x, p.y); }

py::tuple corners(const std::array<quarrow::Point, 4>& c) {
    return py::make_tuple(point(c[0]), point(c[1]), point(c[2]), point(c[3]));
}

quarrow::ReadOptions optionsOf(const std::string& search, bool lightOnDark, double effort) {
    quarrow::ReadOptions o;
    if (search == "centre" || search == "center")
        o.search = quarrow::Search::Centre;
    else if (search != "frame")
        bad("search must be 'frame' or 'centre', not '" + search + "'");
    o.lightOnDark = lightOnDark;
    if (!quarrow::validEffort(effort)) bad(quarrow::toString(quarrow::Status::BadOptions));
    o.effort = effort;
    return o;
}

// Raises for a frame the reader refused; nothing for Ok.
void raiseForStatus(const quarrow::ReadResult& r) {
    switch (r.status) {
        case quarrow::Status::Ok: return;
        case quarrow::Status::OutOfMemory: throw std::bad_alloc();
        case quarrow::Status::InternalError:
            throw std::runtime_error(std::string("quarrow.read: internal error: ") + r.message);
        default: bad(quarrow::toString(r.status));
    }
}

// A frame and the Python objects whose memory it borrows; destroyed with
// the GIL held.
struct PreparedFrame {
    Frame f;
    std::optional<py::buffer_info> borrowed;  // a bytes-like image
    py::array array;
};

// Turns `image` into a frame that can be read without the GIL.
void prepareFrame(py::object image, std::optional<py::ssize_t> width, std::optional<py::ssize_t> height,
                  std::optional<py::ssize_t> stride, PreparedFrame& p) {
    Frame& f = p.f;
    std::optional<py::buffer_info>& borrowed = p.borrowed;
    py::array& array = p.array;
    if (width || height) {
        if (!width || !height) bad("width and height go together");
        if (!PyObject_CheckBuffer(image.ptr())) bad("with width and height the image must be bytes-like");
        borrowed = py::reinterpret_borrow<py::buffer>(image).request();
        if (borrowed->itemsize != 1) bad("a bytes-like image must hold bytes (item size 1)");
        const py::ssize_t items = borrowed->size;  // bytes, as the item size is 1
        // Only a C-contiguous buffer can be read as rows of bytes.
        Py_buffer view;
        if (PyObject_GetBuffer(image.ptr(), &view, PyBUF_C_CONTIGUOUS) != 0) {
            PyErr_Clear();
            bad("a bytes-like image must be contiguous");
        }
        PyBuffer_Release(&view);
        const int w = checkedSide(*width, "width"), h = checkedSide(*height, "height");
        checkPixels(w, h);
        const py::ssize_t s = stride.value_or(w);
        if (s < w) bad("stride must be at least the width");
        if (s > INT32_MAX) bad("stride " + std::to_string(s) + " is too large (at most 2^31 - 1)");
        f.data = static_cast<const std::uint8_t*>(borrowed->ptr);
        f.size = static_cast<std::size_t>(items);
        f.width = w;
        f.height = h;
        f.stride = static_cast<int>(s);
    } else if (stride) {
        bad("stride is only for bytes-like images with width and height");
    } else if (py::isinstance<py::array>(image)) {
        array = py::reinterpret_borrow<py::array>(image);
        fromArray(array, f);
    } else if (isPilImage(image)) {
        fromPil(image, f);
    } else if (py::hasattr(image, "__array_interface__") || py::hasattr(image, "__array__")) {
        array = py::array::ensure(image);
        if (!array) throw py::error_already_set();
        fromArray(array, f);
    } else {
        bad("expected a numpy array, a PIL image, or bytes with width and height; got " +
            std::string(py::str(py::type::of(image).attr("__name__"))));
    }
}

std::span<const std::uint8_t> bytesOf(const Frame& f) { return {f.data, f.size}; }

Result readImage(py::object image, std::optional<py::ssize_t> width, std::optional<py::ssize_t> height,
                 std::optional<py::ssize_t> stride, const std::string& search, bool lightOnDark,
                 double effort) {
    const quarrow::ReadOptions options = optionsOf(search, lightOnDark, effort);
    PreparedFrame p;
    prepareFrame(image, width, height, stride, p);
    Result res;
    {
        py::gil_scoped_release unlocked;
        res.r = quarrow::read(bytesOf(p.f), p.f.width, p.f.height, p.f.stride, options);
    }
    raiseForStatus(res.r);
    return res;
}

std::vector<Result> readAllImage(py::object image, std::optional<py::ssize_t> width,
                                 std::optional<py::ssize_t> height, std::optional<py::ssize_t> stride,
                                 const std::string& search, bool lightOnDark, double effort) {
    const quarrow::ReadOptions options = optionsOf(search, lightOnDark, effort);
    PreparedFrame p;
    prepareFrame(image, width, height, stride, p);
    std::vector<quarrow::ReadResult> all;
    {
        py::gil_scoped_release unlocked;
        all = quarrow::readAll(bytesOf(p.f), p.f.width, p.f.height, p.f.stride, options);
    }
    std::vector<Result> out;
    for (quarrow::ReadResult& r : all) {
        raiseForStatus(r);
        out.push_back({std::move(r)});
    }
    return out;
}

// quarrow.Reader: a reader whose buffers stay between frames. Python threads
// may share one; they take turns (each read holds its lock, not the GIL).
struct PyReader {
    quarrow::Reader reader;
    std::mutex lock;

    Result read(py::object image, std::optional<py::ssize_t> width, std::optional<py::ssize_t> height,
                std::optional<py::ssize_t> stride) {
        PreparedFrame p;
        prepareFrame(image, width, height, stride, p);
        Result res;
        {
            py::gil_scoped_release unlocked;
            std::lock_guard<std::mutex> hold(lock);
            res.r = reader.read(bytesOf(p.f), p.f.width, p.f.height, p.f.stride);
        }
        raiseForStatus(res.r);
        return res;
    }
};

// Reads a sequence of images on `threads` threads (one per core when not
// given) with the GIL released; results in the order of the images.
std::vector<Result> readMany(const py::sequence& images, std::optional<int> threads, const std::string& search,
                             bool lightOnDark, double effort) {
    const quarrow::ReadOptions options = optionsOf(search, lightOnDark, effort);
    if (threads && *threads < 1) bad("threads must be at least 1");
    const std::size_t n = py::len(images);
    std::vector<PreparedFrame> frames(n);
    for (std::size_t i = 0; i < n; ++i) {
        try {
            prepareFrame(images[i], std::nullopt, std::nullopt, std::nullopt, frames[i]);
        } catch (const py::value_error& e) {
            throw py::value_error("image " + std::to_string(i) + ": " + e.what());
        }
    }
    std::vector<quarrow::ReadResult> results(n);
    {
        py::gil_scoped_release unlocked;
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        const std::size_t count = std::min<std::size_t>(n, threads ? static_cast<std::size_t>(*threads) : cores);
        std::atomic<std::size_t> next{0};
        auto work = [&] {
            for (std::size_t i = next++; i < n; i = next++) {
                const Frame& f = frames[i].f;
                results[i] = quarrow::read(bytesOf(f), f.width, f.height, f.stride, options);
            }
        };
        std::vector<std::thread> pool;
        for (std::size_t t = 1; t < count; ++t) pool.emplace_back(work);
        work();
        for (std::thread& t : pool) t.join();
    }
    std::vector<Result> out(n);
    for (std::size_t i = 0; i < n; ++i) {
        raiseForStatus(results[i]);
        out[i].r = std::move(results[i]);
    }
    return out;
}

// The grey frames of an image or Y4M file, one at a time.
class FileFrames {
public:
    explicit FileFrames(const std::string& path) {
        std::string detail;
        const quarrow::io::IoError e = source_.open(path, detail);
        if (e != quarrow::io::IoError::Ok) fail(e, detail);
    }
    py::array_t<std::uint8_t> next() {
        quarrow::io::GreyFrame frame;
        quarrow::io::IoError e = quarrow::io::IoError::Ok;
        std::string detail;
        quarrow::io::FrameSource::Next got;
        {
            py::gil_scoped_release unlocked;
            got = source_.next(frame, e, detail);
        }
        if (got == quarrow::io::FrameSource::Next::End) throw py::stop_iteration();
        if (got == quarrow::io::FrameSource::Next::Error) fail(e, detail);
        py::array_t<std::uint8_t> out({static_cast<py::ssize_t>(frame.height), static_cast<py::ssize_t>(frame.width)});
        std::memcpy(out.mutable_data(), frame.pixels.data(), frame.pixels.size());
        return out;
    }
    bool isVideo() const { return source_.isVideo(); }

private:
    [[noreturn]] static void fail(quarrow::io::IoError e, const std::string& detail) {
        const std::string what = std::string("quarrow.frames: ") + quarrow::io::toString(e) + (detail.empty() ? "" : ": " + detail);
        if (e == quarrow::io::IoError::OpenFailed || e == quarrow::io::IoError::ReadFailed) {
            PyErr_SetString(PyExc_OSError, what.c_str());
            throw py::error_already_set();
        }
        throw py::value_error(what);
    }
    quarrow::io::FrameSource source_;
};

const char* formatName(quarrow::io::Format f) {
    switch (f) {
        case quarrow::io::Format::Pnm: return "pnm";
        case quarrow::io::Format::Png: return "png";
        case quarrow::io::Format::Jpeg: return "jpeg";
        case quarrow::io::Format::Y4m: return "y4m";
        case quarrow::io::Format::Unknown: break;
    }
    return "unknown";
}

}  // namespace

PYBIND11_MODULE(_native, m) {
    m.doc() = "Reads Aztec Code symbols from grey camera frames.";
    m.attr("__version__") = QUARROW_VERSION;

    py::class_<Result>(m, "Result", "What one read found. outcome is 'Read', 'Located' or 'NotLocated'.")
        .def_property_readonly("outcome", [](const Result& r) { return quarrow::toString(r.r.outcome); })
        .def_property_readonly("status", [](const Result& r) { return quarrow::toString(r.r.status); })
        .def_property_readonly("bytes", [](const Result& r) {
            return py::bytes(reinterpret_cast<const char*>(r.r.bytes.data()), r.r.bytes.size());
        })
        .def_property_readonly("text", [](const Result& r) { return decodeText(r.r.text); })
        .def_property_readonly("textNote", [](const Result& r) { return decodeText(r.r.textNote); })
        .def_property_readonly("message", [](const Result& r) { return decodeText(r.r.message); })
        .def_property_readonly("gs1", [](const Result& r) { return r.r.gs1; })
        .def_property_readonly("ecis", [](const Result& r) {
            py::list l;
            for (const auto& e : r.r.ecis) l.append(py::make_tuple(e.eci, e.position));
            return l;
        })
        .def_property_readonly("type", [](const Result& r) { return quarrow::toString(r.r.type); })
        .def_property_readonly("layers", [](const Result& r) { return r.r.layers; })
        .def_property_readonly("dataWords", [](const Result& r) { return r.r.dataWords; })
        .def_property_readonly("wordBits", [](const Result& r) { return r.r.wordBits; })
        .def_property_readonly("totalWords", [](const Result& r) { return r.r.totalWords; })
        .def_property_readonly("eccPercent", [](const Result& r) { return r.r.eccPercent; })
        .def_property_readonly("correctedWords", [](const Result& r) { return r.r.correctedWords; })
        .def_property_readonly("rotation", [](const Result& r) { return r.r.rotation; })
        .def_property_readonly("mirrored", [](const Result& r) { return r.r.mirrored; })
        .def_property_readonly("lightOnDark", [](const Result& r) { return r.r.lightOnDark; })
        .def_property_readonly("structuredAppend",
                               [](const Result& r) -> py::object {
                                   if (!r.r.structuredAppend) return py::none();
                                   py::dict d;
                                   d["index"] = r.r.structuredAppend->index;
                                   d["count"] = r.r.structuredAppend->count;
                                   d["id"] = decodeText(r.r.structuredAppend->id);
                                   return d;
                               })
        .def_property_readonly("symbologyIdentifier", [](const Result& r) { return r.r.symbologyIdentifier; })
        .def_property_readonly("rune", [](const Result& r) -> py::object {
            return r.r.rune ? py::object(py::int_(*r.r.rune)) : py::object(py::none());
        })
        .def_property_readonly("readerInit", [](const Result& r) { return r.r.readerInit; })
        .def_property_readonly("bullseyeCorners", [](const Result& r) { return corners(r.r.bullseyeCorners); })
        .def_property_readonly("centre", [](const Result& r) { return point(r.r.centre); })
        .def_property_readonly("symbolCorners", [](const Result& r) { return corners(r.r.symbolCorners); })
        .def("__repr__", [](const Result& r) {
            return "<quarrow.Result " + std::string(quarrow::toString(r.r.outcome)) + " " +
                   std::string(py::repr(decodeText(r.r.text))) + ">";
        });

    m.def("read", &readImage, py::arg("image"), py::kw_only(), py::arg("width") = py::none(),
          py::arg("height") = py::none(), py::arg("stride") = py::none(), py::arg("search") = "frame",
          py::arg("light_on_dark") = true, py::arg("effort") = 1.0,
          "read(image, *, width=None, height=None, stride=None, search='frame', light_on_dark=True,\n"
          "     effort=1.0) -> Result\n\n"
          "image: a 2-D uint8 numpy array (any strides), a 3-D uint8 RGB or RGBA array\n"
          "(reduced to grey with the luma weights 0.299, 0.587, 0.114; alpha ignored),\n"
          "a PIL image, or a bytes-like object with width and height (and stride, the\n"
          "bytes from one row to the next, width by default).\n"
          "search: 'frame' looks near the centre first, then in the whole frame;\n"
          "'centre' only near the centre. light_on_dark: also look for light symbols\n"
          "on a dark ground (whole-frame search). effort: the work the whole-frame\n"
          "search may spend, as a share of its own allowance (at 1 the hardest 640 x 480\n"
          "frames take up to about 0.1 s; a live stream can take 0.25, reading heavily\n"
          "blurred symbols less often); above 0 and at most 4.\n"
          "Raises ValueError for an image that cannot be read as a frame. The GIL is\n"
          "released while reading, so threads can read in parallel.");
    m.def(
        "join",
        [](const std::vector<Result>& results) {
            std::vector<quarrow::ReadResult> all;
            all.reserve(results.size());
            for (const Result& r : results) all.push_back(r.r);
            const quarrow::JoinedMessage j = quarrow::joinStructuredAppend(all);
            if (!j.ok) throw py::value_error("quarrow.join: " + j.error);
            return py::make_tuple(py::bytes(reinterpret_cast<const char*>(j.bytes.data()), j.bytes.size()),
                                  decodeText(j.text));
        },
        py::arg("results"),
        "join(results) -> (bytes, text)\n\n"
        "Joins the parts of a structured-append message, read in any order, into\n"
        "its bytes and text. Raises ValueError naming what is missing.");
    py::class_<PyReader>(m, "Reader",
                         "Reader(*, search='frame', light_on_dark=True, effort=1.0): reads frame after frame,\n"
                         "keeping its working buffers between them. read() takes the same images as\n"
                         "quarrow.read.")
        .def(py::init([](const std::string& search, bool lightOnDark, double effort) {
                 auto r = std::make_unique<PyReader>();
                 r->reader.setOptions(optionsOf(search, lightOnDark, effort));
                 return r;
             }),
             py::kw_only(), py::arg("search") = "frame", py::arg("light_on_dark") = true, py::arg("effort") = 1.0)
        .def("read", &PyReader::read, py::arg("image"), py::kw_only(), py::arg("width") = py::none(),
             py::arg("height") = py::none(), py::arg("stride") = py::none());
    m.def("_read_many", &readMany, py::arg("images"), py::arg("threads"), py::arg("search"), py::arg("light_on_dark"),
          py::arg("effort"));
    py::class_<FileFrames>(m, "_FileFrames")
        .def(py::init<const std::string&>())
        .def("__iter__", [](FileFrames& f) -> FileFrames& { return f; })
        .def("__next__", &FileFrames::next)
        .def_property_readonly("is_video", &FileFrames::isVideo);
    m.def("_sniff", [](const py::bytes& head) {
        const std::string_view b = head;
        return formatName(quarrow::io::sniffFormat({reinterpret_cast<const std::uint8_t*>(b.data()), b.size()}));
    });
    m.def("read_all", &readAllImage, py::arg("image"), py::kw_only(), py::arg("width") = py::none(),
          py::arg("height") = py::none(), py::arg("stride") = py::none(), py::arg("search") = "frame",
          py::arg("light_on_dark") = true, py::arg("effort") = 1.0,
          "read_all(image, *, width=None, height=None, stride=None, search='frame', light_on_dark=True,\n"
          "         effort=1.0)\n"
          "-> list of Result\n\n"
          "Every symbol of the frame whose data could be read, nearest to the centre\n"
          "first; an empty list when there is none. Arguments as for read().");
}
