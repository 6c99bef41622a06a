// The Python module "vellox": libvellox's encoder and decoder over numpy arrays, through the C
// API alone. Every status other than VELLOX_OK is raised as an exception, and the GIL is
// released while samples are encoded or decoded, so that threads work in parallel.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <climits>  // INT_MAX, INT_MIN
#include <cstdint>
#include <cstring>  // std::memcpy, std::memset
#include <memory>   // std::unique_ptr
#include <stdexcept>
#include <string>

#include "vellox/vellox.h"

namespace py = pybind11;

namespace {

// The module's own classes, made once at import. Each holds a reference for the life of the
// interpreter: a module of this kind is never unloaded.
PyObject* status_type = nullptr;          // vellox.Status, an IntEnum of vellox_status
PyObject* error_type = nullptr;           // vellox.Error
PyObject* settings_error_type = nullptr;  // vellox.SettingsError: Error and ValueError
PyObject* memory_error_type = nullptr;    // vellox.OutOfMemoryError: Error and MemoryError
PyObject* write_error_type = nullptr;     // vellox.WriteError: Error and OSError
PyObject* read_error_type = nullptr;      // vellox.ReadError: Error and OSError

PyObject* error_class(vellox_status status) {
    switch (status) {
        case VELLOX_ERROR_LEVELS:
        case VELLOX_ERROR_SUBBLOCKS:
        case VELLOX_ERROR_FILTER:
        case VELLOX_ERROR_FILTER_LENGTH:
        case VELLOX_ERROR_TAPS:
        case VELLOX_ERROR_PERCENTS:
        case VELLOX_ERROR_SAMPLE_COUNT:
        case VELLOX_ERROR_FORMAT:
            return settings_error_type;
        case VELLOX_ERROR_MEMORY:
            return memory_error_type;
        case VELLOX_ERROR_WRITE:
            return write_error_type;
        case VELLOX_ERROR_READ:
            return read_error_type;
        default:
            return error_type;
    }
}

// Raises status as an exception of its class, with its text as the message and the Status
// member as .status; cause (what the file object raised) becomes its __cause__. A cause that
// is no Exception (KeyboardInterrupt, SystemExit) goes on as it was raised.
[[noreturn]] void raise_status(vellox_status status, py::object cause = py::object()) {
    if (cause && PyObject_IsInstance(cause.ptr(), PyExc_Exception) != 1) {
        PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(cause.ptr()));
        Py_INCREF(type);
        PyObject* traceback = PyException_GetTraceback(cause.ptr());
        PyErr_Restore(type, cause.release().ptr(), traceback);
        throw py::error_already_set();
    }
    PyObject* type = error_class(status);
    py::object error = py::reinterpret_borrow<py::object>(type)(vellox_status_text(status));
    error.attr("status") =
        py::reinterpret_borrow<py::object>(status_type)(static_cast<int>(status));
    if (cause) PyException_SetCause(error.ptr(), cause.release().ptr());  // takes the reference
    PyErr_SetObject(type, error.ptr());
    throw py::error_already_set();
}

// The exception now set, with its traceback; clears it.
py::object fetch_error() {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    if (traceback != nullptr) PyException_SetTraceback(value, traceback);
    Py_XDECREF(type);
    Py_XDECREF(traceback);
    return py::reinterpret_steal<py::object>(value);
}

std::string type_name(py::handle object) { return Py_TYPE(object.ptr())->tp_name; }

// What a read or write callback shares with the call that made it: the file object's method
// and the first exception it raised. After a failure the file is not called again, as the
// library's handles fail for good.
struct FileLink {
    py::object method;  // file.write or file.read
    py::object error;   // what it raised, until that is raised again to the caller
    bool failed = false;
};

// Raises what a C call returned, or the file object's own exception chained to file_status
// (a WriteError or ReadError) when it raised one.
void check(vellox_status status, FileLink& link, vellox_status file_status) {
    if (link.error) raise_status(file_status, std::move(link.error));
    if (status != VELLOX_OK) raise_status(status);
}

void fail(FileLink& link) {
    link.error = fetch_error();
    link.failed = true;
}

// Hands size bytes to file.write, again with the rest when it takes fewer, as a raw file may.
// Only a number is believed as the count taken: None and other results mean all of them.
bool write_all(FileLink& link, const unsigned char* bytes, std::size_t size) {
    while (size > 0) {
        const std::size_t piece = size < PY_SSIZE_T_MAX ? size : PY_SSIZE_T_MAX;
        PyObject* chunk = PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes),
                                                    static_cast<Py_ssize_t>(piece));
        PyObject* result = chunk != nullptr
                               ? PyObject_CallFunctionObjArgs(link.method.ptr(), chunk, nullptr)
                               : nullptr;
        Py_XDECREF(chunk);
        if (result == nullptr) {
            fail(link);
            return false;
        }
        std::size_t taken = piece;
        if (PyLong_Check(result)) {
            const long long n = PyLong_AsLongLong(result);
            if (n <= 0 || static_cast<unsigned long long>(n) > piece) {
                PyErr_Clear();
                PyErr_Format(PyExc_OSError, "write() took %lld of %zu bytes", n, piece);
                Py_DECREF(result);
                fail(link);
                return false;
            }
            taken = static_cast<std::size_t>(n);
        }
        Py_DECREF(result);
        bytes += taken;
        size -= taken;
    }
    return true;
}

