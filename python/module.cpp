// The Python module lumbra: the library's functions with Python's types.
// Big numbers are ints, exact probabilities fractions.Fraction, rows tuples
// (or a NumPy structured array), a file's verdict a dict with the keys of
// `lumbra-kit test --format json`. Long calls release the GIL; a count,
// ks_2samp, test_file and test_sizes poll for signals every 50 ms, so Ctrl-C
// stops them with KeyboardInterrupt. The
// library's exceptions arrive as lumbra.ArgumentError (a ValueError),
// lumbra.InputError (an OSError), lumbra.ResourceError (a MemoryError) with
// the words lumbra-kit prints.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "lumbra/lumbra.h"

namespace py = pybind11;

namespace {

py::int_ toInt(const lumbra::BigNat& b) {
  std::string bytes;
  bytes.reserve(8 * b.words().size());
  for (std::uint64_t w : b.words())
    for (int i = 0; i < 64; i += 8) bytes.push_back(static_cast<char>((w >> i) & 0xff));
  py::object fromBytes = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyLong_Type)).attr("from_bytes");
  return fromBytes(py::bytes(bytes), "little");
}

lumbra::BigNat toBigNat(const py::int_& v, const char* name) {
  if (v < py::int_(0)) throw lumbra::ArgumentError(std::string(name) + " must be a decimal number, not '" + py::repr(v).cast<std::string>() + "'");
  const auto bits = v.attr("bit_length")().cast<std::size_t>();
  const std::string bytes = v.attr("to_bytes")((bits + 63) / 64 * 8, "little").cast<py::bytes>();
  std::vector<std::uint64_t> words(bytes.size() / 8);
  for (std::size_t i = 0; i < bytes.size(); ++i)
    words[i / 8] |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[i])) << (8 * (i % 8));
  return lumbra::BigNat::from_words(std::move(words));
}

// A sample as doubles. A one-dimensional buffer of native doubles (a NumPy
// float64 array, array('d'), a memoryview of one) is copied as it lies;
// anything else goes through pybind11's conversion of a sequence, one
// Python object at a time (0.7 ms for two NumPy samples of 10^4 values,
// a sixth of the test's own time there).
std::vector<double> sampleOf(const py::handle& obj, const char* name) {
  if (PyObject_CheckBuffer(obj.ptr()) != 0) {
    const py::buffer_info info = py::reinterpret_borrow<py::buffer>(obj).request();
    if (info.ndim == 1 && info.itemsize == static_cast<py::ssize_t>(sizeof(double)) &&
        info.format == py::format_descriptor<double>::format()) {
      std::vector<double> v(static_cast<std::size_t>(info.shape[0]));
      const auto* at = static_cast<const char*>(info.ptr);
      for (double& x : v) {
        std::memcpy(&x, at, sizeof x);
        at += info.strides[0];
      }
      return v;
    }
  }
  try {
    return obj.cast<std::vector<double>>();
  } catch (const py::cast_error&) {
    throw py::type_error(std::string(name) + " must be a sequence of numbers, not " +
                         py::str(py::type::handle_of(obj).attr("__name__")).cast<std::string>());
  }
}

py::object toFraction(const lumbra::Fraction& f) {
  return py::module_::import("fractions").attr("Fraction")(toInt(f.numerator), toInt(f.denominator));
}

}  // namespace

// A whole-number argument as Python gives it, of any size: one that no long
// long holds is kept as its bit length, so that narrow() can name it rather
// than pybind11 refusing the call as "incompatible function arguments".
struct Whole {
  long long value = 0;
  std::size_t bits = 0;  // the bit length of a value beyond long long, else 0
};

namespace pybind11::detail {
template <>
struct type_caster<Whole> {
  PYBIND11_TYPE_CASTER(Whole, const_name("int"));
  bool load(handle src, bool) {
    if (!src || PyFloat_Check(src.ptr()) || PyIndex_Check(src.ptr()) == 0) return false;
    const object index = reinterpret_steal<object>(PyNumber_Index(src.ptr()));
    if (!index) {
      PyErr_Clear();
      return false;
    }
    int overflow = 0;
    value.value = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    if (overflow != 0) value.bits = index.attr("bit_length")().cast<std::size_t>();
    return !(value.value == -1 && PyErr_Occurred() != nullptr && (PyErr_Clear(), true));
  }
  static handle cast(const Whole& w, return_value_policy, handle) { return PyLong_FromLongLong(w.value); }
};
}  // namespace pybind11::detail