int write_to_file(void* user, const unsigned char* bytes, std::size_t size) {
    auto& link = *static_cast<FileLink*>(user);
    const PyGILState_STATE gil = PyGILState_Ensure();
    const bool written = !link.failed && write_all(link, bytes, size);
    PyGILState_Release(gil);
    return written ? 0 : 1;
}

// file.read(size) into bytes: it must give a bytes-like object of at most size bytes.
bool read_some(FileLink& link, unsigned char* bytes, std::size_t size, std::size_t* got) {
    const std::size_t asked = size < PY_SSIZE_T_MAX ? size : PY_SSIZE_T_MAX;
    PyObject* result =
        PyObject_CallFunction(link.method.ptr(), "n", static_cast<Py_ssize_t>(asked));
    if (result == nullptr) {
        fail(link);
        return false;
    }
    Py_buffer view;
    bool read = false;
    if (PyObject_GetBuffer(result, &view, PyBUF_SIMPLE) != 0) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "read() returned %.200s, not bytes",
                     Py_TYPE(result)->tp_name);
    } else {
        if (view.len < 0 || static_cast<std::size_t>(view.len) > asked) {
            PyErr_Format(PyExc_ValueError, "read(%zu) returned %zd bytes", asked, view.len);
        } else {
            std::memcpy(bytes, view.buf, static_cast<std::size_t>(view.len));
            *got = static_cast<std::size_t>(view.len);
            read = true;
        }
        PyBuffer_Release(&view);
    }
    Py_DECREF(result);
    if (!read) fail(link);
    return read;
}

int read_from_file(void* user, unsigned char* bytes, std::size_t size, std::size_t* got) {
    auto& link = *static_cast<FileLink*>(user);
    *got = 0;
    const PyGILState_STATE gil = PyGILState_Ensure();
    const bool read = !link.failed && read_some(link, bytes, size, got);
    PyGILState_Release(gil);
    return read ? 0 : 1;
}

// Marks a handle in use for the length of a call. A handle serves one thread at a time, so a
// second call meanwhile (from another thread while the GIL is released, or from the file
// object itself) is refused.
class InUse {
public:
    explicit InUse(bool& flag) : busy(flag) {
        if (busy) throw std::runtime_error("this object is in use by another call");
        busy = true;
    }
    ~InUse() { busy = false; }
    InUse(const InUse&) = delete;
    InUse& operator=(const InUse&) = delete;

private:
    bool& busy;
};

// The bytes of a buffer object (bytes, bytearray, memoryview, a numpy array), held in place
// until released: a bytearray cannot be resized meanwhile.
class HeldBytes {
public:
    HeldBytes() = default;
    ~HeldBytes() { release(); }
    HeldBytes(const HeldBytes&) = delete;
    HeldBytes& operator=(const HeldBytes&) = delete;

    void hold(py::handle object) {
        if (PyObject_GetBuffer(object.ptr(), &view, PyBUF_SIMPLE) != 0) {
            throw py::error_already_set();
        }
        held = true;
    }
    void release() {
        if (held) PyBuffer_Release(&view);
        held = false;
    }
    const void* data() const { return view.buf; }
    std::size_t size() const { return static_cast<std::size_t>(view.len); }

private:
    Py_buffer view{};
    bool held = false;
};

struct EncoderDestroyer {
    void operator()(vellox_encoder* encoder) const { vellox_encoder_destroy(encoder); }
};

struct DecoderDestroyer {
    void operator()(vellox_decoder* decoder) const { vellox_decoder_destroy(decoder); }
};

// value as an integer (an int, or anything with __index__) clamped to low .. high, and whether
// it lay there.
long long integer_value(py::handle value, long long low, long long high, bool* inside) {
    const auto index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
    if (!index) throw py::error_already_set();
    int overflow = 0;
    const long long n = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    if (n == -1 && PyErr_Occurred() != nullptr) throw py::error_already_set();
    *inside = overflow == 0 && n >= low && n <= high;
    if (overflow < 0 || (overflow == 0 && n < low)) return low;
    if (overflow > 0 || n > high) return high;
    return n;
}

// An integer setting: a value its C field cannot hold is refused with status, as the library
// refuses one that the field holds but that is out of range.
long long integer_setting(py::handle value, long long low, long long high, vellox_status status) {
    bool inside = false;
    const long long n = integer_value(value, low, high, &inside);
    if (!inside) raise_status(status);
    return n;
}

// The sample count announced to an encoder: a count beyond 32 bits is passed as the largest
// one, which the library refuses as it refuses every count above 2^31 - 1.
std::uint32_t sample_count_of(py::handle value) {
    bool inside = false;
    const long long n = integer_value(value, 0, UINT32_MAX, &inside);
    if (!inside && n == 0) throw py::value_error("sample_count must not be negative");
    return static_cast<std::uint32_t>(n);
}

py::module_ numpy() { return py::module_::import("numpy"); }

// The encoder's settings from keyword arguments, over the program's defaults.
struct Settings {
    vellox_settings c{};
    py::object taps;  // the float64 array c.taps points into
    bool channels_given = false;
};