namespace {

// An argument as the library's int; one beyond an int is named as such.
int narrow(const Whole& w, const char* name) {
  if (w.bits != 0)
    throw lumbra::ArgumentError(std::string(name) + " must fit in 32 bits, not a number of " + std::to_string(w.bits) +
                                " bits");
  if (w.value < INT_MIN || w.value > INT_MAX)
    throw lumbra::ArgumentError(std::string(name) + " must fit in 32 bits, not " + std::to_string(w.value));
  return static_cast<int>(w.value);
}

// The library takes any count of threads and uses at most as many as it can.
unsigned threadsOf(const Whole& w) {
  if (w.value < 0) throw lumbra::ArgumentError("threads must be 0 (one per core) or more, not " + std::to_string(w.value));
  return w.bits != 0 || w.value > UINT_MAX ? UINT_MAX : static_cast<unsigned>(w.value);
}

// The count's stop function: every 50 ms it takes the GIL and lets Python
// run its signal handlers; an exception from one (KeyboardInterrupt) stops
// the count and is raised once the count has let go.
class SignalPoll {
 public:
  bool operator()() {
    const auto now = std::chrono::steady_clock::now();
    if (now < next_) return false;
    next_ = now + std::chrono::milliseconds(50);
    py::gil_scoped_acquire gil;
    return PyErr_CheckSignals() != 0;
  }

 private:
  std::chrono::steady_clock::time_point next_ = std::chrono::steady_clock::now();
};

// shape or unshape of `in`, without the GIL, Ctrl-C polled as it goes.
py::bytes shaping(std::string (*f)(const std::string&, int, int, const std::string&, const std::function<bool()>&),
                  const py::bytes& in, const Whole& n, const Whole& d, const std::string& alphabet) {
  const std::string bytes = in;
  std::string out;
  bool cancelled = false;
  {
    SignalPoll poll;
    py::gil_scoped_release release;
    try {
      out = f(bytes, narrow(n, "N"), narrow(d, "D"), alphabet, [&poll] { return poll(); });
    } catch (const lumbra::Cancelled&) {
      cancelled = true;
    }
  }
  if (cancelled) throw py::error_already_set();
  return py::bytes(out);
}

py::int_ count(const Whole& n, const Whole& k, const Whole& d, const Whole& threads) {
  lumbra::BigNat c;
  bool cancelled = false;
  {
    SignalPoll poll;
    lumbra::CountOptions options;
    options.threads = threadsOf(threads);
    options.stop = [&poll] { return poll(); };
    py::gil_scoped_release release;
    try {
      c = lumbra::count(narrow(n, "N"), narrow(k, "K"), narrow(d, "D"), options);
    } catch (const lumbra::Cancelled&) {
      cancelled = true;
    }
  }
  if (cancelled) throw py::error_already_set();
  return toInt(c);
}

// A block given as text of 0 and 1, or as bytes: its bytes and its bits.
struct Bits {
  std::string bytes;
  std::uint64_t count;
};

Bits bitsOf(const py::object& data) {
  if (py::isinstance<py::str>(data)) {
    const std::string text = data.cast<std::string>();
    Bits b{std::string((text.size() + 7) / 8, '\0'), text.size()};
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] != '0' && text[i] != '1')
        throw lumbra::ArgumentError("bits are the characters 0 and 1, not '" + std::string(1, text[i]) + "'");
      if (text[i] == '1') b.bytes[i / 8] = static_cast<char>(b.bytes[i / 8] | (0x80 >> (i % 8)));
    }
    return b;
  }
  // bytes, bytearray, memoryview, a NumPy array of uint8: whatever bytes() takes.
  std::string bytes = py::bytes(py::module_::import("builtins").attr("bytes")(data));
  return {bytes, 8 * static_cast<std::uint64_t>(bytes.size())};
}