Settings take_settings(const py::kwargs& given) {
    Settings settings;
    vellox_settings_init(&settings.c);
    for (const auto& item : given) {
        const std::string name = py::str(item.first);
        const py::handle value = item.second;
        if (name == "levels") {
            settings.c.levels =
                static_cast<int>(integer_setting(value, INT_MIN, INT_MAX, VELLOX_ERROR_LEVELS));
        } else if (name == "subblocks") {
            settings.c.subblocks =
                static_cast<int>(integer_setting(value, INT_MIN, INT_MAX, VELLOX_ERROR_SUBBLOCKS));
        } else if (name == "filter") {
            if (!py::isinstance<py::str>(value)) {
                throw py::type_error("filter must be 'D', 'O' or 'C', not " + type_name(value));
            }
            const std::string text = py::str(value);
            settings.c.filter = text.size() == 1 ? text[0] : '\0';  // '\0' is refused
        } else if (name == "filter_length") {
            settings.c.filter_length = static_cast<int>(
                integer_setting(value, INT_MIN, INT_MAX, VELLOX_ERROR_FILTER_LENGTH));
        } else if (name == "taps") {
            if (value.is_none()) continue;
            py::array taps = numpy().attr("ascontiguousarray")(value, "float64");
            if (taps.ndim() != 1) throw py::value_error("taps must be a 1-D sequence of numbers");
            if (taps.size() > INT_MAX) raise_status(VELLOX_ERROR_TAPS);
            settings.c.taps = static_cast<const double*>(taps.data());
            settings.c.tap_count = static_cast<int>(taps.size());
            settings.taps = taps;
        } else if (name == "percents") {
            settings.c.percents = value.is_none() ? -1.0 : PyFloat_AsDouble(value.ptr());
            if (PyErr_Occurred() != nullptr) throw py::error_already_set();
        } else if (name == "high_quality") {
            const int on = PyObject_IsTrue(value.ptr());
            if (on < 0) throw py::error_already_set();
            settings.c.high_quality = on;
        } else if (name == "channels") {
            if (value.is_none()) continue;
            settings.c.channels =
                static_cast<int>(integer_setting(value, INT_MIN, INT_MAX, VELLOX_ERROR_FORMAT));
            settings.channels_given = true;
        } else if (name == "sample_rate") {
            settings.c.sample_rate = static_cast<std::uint32_t>(
                integer_setting(value, 0, UINT32_MAX, VELLOX_ERROR_FORMAT));
        } else {
            throw py::type_error("got an unexpected keyword argument '" + name + "'");
        }
    }
    if (settings.taps && (settings.c.filter & ~0x20) != 'C') {
        throw py::value_error("taps are used only with filter='C'");
    }
    return settings;
}

// Samples as one C-contiguous array of native int16: the array itself when it is one, else
// one copy. Integers of other types are taken as they are when every value fits 16 bits;
// floating-point samples are refused, since how to scale them is the caller's choice.
struct Samples {
    py::array array;
    py::ssize_t columns = -1;  // a 2-D array's width, the channels of its frames; -1 for 1-D

    const std::int16_t* data() const { return static_cast<const std::int16_t*>(array.data()); }
    std::size_t size() const { return static_cast<std::size_t>(array.size()); }
};

Samples take_samples(py::handle given) {
    const py::module_ np = numpy();
    const py::array array = np.attr("asarray")(given);
    const py::object dtype = array.attr("dtype");
    const std::string kind = py::str(dtype.attr("kind"));
    // An empty list is float64 to numpy; with no values there is nothing to convert.
    const bool empty = array.size() == 0;
    if (!empty && (kind == "f" || kind == "c")) {
        throw py::type_error(
            "samples are floating-point (" + std::string(py::str(dtype)) +
            "): convert them to int16 first, for example "
            "numpy.clip(numpy.round(x * 32768), -32768, 32767).astype(numpy.int16)");
    }
    if (!empty && kind != "i" && kind != "u") {
        throw py::type_error("samples must be int16 integers, not " + std::string(py::str(dtype)));
    }
    if (array.ndim() != 1 && array.ndim() != 2) {
        throw py::value_error(
            "samples must be a 1-D array (interleaved) or a 2-D array (frames, "
            "channels), not " +
            std::to_string(array.ndim()) + "-D");
    }
    const py::object int16 = np.attr("dtype")("int16");
    if (!dtype.equal(int16) && !empty) {
        const py::int_ low = array.attr("min")();
        const py::int_ high = array.attr("max")();
        if (low < py::int_(-32768) || high > py::int_(32767)) {
            const py::int_ outside = low < py::int_(-32768) ? low : high;
            throw py::value_error("sample values must lie in -32768 .. 32767; this " +
                                  std::string(py::str(dtype)) + " array holds " +
                                  std::string(py::str(py::object(outside))));
        }
    }
    Samples samples;
    samples.array = np.attr("ascontiguousarray")(array, int16);
    samples.columns = array.ndim() == 2 ? array.shape(1) : -1;
    return samples;
}

// A 2-D array's width must be the header's channel count.
void check_columns(py::ssize_t columns, int channels) {
    if (columns >= 0 && columns != channels) {
        throw py::value_error("the samples have " + std::to_string(columns) +
                              " channels (columns) but channels is " + std::to_string(channels));
    }
}