py::object blockStats(const py::object& data, const Whole& n, bool asArray) {
  Bits bits = bitsOf(data);
  std::vector<lumbra::BlockStats> rows;
  {
    py::gil_scoped_release release;
    rows = lumbra::block_stats(
        {reinterpret_cast<const unsigned char*>(bits.bytes.data()), bits.bytes.size()}, narrow(n, "N"), bits.count);
  }
  py::list list;
  for (const lumbra::BlockStats& r : rows)
    list.append(py::make_tuple(r.block, r.offset, r.length, r.ones, r.deviation, r.p_ones, r.p_deviation));
  if (!asArray) return list;
  py::module_ np = py::module_::import("numpy");
  py::list dtype;
  for (const char* name : {"block", "offset"}) dtype.append(py::make_tuple(name, "<u8"));
  for (const char* name : {"length", "ones", "deviation"}) dtype.append(py::make_tuple(name, "<i4"));
  for (const char* name : {"p_ones", "p_deviation"}) dtype.append(py::make_tuple(name, "<f8"));
  return np.attr("array")(list, py::arg("dtype") = dtype);
}

py::dict statistic(const lumbra::StatisticTest& t) {
  py::dict d;
  d["passing"] = t.passing;
  d["passing_expected"] = t.passing_expected;
  d["passing_variance"] = t.passing_variance;
  d["passing_sd"] = t.passing_sd;
  d["passing_z"] = t.passing_z;
  d["bins_observed"] = t.bins_observed;
  d["bins_expected"] = t.bins_expected;
  d["chi2"] = t.chi2;
  d["dof"] = t.dof;
  d["p_value"] = t.p_value;
  return d;
}

// A path as the file system takes it (str, bytes or os.PathLike).
std::string pathOf(const py::object& path) { return py::str(py::module_::import("os").attr("fsdecode")(path)); }

// A name, a comma list of names, or an iterable of names.
std::vector<std::string> statisticNames(const py::object& statistics) {
  std::vector<std::string> names;
  if (py::isinstance<py::str>(statistics)) {
    std::string list = py::str(statistics);
    for (std::size_t at = 0; at <= list.size();) {
      const std::size_t comma = std::min(list.find(',', at), list.size());
      names.push_back(list.substr(at, comma - at));
      at = comma + 1;
    }
  } else if (!statistics.is_none()) {
    for (const py::handle item : statistics) names.push_back(py::str(item));
  }
  return names;
}

py::dict fileTestDict(const lumbra::FileTest& t) {
  py::dict d;
  d["block_size"] = t.block_size;
  d["first_block"] = t.first_block;
  d["block_count"] = t.block_count;
  d["blocks"] = t.blocks;
  d["bits"] = t.bits;
  d["ones"] = t.ones;
  py::dict tests;
  for (const auto& [key, test] : t.tests) tests[py::str(key)] = statistic(test);
  d["tests"] = tests;
  const auto probability = [](const std::optional<lumbra::FileProbability>& p) {
    if (!p) return py::object(py::none());
    py::dict e;
    e["p_value"] = p->p_value;
    e["ln_p"] = p->ln_p;
    return py::object(e);
  };
  py::dict file;
  file["balance"] = probability(t.whole_file.balance);
  file["runs"] = t.whole_file.runs;
  file["first_bit"] = t.whole_file.first_bit;
  file["last_bit"] = t.whole_file.last_bit;
  file["runs_test"] = probability(t.whole_file.runs_test);
  d["whole_file"] = file;
  py::dict deviations;
  deviations["observed"] = t.deviations_observed;
  deviations["expected"] = t.deviations_expected;
  d["deviations"] = deviations;
  py::list shapeLists;
  for (const auto& s : t.shapes) {
    py::list one;
    for (std::uint64_t v : s) one.append(v);
    shapeLists.append(one);
  }
  d["shapes"] = shapeLists;
  d["file_bits"] = t.file_bits ? py::object(py::int_(*t.file_bits)) : py::object(py::none());
  py::list rangeLists;
  for (const auto& r : t.ranges) {
    py::list one;
    one.append(r[0]);
    one.append(r[1]);
    rangeLists.append(one);
  }
  d["ranges"] = rangeLists;
  return d;
}

// A count of blocks from Python: a whole number from 0, below 2^64.
std::uint64_t blockNumber(const py::object& v, const char* name) {
  if (!py::isinstance<py::int_>(v) || py::isinstance<py::bool_>(v) || v < py::int_(0) ||
      v.attr("bit_length")().cast<int>() > 64)
    throw lumbra::ArgumentError(std::string(name) + " must be a whole number from 0 to 2^64 - 1, not " +
                                py::repr(v).cast<std::string>());
  return v.cast<std::uint64_t>();
}

py::dict testFile(const py::object& path, const Whole& n, const Whole& threads, const py::object& statistics,
                  const py::object& firstBlock, const py::object& blockCount) {
  const std::string name = pathOf(path);
  const std::vector<std::string> names = statisticNames(statistics);
  const std::uint64_t first = firstBlock.is_none() ? 0 : blockNumber(firstBlock, "first_block");
  std::optional<std::uint64_t> count;
  if (!blockCount.is_none()) count = blockNumber(blockCount, "block_count");
  lumbra::FileTest t;
  bool cancelled = false;
  {
    SignalPoll poll;
    py::gil_scoped_release release;
    try {
      t = lumbra::test_file(name, narrow(n, "N"), threadsOf(threads), names, first, count, [&poll] { return poll(); });
    } catch (const lumbra::Cancelled&) {
      cancelled = true;
    }
  }
  if (cancelled) throw py::error_already_set();
  return fileTestDict(t);
}

// The bytes of a bytes-like object or a contiguous array, in memory order,
// held (not copied) while the view lives.
class BytesView {
 public:
  explicit BytesView(const py::object& data) {
    if (py::isinstance<py::str>(data) || PyObject_GetBuffer(data.ptr(), &view_, PyBUF_ANY_CONTIGUOUS) != 0) {
      PyErr_Clear();
      throw py::type_error("data must be a bytes-like object or a contiguous array, not " +
                           py::str(py::type::handle_of(data).attr("__name__")).cast<std::string>());
    }
  }
  ~BytesView() { PyBuffer_Release(&view_); }
  BytesView(const BytesView&) = delete;
  BytesView& operator=(const BytesView&) = delete;
  const void* data() const { return view_.buf; }
  std::size_t size() const { return static_cast<std::size_t>(view_.len); }

 private:
  Py_buffer view_{};
};

py::dict testBytes(const py::object& data, int n, const py::object& statistics, unsigned threads) {
  const std::vector<std::string> names = statisticNames(statistics);
  const BytesView bytes(data);
  lumbra::FileTest t;
  {
    py::gil_scoped_release release;
    t = lumbra::test_bytes(bytes.data(), bytes.size(), n, threads, names);
  }
  return fileTestDict(t);
}

// lumbra.Tester: one lumbra::Tester, its calls one at a time (the GIL is
// let go while it measures, so a lock keeps two threads from feeding it at
// once).
class PyTester {
 public:
  PyTester(int n, const py::object& statistics, unsigned threads) : tester_(n, statisticNames(statistics), threads) {}
  void update(const py::object& data) {
    const BytesView bytes(data);
    py::gil_scoped_release release;
    std::lock_guard lock(mutex_);
    tester_.update(bytes.data(), bytes.size());
  }
  py::dict summary() {
    lumbra::FileTest t;
    {
      py::gil_scoped_release release;
      std::lock_guard lock(mutex_);
      t = tester_.summary();
    }
    return fileTestDict(t);
  }
  std::uint64_t bytes() {
    py::gil_scoped_release release;
    std::lock_guard lock(mutex_);
    return tester_.bytes();
  }

 private:
  lumbra::Tester tester_;
  std::mutex mutex_;
};

// lumbra.merge: each summary a dict as test_file gives it (or the JSON text
// of one), read by the one reader of lumbra-kit merge.
py::dict mergeSummaries(const py::object& summaries, unsigned threads) {
  py::module_ json = py::module_::import("json");
  std::vector<std::string> texts, names;
  std::size_t i = 0;
  for (const py::handle item : summaries) {
    names.push_back("summaries[" + std::to_string(i++) + "]");
    if (py::isinstance<py::str>(item) || py::isinstance<py::bytes>(item)) {
      texts.push_back(item.cast<std::string>());
    } else if (py::isinstance<py::dict>(item)) {
      texts.push_back(json.attr("dumps")(item, py::arg("allow_nan") = false).cast<std::string>());
    } else {
      throw py::type_error("each summary must be a dict (as test_file gives it) or its JSON text, not " +
                           py::str(py::type::handle_of(item).attr("__name__")).cast<std::string>());
    }
  }
  lumbra::FileTest t;
  {
    py::gil_scoped_release release;
    t = lumbra::merge(texts, names, threads);
  }
  return fileTestDict(t);
}