// A bytes object that the encoder writes into as it goes, so that the file is not copied
// once more at the end. The object is nobody else's yet: it is written without the GIL, which
// is taken only to make it larger.
struct GrowingBytes {
    PyObject* bytes = nullptr;  // capacity bytes, the first used of them written
    std::size_t used = 0;
    std::size_t capacity = 0;

    ~GrowingBytes() { Py_XDECREF(bytes); }

    static int append(void* user, const unsigned char* data, std::size_t size) {
        auto& out = *static_cast<GrowingBytes*>(user);
        if (size > out.capacity - out.used) {
            // Doubling keeps the copies to a constant share of the bytes written.
            std::size_t wanted = out.capacity < 65536 ? 65536 : out.capacity;
            while (wanted - out.used < size) {
                if (wanted > PY_SSIZE_T_MAX / 2) return 1;
                wanted *= 2;
            }
            const PyGILState_STATE gil = PyGILState_Ensure();
            const auto length = static_cast<Py_ssize_t>(wanted);
            if (out.bytes == nullptr) {
                out.bytes = PyBytes_FromStringAndSize(nullptr, length);
            } else if (_PyBytes_Resize(&out.bytes, length) != 0) {
                out.bytes = nullptr;  // freed by the failed resize
            }
            if (out.bytes == nullptr) PyErr_Clear();
            PyGILState_Release(gil);
            if (out.bytes == nullptr) {
                out.used = 0;
                out.capacity = 0;
                return 1;
            }
            out.capacity = wanted;
        }
        std::memcpy(PyBytes_AS_STRING(out.bytes) + out.used, data, size);
        out.used += size;
        return 0;
    }
};

py::bytes encode(py::handle samples_given, const py::kwargs& given) {
    Settings settings = take_settings(given);
    const Samples samples = take_samples(samples_given);
    if (settings.channels_given) {
        check_columns(samples.columns, settings.c.channels);
    } else if (samples.columns >= 0) {
        // A width that the header cannot hold is refused as the library refuses the count.
        settings.c.channels = samples.columns <= 65535 ? static_cast<int>(samples.columns) : 0;
    }
    // The streaming encoder over all samples at once: the bytes vellox_encode_memory makes,
    // written straight into the bytes object handed out.
    const std::size_t count = samples.size();
    GrowingBytes out;
    vellox_encoder* encoder = nullptr;
    vellox_status status;
    {
        py::gil_scoped_release unlocked;
        status = vellox_encoder_create(
            &settings.c, count < UINT32_MAX ? static_cast<std::uint32_t>(count) : UINT32_MAX,
            GrowingBytes::append, &out, &encoder);
        if (status == VELLOX_OK) status = vellox_encoder_feed(encoder, samples.data(), count);
        if (status == VELLOX_OK) status = vellox_encoder_finish(encoder, nullptr);
        vellox_encoder_destroy(encoder);
    }
    // The only write that can fail is the growth of the bytes.
    if (status == VELLOX_ERROR_WRITE) status = VELLOX_ERROR_MEMORY;
    // Every file has its header, so bytes were written; down to their size, in place.
    if (status == VELLOX_OK && out.bytes != nullptr &&
        _PyBytes_Resize(&out.bytes, static_cast<Py_ssize_t>(out.used)) != 0) {
        throw py::error_already_set();
    }
    if (status == VELLOX_OK && out.bytes == nullptr) raise_status(VELLOX_ERROR_MEMORY);
    auto result = py::reinterpret_steal<py::bytes>(out.bytes);
    out.bytes = nullptr;
    if (status != VELLOX_OK) raise_status(status);
    return result;
}

class Encoder {
public:
    Encoder(py::handle sample_count, py::handle file, const py::kwargs& given) {
        const Settings settings = take_settings(given);
        count = sample_count_of(sample_count);
        link.method = py::getattr(file, "write", py::none());
        if (!PyCallable_Check(link.method.ptr())) {
            throw py::type_error("file must have a write(bytes) method; " + type_name(file) +
                                 " has none");
        }
        vellox_encoder* made = nullptr;
        vellox_status status;
        {
            py::gil_scoped_release unlocked;
            status = vellox_encoder_create(&settings.c, count, write_to_file, &link, &made);
        }
        encoder.reset(made);
        check(status, link, VELLOX_ERROR_WRITE);
        channels = settings.c.channels;
    }
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    void feed(py::handle chunk) {
        const InUse use(busy);
        if (!encoder) raise_status(VELLOX_ERROR_STATE);
        const Samples samples = take_samples(chunk);
        check_columns(samples.columns, channels);
        vellox_status status;
        {
            py::gil_scoped_release unlocked;
            status = vellox_encoder_feed(encoder.get(), samples.data(), samples.size());
        }
        check(status, link, VELLOX_ERROR_WRITE);
    }

    std::uint64_t finish() {
        const InUse use(busy);
        check(finish_stream(), link, VELLOX_ERROR_WRITE);
        return written;
    }

    void close() {
        const InUse use(busy);
        encoder.reset();
    }

    // The end of a with block: the stream is finished unless the block raised.
    bool exit(py::handle type) {
        const InUse use(busy);
        const vellox_status status =
            type.is_none() && encoder && !finished ? finish_stream() : VELLOX_OK;
        encoder.reset();
        check(status, link, VELLOX_ERROR_WRITE);
        return false;
    }