py::dict testSizes(const py::object& path, const std::vector<Whole>& wholeSizes, const Whole& threads,
                   const py::object& statistics) {
  std::vector<int> sizes;
  for (const Whole& w : wholeSizes) sizes.push_back(narrow(w, "N"));
  const std::string name = pathOf(path);
  const std::vector<std::string> names = statisticNames(statistics);
  lumbra::SizesTest t;
  bool cancelled = false;
  {
    SignalPoll poll;
    py::gil_scoped_release release;
    try {
      t = lumbra::test_sizes(name, sizes, threadsOf(threads), names, [&poll] { return poll(); });
    } catch (const lumbra::Cancelled&) {
      cancelled = true;
    }
  }
  if (cancelled) throw py::error_already_set();
  py::dict d;
  d["block_sizes"] = t.block_sizes;
  py::list summaries;
  for (const lumbra::FileTest& f : t.summaries) summaries.append(fileTestDict(f));
  d["summaries"] = summaries;
  py::dict verdict;
  for (const auto& [key, v] : t.verdict) {
    py::dict one;
    one["p_value"] = v.p_value;
    one["least_p_value"] = v.least_p_value;
    one["block_size"] = v.block_size;
    one["sizes_judged"] = v.sizes_judged;
    verdict[py::str(key)] = one;
  }
  d["verdict"] = verdict;
  return d;
}

}  // namespace