    py::tuple clipping() {
        const InUse use(busy);
        std::uint64_t clipped = 0;
        std::int64_t extreme = 0;
        vellox_encoder_clipping(encoder.get(), &clipped, &extreme);
        return py::make_tuple(clipped, extreme);
    }

    std::uint32_t sample_count() const { return count; }
    std::uint64_t bytes_written() const { return written; }

private:
    vellox_status finish_stream() {
        if (!encoder) return VELLOX_ERROR_STATE;
        std::uint64_t size = 0;
        vellox_status status;
        {
            py::gil_scoped_release unlocked;
            status = vellox_encoder_finish(encoder.get(), &size);
        }
        if (status == VELLOX_OK) {
            written = size;
            finished = true;
        }
        return status;
    }

    FileLink link;  // handed to the write callback
    std::unique_ptr<vellox_encoder, EncoderDestroyer> encoder;
    std::uint32_t count = 0;    // samples announced
    int channels = 2;           // the header's channel count
    std::uint64_t written = 0;  // the file's size, once finished
    bool finished = false;
    bool busy = false;  // a call is running
};

class Decoder {
public:
    explicit Decoder(py::handle source) {
        vellox_decoder* made = nullptr;
        vellox_status status;
        if (PyObject_CheckBuffer(source.ptr())) {
            memory.hold(source);
            py::gil_scoped_release unlocked;
            status = vellox_decoder_open_memory(memory.data(), memory.size(), &made);
        } else {
            link.method = py::getattr(source, "read", py::none());
            if (!PyCallable_Check(link.method.ptr())) {
                throw py::type_error(
                    "Decoder takes bytes-like data or a file object with "
                    "read(n), not " +
                    type_name(source));
            }
            py::gil_scoped_release unlocked;
            status = vellox_decoder_open_callback(read_from_file, &link, &made);
        }
        decoder.reset(made);
        check(status, link, VELLOX_ERROR_READ);
        count = vellox_decoder_sample_count(made);
        channels = vellox_decoder_channels(made);
        sample_rate = vellox_decoder_sample_rate(made);
        levels = vellox_decoder_levels(made);
        subblocks = vellox_decoder_subblocks(made);
    }
    ~Decoder() {
        decoder.reset();  // before the bytes it reads are let go
        memory.release();
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // The next samples: up to wanted, or all that are left when wanted is None or -1.
    py::array_t<std::int16_t> read(py::handle wanted) {
        const InUse use(busy);
        if (!decoder) raise_status(VELLOX_ERROR_STATE);
        const std::uint64_t left = count - delivered;
        std::uint64_t n = left;
        if (!wanted.is_none()) {
            bool inside = false;
            const long long asked = integer_value(wanted, -1, LLONG_MAX, &inside);
            if (!inside && asked == -1) {
                throw py::value_error("read() takes a count of 0 or more, or -1");
            }
            if (asked >= 0 && static_cast<std::uint64_t>(asked) < left) {
                n = static_cast<std::uint64_t>(asked);
            }
        }
        py::array_t<std::int16_t> samples(static_cast<py::ssize_t>(n));
        std::size_t got = 0;
        vellox_status status;
        {
            py::gil_scoped_release unlocked;
            status = vellox_decoder_read(decoder.get(), samples.mutable_data(),
                                         static_cast<std::size_t>(n), &got);
        }
        delivered += got;
        not_decoded = vellox_decoder_samples_not_decoded(decoder.get());
        check(status, link, VELLOX_ERROR_READ);
        return samples;
    }

    // Once every sample was read: the bytes of the stream behind its last block, which the
    // encoder never writes.
    std::uint64_t trailing_bytes() {
        const InUse use(busy);
        if (!decoder) raise_status(VELLOX_ERROR_STATE);
        std::uint64_t bytes = 0;
        vellox_status status;
        {
            py::gil_scoped_release unlocked;
            status = vellox_decoder_trailing_bytes(decoder.get(), &bytes);
        }
        check(status, link, VELLOX_ERROR_READ);
        return bytes;
    }

    void close() {
        const InUse use(busy);
        decoder.reset();
    }

    std::uint32_t count = 0;  // the header's fields
    int channels = 0;
    std::uint32_t sample_rate = 0;
    int levels = 0;
    int subblocks = 0;
    std::uint64_t delivered = 0;    // samples read so far
    std::uint64_t not_decoded = 0;  // of those, the samples that damage cost

private:
    HeldBytes memory;  // the bytes a decoder over memory reads
    FileLink link;     // handed to the read callback
    std::unique_ptr<vellox_decoder, DecoderDestroyer> decoder;
    bool busy = false;  // a call is running
};

// What Decoder.chunks hands out: read(size) until nothing is left.
struct Chunks {
    py::object decoder;  // the Python Decoder
    py::ssize_t size = 0;
};

struct Decoded {
    py::array_t<std::int16_t> samples;
    int channels = 0;
    std::uint32_t sample_rate = 0;
    int levels = 0;
    int subblocks = 0;
    std::uint64_t samples_not_decoded = 0;
    std::uint64_t trailing_bytes = 0;