PYBIND11_MODULE(_lumbra, m) {
  m.doc() = R"(Exact counts of walks in a band, exact p-values of bit blocks, ranking.

A block of n bits is a walk: up for a one, down for a zero. C(n, k, d) counts
the n-bit blocks with k ones whose walk stays within d of the straight line
to its end point. lumbra-kit does the same from the command line.

>>> import lumbra
>>> lumbra.count(10, 5, 2)
162
)";
  m.attr("__version__") = lumbra::version();

  // Derived first: pybind11 tries the translators last registered first.
  // lumbra.Error is the base of the other three, so `except lumbra.Error`
  // catches whatever the library raises; each is also the built-in kind
  // Python code expects (ValueError, OSError, MemoryError).
  static py::exception<lumbra::Error> error(m, "Error", PyExc_RuntimeError);
  const auto under = [](PyObject* builtin) { return py::make_tuple(error, py::handle(builtin)); };
  static py::exception<lumbra::ArgumentError> argumentError(m, "ArgumentError", under(PyExc_ValueError));
  static py::exception<lumbra::InputError> inputError(m, "InputError", under(PyExc_OSError));
  static py::exception<lumbra::ResourceError> resourceError(m, "ResourceError", under(PyExc_MemoryError));
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const lumbra::ArgumentError& e) {
      argumentError(e.what());
    } catch (const lumbra::InputError& e) {
      inputError(e.what());
    } catch (const lumbra::ResourceError& e) {
      resourceError(e.what());
    } catch (const lumbra::Error& e) {
      error(e.what());
    }
  });

  m.def("count", &count, py::arg("n"), py::arg("k"), py::arg("d"), py::arg("threads") = 0,
        R"(count(n, k, d, threads=0) -> int

The number C(n, k, d) of n-bit blocks with k one bits whose walk stays
within d of the line from (0, 0) to (n, 2k - n), exactly. Runs on `threads`
threads (0: one per core) without the GIL; Ctrl-C stops it.
Requires 1 <= n <= 2147483646, 0 <= k <= n, 0 <= d <= n (ValueError).

>>> lumbra.count(10, 5, 2)
162
>>> lumbra.count(100, 50, 10)
82873494099598732059103927056
)");
  m.def(
      "binomial",
      [](const Whole& n, const Whole& k) {
        lumbra::BigNat c;
        {
          py::gil_scoped_release release;
          c = lumbra::binomial(narrow(n, "N"), narrow(k, "K"));
        }
        return toInt(c);
      },
      py::arg("n"), py::arg("k"), R"(binomial(n, k) -> int

C(n, k): all n-bit blocks with k ones.

>>> lumbra.binomial(10, 5)
252
)");
  m.def(
      "p_ones",
      [](const Whole& mm, const Whole& k, bool exact) -> py::object {
        if (exact) return toFraction(lumbra::p_ones_exact(narrow(mm, "M"), narrow(k, "K")));
        return py::float_(lumbra::p_ones(narrow(mm, "M"), narrow(k, "K")));
      },
      py::arg("m"), py::arg("k"), py::arg("exact").noconvert() = false, R"(p_ones(m, k, exact=False) -> float or Fraction

P(|K' - m/2| >= |k - m/2|) for K' binomial(m, 1/2): how surprising the
balance of an m-bit block with k ones is. The float is the exact value
correctly rounded; exact=True gives the fractions.Fraction. 1 <= m <= 4096.

>>> lumbra.p_ones(10, 2, exact=True)
Fraction(7, 64)
>>> lumbra.p_ones(1024, 501)
0.5116828923135611
)");
  m.def(
      "p_deviation",
      [](const Whole& mm, const Whole& k, const Whole& d, bool exact) -> py::object {
        if (exact) return toFraction(lumbra::p_deviation_exact(narrow(mm, "M"), narrow(k, "K"), narrow(d, "D")));
        return py::float_(lumbra::p_deviation(narrow(mm, "M"), narrow(k, "K"), narrow(d, "D")));
      },
      py::arg("m"), py::arg("k"), py::arg("d"), py::arg("exact").noconvert() = false,
      R"(p_deviation(m, k, d, exact=False) -> float or Fraction

P(D' >= d | m, k) = (C(m, k) - C(m, k, d - 1)) / C(m, k), 1 for d = 0: how
surprising the deviation d of an m-bit block with k ones is, given k.
exact=True gives the fractions.Fraction. 1 <= m <= 4096, 0 <= k, d <= m.

>>> lumbra.p_deviation(16, 8, 8, exact=True)
Fraction(1, 6435)
>>> round(lumbra.p_deviation(1024, 501, 33), 6)
0.239503
)");
  m.def("block_stats", &blockStats, py::arg("data"), py::arg("n") = 1024, py::arg("as_array") = false,
        R"(block_stats(data, n=1024, as_array=False) -> list of tuples

The rows of `lumbra-kit blocks`: data (bytes, or text of 0 and 1) cut into
blocks of n bits, most significant bit first, the last perhaps shorter;
for each (block, offset, length, ones, deviation, p_ones, p_deviation).
as_array=True gives a NumPy structured array with those field names.

>>> lumbra.block_stats(b'\xd0', 4)
[(0, 0, 4, 3, 1, 0.625, 1.0), (1, 4, 4, 0, 0, 0.125, 1.0)]
>>> lumbra.block_stats('1101', 4)[0][3]
3
)");
  m.def("test_file", &testFile, py::arg("path"), py::arg("n") = 1024, py::arg("threads") = 0,
        py::arg("statistics") = py::none(), py::arg("first_block") = py::none(), py::arg("block_count") = py::none(),
        R"(test_file(path, n=1024, threads=0, statistics=None, first_block=None, block_count=None) -> dict

The verdict on a whole file, as `lumbra-kit test --format json` prints it:
a dict with block_size, first_block, block_count, blocks, bits, ones,
tests (by statistic: ones, deviation, runs, rank by default; statistics names
others as `test --statistics` does, a list or a comma list of runs,
longest_run, deviation_up, deviation_down, rank, linear_complexity,
collisions, or 'all'; each with passing,
passing_expected, passing_variance, passing_sd, passing_z, bins_observed,
bins_expected, chi2, dof, p_value), whole_file (balance and runs_test, each
p_value and ln_p, or None; runs, first_bit, last_bit), deviations
(observed, expected), shapes, file_bits and ranges. An unreadable file raises
lumbra.InputError (an OSError). first_block and block_count judge a slice,
blocks first_block .. first_block + block_count - 1, as `lumbra-kit test
--first-block --block-count` does; merge() takes the slices' summaries to
their union's.

>>> import os, tempfile
>>> with tempfile.NamedTemporaryFile() as f:
...     _ = f.write(bytes(range(256)) * 16); f.flush()
...     t = lumbra.test_file(f.name, n=64)
>>> t['blocks'], t['ones']
(512, 16384)
)");
  m.def("test_bytes", &testBytes, py::arg("data"), py::arg("n") = 1024, py::arg("statistics") = py::none(),
        py::arg("threads") = 0,
        R"(test_bytes(data, n=1024, statistics=None, threads=0) -> dict

The verdict on bytes in memory, as test_file gives it for a file holding
them (file_bits 8 * len): data is any bytes-like object or contiguous NumPy
array (its bytes, in memory order), read where it lies, without a copy; the
GIL is let go while it is measured.

>>> t = lumbra.test_bytes(bytes(range(256)) * 16, n=64)
>>> t['blocks'], t['ones']
(512, 16384)
)");
  py::class_<PyTester>(m, "Tester", R"(Tester(n=1024, statistics=None, threads=0)

The verdict on a stream fed in pieces, as hashlib's objects take theirs:
update(data) any number of times, with pieces of any length (the bits of a
block carried over from one piece to the next), summary() at any point: the
dict test_bytes gives for every byte fed so far. The GIL is let go while it
measures. Memory stays bounded however much is fed.

>>> t = lumbra.Tester(n=64)
>>> t.update(bytes(range(256)) * 8); t.update(bytes(range(256)) * 8)
>>> t.summary() == lumbra.test_bytes(bytes(range(256)) * 16, n=64)
True
)")
      .def(py::init<int, const py::object&, unsigned>(), py::arg("n") = 1024, py::arg("statistics") = py::none(),
           py::arg("threads") = 0)
      .def("update", &PyTester::update, py::arg("data"),
           "update(data): the next bytes of the stream (a bytes-like object or a contiguous array)")
      .def("summary", &PyTester::summary, "summary() -> dict: the verdict on every byte fed so far")
      .def_property_readonly("bytes", &PyTester::bytes, "How many bytes were fed");
  m.def("merge", &mergeSummaries, py::arg("summaries"), py::arg("threads") = 0,
        R"(merge(summaries, threads=0) -> dict

The verdict on the union of slices of one file from their summaries (each a
dict as test_file gives it, or the JSON text `lumbra-kit test --format json`
printed), exactly as `lumbra-kit merge` gives it; what merge refuses raises
lumbra.InputError (an OSError) with the words merge prints, naming the
summary as summaries[i].

>>> import tempfile
>>> with tempfile.NamedTemporaryFile() as f:
...     _ = f.write(bytes(range(256)) * 16); f.flush()
...     parts = [lumbra.test_file(f.name, 64, first_block=b, block_count=256) for b in (0, 256)]
...     whole = lumbra.test_file(f.name, 64)
>>> lumbra.merge(parts) == whole
True
)");
  m.def("test_sizes", &testSizes, py::arg("path"), py::arg("sizes") = std::vector<Whole>{{64, 0}, {256, 0}, {1024, 0}, {4096, 0}},
        py::arg("threads") = 0, py::arg("statistics") = py::none(),
        R"(test_sizes(path, sizes=[64, 256, 1024, 4096], threads=0, statistics=None) -> dict

The verdict on a whole file at several block sizes, read once, as
`lumbra-kit test -n 64,256,1024,4096 --format json` prints it: a dict with
block_sizes, summaries (each size's dict as test_file gives it, in the order
asked for) and verdict (by statistic: p_value, its least chi-square p-value
over the sizes times the sizes that judged it, at most 1; least_p_value;
block_size, where the least was found; sizes_judged; None where no size
judged it). statistics as for test_file. Sizes outside 1..4096 or given twice
raise lumbra.ArgumentError (a ValueError).

>>> import os, tempfile
>>> with tempfile.NamedTemporaryFile() as f:
...     _ = f.write(bytes(range(256)) * 16); f.flush()
...     t = lumbra.test_sizes(f.name, [64, 1024])
>>> [s['blocks'] for s in t['summaries']], t['verdict']['ones']['sizes_judged']
([512, 32], 2)
)");
  m.def(
      "rank",
      [](const std::string& bits) {
        lumbra::Ranked r;
        {
          py::gil_scoped_release release;
          r = lumbra::rank(bits);
        }
        return py::make_tuple(r.length, r.ones, r.deviation, toInt(r.index));
      },
      py::arg("bits"), R"(rank(bits) -> (length, ones, deviation, index)

A block (text of 0 and 1) and its index among the blocks of its length,
ones and deviation, ordered as binary numbers: `lumbra-kit rank`'s columns.

>>> lumbra.rank('0100100001100101')
(16, 6, 3, 2235)
)");
  m.def(
      "unrank",
      [](const Whole& mm, const Whole& k, const Whole& d, const py::int_& index) {
        const lumbra::BigNat i = toBigNat(index, "INDEX");
        py::gil_scoped_release release;
        return lumbra::unrank(narrow(mm, "M"), narrow(k, "K"), narrow(d, "D"), i);
      },
      py::arg("m"), py::arg("k"), py::arg("d"), py::arg("index"), R"(unrank(m, k, d, index) -> str

The block of `index` among the m-bit blocks with k ones within d of their
line, as text of 0 and 1: the inverse of rank. index < count(m, k, d).

>>> lumbra.unrank(16, 6, 3, 2235)
'0100100001100101'
)");

  m.def(
      "shape",
      [](const py::bytes& data, const Whole& n, const Whole& d, const std::string& alphabet) {
        return shaping(lumbra::shape, data, n, d, alphabet);
      },
      py::arg("data"), py::arg("n") = 256, py::arg("d") = 4, py::arg("alphabet") = "bits",
      R"(shape(data, n=256, d=4, alphabet='bits') -> bytes

The bytes `lumbra-kit shape` writes for data: balanced words of n bits
whose walk stays within d of 0, as packed bits, or with alphabet 'text' a
line of 0 and 1 per word, or with 'dna' a line of n bases per word.

>>> s = lumbra.shape(b'hello', n=16, d=2, alphabet='text')
>>> s.splitlines()[0], lumbra.unshape(s, n=16, d=2, alphabet='text')
(b'0010101010101011', b'hello')
)");
  m.def(
      "unshape",
      [](const py::bytes& stream, const Whole& n, const Whole& d, const std::string& alphabet) {
        return shaping(lumbra::unshape, stream, n, d, alphabet);
      },
      py::arg("stream"), py::arg("n") = 256, py::arg("d") = 4, py::arg("alphabet") = "bits",
      R"(unshape(stream, n=256, d=4, alphabet='bits') -> bytes

The data of a stream that shape wrote with the same n, d and alphabet. A
damaged stream raises lumbra.InputError naming the word (from 0).

>>> lumbra.unshape(lumbra.shape(b'\x00\xff'))
b'\x00\xff'
)");
  m.def(
      "shape_info",
      [](const Whole& n, const Whole& d) {
        const lumbra::ShapeInfo i = lumbra::shape_info(narrow(n, "N"), narrow(d, "D"));
        py::dict r;
        r["n"] = i.n;
        r["d"] = i.d;
        r["bits_per_word"] = i.bits_per_word;
        r["rate"] = i.rate;
        r["capacity"] = i.capacity;
        r["efficiency"] = i.efficiency;
        r["sum_bound"] = i.sum_bound;
        r["longest_run"] = i.longest_run;
        return r;
      },
      py::arg("n"), py::arg("d"), R"(shape_info(n, d) -> dict

What a word of n bits within d carries, the columns of `lumbra-kit shape
--info`: n, d, bits_per_word, rate, capacity, efficiency, sum_bound,
longest_run.

>>> lumbra.shape_info(256, 4)['bits_per_word']
236
)");
  m.def(
      "ks_2samp",
      [](const py::object& xs, const py::object& ys, const py::str& alternativeName, bool exact) {
        const std::string alternative = alternativeName;
        const std::vector<double> x = sampleOf(xs, "x"), y = sampleOf(ys, "y");
        lumbra::SmirnovAlternative alt = lumbra::SmirnovAlternative::two_sided;
        if (alternative == "less")
          alt = lumbra::SmirnovAlternative::less;
        else if (alternative == "greater")
          alt = lumbra::SmirnovAlternative::greater;
        else if (alternative != "two-sided")
          throw lumbra::ArgumentError("the alternative must be two-sided, less or greater, not '" + alternative +
                                      "'");
        lumbra::SmirnovResult r;
        bool cancelled = false;
        {
          SignalPoll poll;
          py::gil_scoped_release release;
          try {
            r = lumbra::ks_2samp(x, y, alt, exact, [&poll] { return poll(); });
          } catch (const lumbra::Cancelled&) {
            cancelled = true;
          }
        }
        if (cancelled) throw py::error_already_set();
        if (exact) return py::make_tuple(r.statistic, toFraction(*r.pvalue_exact));
        return py::make_tuple(r.statistic, r.pvalue);
      },
      py::arg("x"), py::arg("y"), py::arg("alternative") = "two-sided", py::arg("exact").noconvert() = false,
      R"(ks_2samp(x, y, alternative='two-sided', exact=False) -> (statistic, pvalue)

The two-sample Smirnov test, in the order SciPy's ks_2samp returns: the
statistic D (two-sided max|F1 - F2|, 'greater' max(F1 - F2), 'less'
max(F2 - F1)) and the exact permutation p-value, ties included, as
`lumbra-kit smirnov` gives them; exact=True gives the p-value as a
fractions.Fraction.

>>> lumbra.ks_2samp([1, 2, 3], [4, 5, 6], exact=True)
(1.0, Fraction(1, 10))
)");
}