    // The samples as (frames, width), the last frame completed with zeros: a view when the
    // count is a whole number of frames, else a copy.
    py::array frames(py::handle given) const {
        bool inside = false;
        const long long width =
            given.is_none() ? channels : integer_value(given, 1, PY_SSIZE_T_MAX, &inside);
        if (width < 1 || (!given.is_none() && !inside)) {
            throw py::value_error(given.is_none() ? "the header says " + std::to_string(channels) +
                                                        " channels: give frames(channels=N)"
                                                  : std::string("channels must be at least 1"));
        }
        const auto columns = static_cast<py::ssize_t>(width);
        const py::ssize_t count = samples.size();
        const py::ssize_t rows = count / columns + (count % columns != 0 ? 1 : 0);
        if (count % columns == 0) return samples.attr("reshape")(rows, columns);
        py::array_t<std::int16_t> framed({rows, columns});
        std::int16_t* out = framed.mutable_data();
        std::memcpy(out, samples.data(), static_cast<std::size_t>(count) * sizeof(std::int16_t));
        std::memset(out + count, 0,
                    static_cast<std::size_t>(rows * columns - count) * sizeof(std::int16_t));
        return std::move(framed);
    }
};

Decoded decode(py::handle data) {
    if (!PyObject_CheckBuffer(data.ptr())) {
        throw py::type_error(
            "decode() takes bytes, bytearray, memoryview or a uint8 numpy array, not " +
            type_name(data));
    }
    Decoder decoder(data);
    Decoded decoded;
    decoded.samples = decoder.read(py::none());
    decoded.channels = decoder.channels;
    decoded.sample_rate = decoder.sample_rate;
    decoded.levels = decoder.levels;
    decoded.subblocks = decoder.subblocks;
    decoded.samples_not_decoded = decoder.not_decoded;
    decoded.trailing_bytes = decoder.trailing_bytes();
    return decoded;
}

// An exception class of the module: vellox.<name>, deriving from bases.
PyObject* make_error(py::module_& module, const char* name, const char* doc, py::tuple bases) {
    const std::string qualified = std::string("vellox.") + name;
    py::dict members;
    members["status"] = py::none();
    PyObject* type = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, bases.ptr(), members.ptr());
    if (type == nullptr) throw py::error_already_set();
    module.add_object(name, py::handle(type));  // the module takes a reference of its own
    return type;
}

// pybind11's functions are methods of a capsule, and help() says so: the module's functions
// are plain built-in ones that call them.
PyObject* encode_binding = nullptr;
PyObject* decode_binding = nullptr;

PyObject* call_encode(PyObject*, PyObject* args, PyObject* kwargs) {
    return PyObject_Call(encode_binding, args, kwargs);
}

PyObject* call_decode(PyObject*, PyObject* args, PyObject* kwargs) {
    return PyObject_Call(decode_binding, args, kwargs);
}

constexpr const char* encode_doc =
    R"(encode(samples, *, levels=7, subblocks=16, filter='D', filter_length=11, taps=None, percents=50.0, high_quality=False, channels=None, sample_rate=22050)
--

Encode 16-bit samples into an ACM file, returned as bytes: the bytes the vellox
program writes for the same samples and settings.

samples        int16 samples: a 1-D array (interleaved channels) or a 2-D array of
               (frames, channels), C-contiguous or not (anything numpy.asarray takes).
               Other integer types are taken when every value fits 16 bits;
               floating-point arrays are refused with a TypeError (convert them first).
levels         transform levels, 0 .. 15 (2**levels sub-bands)         (vellox -l)
subblocks      rows per block, 1 .. 4095                                (vellox -s)
filter         'D' (3 .. 806 taps), 'O' (3 .. 402) or 'C' (your taps)   (-fd, -fo, -fc)
filter_length  one-sided taps of the 'D' and 'O' designs
taps           for 'C': the one-sided tap magnitudes, outer end first
percents       size target in percent of the input's 16-bit samples, above 1 and at
               most 100; None codes every block exactly                 (-q, -q0)
high_quality   the high-quality mode: the same size, a lower error      (-hq)
channels       the header's channel count, 1 .. 65535; None takes it from a 2-D
               array's width, else 2                                    (-c)
sample_rate    the header's sample rate in Hz, 1 .. 65535               (-r)

The header's channels and rate change no sample: the samples are encoded as one
interleaved stream. Raises SettingsError (a ValueError) for a setting out of range,
OutOfMemoryError (a MemoryError), TypeError for floating-point samples.)";

constexpr const char* decode_doc = R"(decode(data)
--

Decode a whole ACM file: data is bytes, bytearray, memoryview or a uint8 numpy array.
Returns a vellox.Decoded with the samples velloxdec hands out (the header's count of
them; damaged blocks decode as silence and are counted in .samples_not_decoded, bytes
behind the last block in .trailing_bytes).
Raises vellox.Error with .status Status.ERROR_NOT_ACM when data is no ACM file.)";

PyMethodDef module_functions[] = {
    {"encode", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(call_encode)),
     METH_VARARGS | METH_KEYWORDS, encode_doc},
    {"decode", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(call_decode)),
     METH_VARARGS | METH_KEYWORDS, decode_doc},
};

}  // namespace

PYBIND11_MODULE(vellox, m) {
    py::options options;
    options.disable_function_signatures();  // each docstring starts with its own signature

    m.doc() = R"(Encode 16-bit samples into ACM files and decode them, with libvellox.

The bytes are those of the vellox program for the same samples and settings, and the
decoded samples those of velloxdec. Samples are numpy int16 arrays: 1-D interleaved, or
2-D as (frames, channels).

    encode(samples, **settings) -> bytes        one call
    decode(data) -> Decoded                     one call
    Encoder(sample_count, file, **settings)     in chunks, to any object with write(bytes)
    Decoder(data_or_file)                       in chunks, from bytes or read(n)

Every failure of the library raises vellox.Error (with .status, a vellox.Status, and the
status text as the message) or one of its subclasses: SettingsError (also a ValueError),
OutOfMemoryError (also a MemoryError), WriteError and ReadError (also OSErrors, with the
file object's own exception as __cause__). The GIL is released while samples are encoded
or decoded.)";
    m.attr("__version__") = vellox_version();

    static const char* const status_names[] = {
        "OK",
        "ERROR_ARGUMENT",
        "ERROR_LEVELS",
        "ERROR_SUBBLOCKS",
        "ERROR_FILTER",
        "ERROR_FILTER_LENGTH",
        "ERROR_TAPS",
        "ERROR_PERCENTS",
        "ERROR_SAMPLE_COUNT",
        "ERROR_MEMORY",
        "ERROR_WRITE",
        "ERROR_READ",
        "ERROR_TOO_MANY_SAMPLES",
        "ERROR_TOO_FEW_SAMPLES",
        "ERROR_NOT_ACM",
        "ERROR_STATE",
        "ERROR_FORMAT",
    };
    static_assert(sizeof status_names / sizeof status_names[0] == VELLOX_ERROR_FORMAT + 1,
                  "a name for every status");
    py::list members;
    for (int i = 0; i <= VELLOX_ERROR_FORMAT; ++i)
        members.append(py::make_tuple(status_names[i], i));
    py::object status = py::module_::import("enum").attr("IntEnum")(
        "Status", members, py::arg("module") = "vellox", py::arg("qualname") = "Status");
    status.attr("__doc__") = "The library's vellox_status values, VELLOX_ left out.";
    m.attr("Status") = status;
    status_type = status.release().ptr();

    error_type = make_error(m, "Error",
                            "A libvellox call failed: .status is the vellox.Status, the message "
                            "its text.",
                            py::make_tuple(py::handle(PyExc_Exception)));
    settings_error_type =
        make_error(m, "SettingsError", "A setting, or the sample count, is out of its range.",
                   py::make_tuple(py::handle(error_type), py::handle(PyExc_ValueError)));
    memory_error_type =
        make_error(m, "OutOfMemoryError", "The library could not have the memory it needs.",
                   py::make_tuple(py::handle(error_type), py::handle(PyExc_MemoryError)));
    write_error_type = make_error(
        m, "WriteError", "The file object's write() failed; its exception is the __cause__.",
        py::make_tuple(py::handle(error_type), py::handle(PyExc_OSError)));
    read_error_type = make_error(m, "ReadError",
                                 "The file object's read() failed; its exception is the __cause__.",
                                 py::make_tuple(py::handle(error_type), py::handle(PyExc_OSError)));

    py::class_<Decoded>(m, "Decoded", R"(An ACM file decoded by vellox.decode.

samples              the decoded samples, a 1-D int16 array of the header's count
channels             the header's channel count, as stored (0 .. 65535)
sample_rate          the header's sample rate in Hz, as stored (0 .. 65535)
levels, subblocks    the header's block shape
samples_not_decoded  samples that damage cost (silence stands in); 0 when intact
trailing_bytes       bytes behind the stream's last block, which the encoder never
                     writes: damage that the samples may not show; 0 when intact)")
        .def_readonly("samples", &Decoded::samples)
        .def_readonly("channels", &Decoded::channels)
        .def_readonly("sample_rate", &Decoded::sample_rate)
        .def_readonly("levels", &Decoded::levels)
        .def_readonly("subblocks", &Decoded::subblocks)
        .def_readonly("samples_not_decoded", &Decoded::samples_not_decoded)
        .def_readonly("trailing_bytes", &Decoded::trailing_bytes)
        .def("frames", &Decoded::frames, py::arg("channels") = py::none(),
             R"(frames(self, /, channels=None)
--

The samples as a 2-D array of (frames, channels), the last frame completed with
zeros as velloxdec completes it. channels defaults to the header's.)")
        .def("__repr__", [](const Decoded& decoded) {
            return "vellox.Decoded(" + std::to_string(decoded.samples.size()) + " samples, " +
                   std::to_string(decoded.channels) + " channels at " +
                   std::to_string(decoded.sample_rate) + " Hz, levels " +
                   std::to_string(decoded.levels) + ", subblocks " +
                   std::to_string(decoded.subblocks) + ", " +
                   std::to_string(decoded.samples_not_decoded) + " not decoded)";
        });

    encode_binding =
        py::cpp_function(&encode, py::name("encode"), py::arg("samples")).release().ptr();
    decode_binding = py::cpp_function(&decode, py::name("decode"), py::arg("data")).release().ptr();
    for (PyMethodDef& function : module_functions) {
        PyObject* made = PyCFunction_NewEx(&function, nullptr, py::str("vellox").ptr());
        if (made == nullptr) throw py::error_already_set();
        m.add_object(function.ml_name, py::reinterpret_steal<py::object>(made));
    }

    py::class_<Encoder>(
        m, "Encoder",
        R"(Encode sample_count interleaved samples, fed in chunks of any size, into an ACM file
written through file.write(bytes) (the header at once, the rest as it is made). The
settings are those of vellox.encode; channels=None is 2, and a 2-D chunk's width must
be the channel count. As a context manager it finishes the file at the end of the
block, unless the block raised. A failing write raises WriteError from the file's
exception; every later call then raises Error (ERROR_STATE).)")
        .def(py::init<py::handle, py::handle, const py::kwargs&>(), py::arg("sample_count"),
             py::arg("file"),
             "__init__(self, sample_count, file, *, levels=7, subblocks=16, filter='D', "
             "filter_length=11, taps=None, percents=50.0, high_quality=False, channels=None, "
             "sample_rate=22050)\n--\n\nSee help(vellox.Encoder).")
        .def("feed", &Encoder::feed, py::arg("samples"), R"(feed(self, samples)
--

Encode the next samples (a 1-D or 2-D int16 array, as for vellox.encode). More
samples in all than sample_count raise Error (ERROR_TOO_MANY_SAMPLES) and encode
none of them.)")
        .def("finish", &Encoder::finish, R"(finish(self, /)
--

Write the last blocks and return the file's size in bytes. Fewer samples fed than
sample_count raise Error (ERROR_TOO_FEW_SAMPLES).)")
        .def("close", &Encoder::close, R"(close(self, /)
--

Let the encoder go without finishing: a file not finished stays cut.)")
        .def(
            "__enter__", [](py::object self) { return self; }, "__enter__(self)\n--\n\n")
        .def(
            "__exit__",
            [](Encoder& encoder, py::handle type, py::handle, py::handle) {
                return encoder.exit(type);
            },
            "__exit__(self, type, value, traceback)\n--\n\nFinish the file unless the block "
            "raised, then close.")
        .def_property_readonly("sample_count", &Encoder::sample_count, "The samples announced.")
        .def_property_readonly("bytes_written", &Encoder::bytes_written,
                               "The file's size in bytes, once finished (0 before).")
        .def_property_readonly(
            "clipping", &Encoder::clipping,
            "(count, extreme): transform coefficients that did not fit 16 bits so far, and "
            "the one of largest magnitude (0 when none).");

    py::class_<Chunks>(m, "DecoderChunks", "The iterator of Decoder.chunks.")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", [](Chunks& chunks) {
            py::array_t<std::int16_t> samples =
                chunks.decoder.cast<Decoder&>().read(py::int_(chunks.size));
            if (samples.size() == 0) throw py::stop_iteration();
            return samples;
        });

    py::class_<Decoder>(
        m, "Decoder",
        R"(Decode an ACM file in chunks: source is bytes-like data (held in place until the
decoder is closed) or a file object with read(n). The header's fields are read at
once: sample_count, channels and sample_rate (as stored), levels, subblocks. A read
that raises raises ReadError from the file's exception. As a context manager it is
closed at the end of the block.)")
        .def(py::init<py::handle>(), py::arg("source"),
             "__init__(self, source)\n--\n\nSee help(vellox.Decoder).")
        .def("read", &Decoder::read, py::arg("count") = py::none(), R"(read(self, /, count=None)
--

The next samples, a 1-D int16 array of up to count of them (all that are left when
count is None or -1); an empty array at the end.)")
        .def(
            "chunks",
            [](py::object self, py::handle size) {
                bool inside = false;
                const long long n = integer_value(size, 1, PY_SSIZE_T_MAX, &inside);
                if (!inside) throw py::value_error("chunks() takes a size of 1 or more");
                return Chunks{self, static_cast<py::ssize_t>(n)};
            },
            py::arg("size") = 65536, R"(chunks(self, /, size=65536)
--

An iterator over the rest of the samples, size at a time (the last chunk shorter).)")
        .def("trailing_bytes", &Decoder::trailing_bytes, R"(trailing_bytes(self, /)
--

Once every sample was read: how many bytes of the stream follow its last block (reading
the rest of the stream to find its end). The encoder never writes any: they tell of
damage that the samples may not show. Raises Error (ERROR_STATE) before the last sample
was read.)")
        .def("close", &Decoder::close, R"(close(self, /)
--

Let the decoder go (and the bytes it holds).)")
        .def(
            "__enter__", [](py::object self) { return self; }, "__enter__(self)\n--\n\n")
        .def(
            "__exit__",
            [](Decoder& decoder, py::handle, py::handle, py::handle) {
                decoder.close();
                return false;
            },
            "__exit__(self, type, value, traceback)\n--\n\nClose.")
        .def_readonly("sample_count", &Decoder::count, "The header's sample count.")
        .def_readonly("channels", &Decoder::channels,
                      "The header's channel count, as stored (0 .. 65535).")
        .def_readonly("sample_rate", &Decoder::sample_rate,
                      "The header's sample rate in Hz, as stored (0 .. 65535).")
        .def_readonly("levels", &Decoder::levels, "The header's transform levels.")
        .def_readonly("subblocks", &Decoder::subblocks, "The header's rows per block.")
        .def_readonly("samples_read", &Decoder::delivered, "The samples read so far.")
        .def_readonly("samples_not_decoded", &Decoder::not_decoded,
                      "Of the samples read so far, those that damage cost.");
}
