// SPDX-License-Identifier: GPL-3.0-or-later
// velmora._velmora: the compiled half of the Python module. It takes the command line's own
// words (velmora/__init__.py turns keyword arguments into them), runs the library with the
// GIL released, and hands images and strips to NumPy in the memory the run made them in.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <pythread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <cmath>
#include <csignal>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "decode/av_error.h"
#include "scan/scan.h"
#include "velmora/version.h"

namespace py = pybind11;

namespace {

// The module's exceptions, made when it is imported.
py::object usage_error, input_error;

// Messages of a run, said in Python once it is over (as warnings).
class Collected : public scan::Reporter {
 public:
  void say(const std::string& line) override {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
  }
  std::vector<std::string> lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

// Ctrl-C during a run: Python's handler only notes the signal while the GIL is released, so
// the run's question "stop?" takes the GIL now and then on the thread that can run the
// handler (the main one) and lets it raise. Other threads only read the answer.
class SignalWatch {
 public:
  SignalWatch() {
    const py::object main = py::module_::import("threading").attr("main_thread")();
    watching_ = main.attr("ident").cast<unsigned long>() == PyThread_get_thread_ident();
  }
  int operator()() {
    if (const int why = stop_.load()) return why;
    if (!watching_ || std::this_thread::get_id() != caller_) return 0;
    const auto now = std::chrono::steady_clock::now();
    if (now - last_ < std::chrono::milliseconds(100)) return 0;
    last_ = now;
    py::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() != 0) {
      raised_.emplace();  // fetches the exception the handler raised
      stop_ = SIGINT;
    }
    return stop_.load();
  }
  // With the GIL: the exception a handler raised, raised again; else nothing.
  void raise_if_raised() {
    if (raised_) {
      py::error_already_set raised = std::move(*raised_);
      raised_.reset();
      throw raised;
    }
  }

 private:
  bool watching_ = false;
  std::thread::id caller_ = std::this_thread::get_id();
  std::chrono::steady_clock::time_point last_{};
  std::atomic<int> stop_{0};
  std::optional<py::error_already_set> raised_;
};

[[noreturn]] void raise_interrupt() {
  PyErr_SetNone(PyExc_KeyboardInterrupt);
  throw py::error_already_set();
}

[[noreturn]] void raise_error(const scan::Error& error) {
  if (error.status == scan::ExitStatus::interrupted) raise_interrupt();
  const py::object& type = error.status == scan::ExitStatus::usage ? usage_error : input_error;
  PyErr_SetString(type.ptr(), error.message.c_str());
  throw py::error_already_set();
}

scan::Request parse(const std::vector<std::string>& words) {
  std::vector<std::string> args{"velmora-scan"};
  args.insert(args.end(), words.begin(), words.end());
  scan::Parsed parsed = scan::parse_options(args);
  if (parsed.action == scan::Parsed::Action::usage_error) {
    PyErr_SetString(usage_error.ptr(), parsed.error.c_str());
    throw py::error_already_set();
  }
  if (parsed.action != scan::Parsed::Action::run) {
    PyErr_SetString(usage_error.ptr(), "--help and --version are not for a scan");
    throw py::error_already_set();
  }
  return parsed.request;
}

// 16-bit components as the machine reads them; the run keeps them big-endian, as PNG and
// TIFF store them.
void swap_deep(uint8_t* bytes, int64_t count) {
  for (int64_t i = 0; i + 1 < count; i += 2) std::swap(bytes[i], bytes[i + 1]);
}

// Whether the image's components are 16-bit (RGB of 6 bytes a pixel, grey of 2), which the
// run keeps big-endian.
bool sixteen_bit(int pixel_bytes) { return pixel_bytes == 6 || pixel_bytes == 2; }

// An array over `image`'s memory, which the array then owns: (height, width, 3) for RGB,
// (height, width) for a grey stack's values (uint8, uint16 or float32).
py::array image_array(scan::StripImage image) {
  const scan::ImageSize size = image.size();
  const bool deep = sixteen_bit(size.pixel_bytes);
  const bool grey = size.pixel_bytes % 3 != 0;
  auto owned = std::make_unique<scan::StripImage>(std::move(image));
  const uint8_t* pixels = owned->row(0);
  py::capsule owner(owned.get(), [](void* p) { delete static_cast<scan::StripImage*>(p); });
  owned.release();  // the capsule's now
  if (grey) {
    const std::vector<py::ssize_t> shape{size.height, size.width};
    const std::vector<py::ssize_t> strides{size.width * size.pixel_bytes, size.pixel_bytes};
    if (size.pixel_bytes == 4) return py::array(py::dtype::of<float>(), shape, strides, pixels, owner);
    if (deep) return py::array(py::dtype::of<uint16_t>(), shape, strides, pixels, owner);
    return py::array(py::dtype::of<uint8_t>(), shape, strides, pixels, owner);
  }
  const int64_t component = deep ? 2 : 1;
  const std::vector<py::ssize_t> shape{size.height, size.width, 3};
  const std::vector<py::ssize_t> strides{size.width * size.pixel_bytes, size.pixel_bytes, component};
  if (deep) return py::array(py::dtype::of<uint16_t>(), shape, strides, pixels, owner);
  return py::array(py::dtype::of<uint8_t>(), shape, strides, pixels, owner);
}

// A name as the file system gives it: bytes that are not UTF-8 kept as os.fsdecode keeps them.
py::str file_name(const std::string& bytes) {
  PyObject* name = PyUnicode_DecodeFSDefaultAndSize(bytes.data(), static_cast<py::ssize_t>(bytes.size()));
  if (name == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(name);
}

const char* note_name(scan::StripNote note) {
  switch (note) {
    case scan::StripNote::repeat: return "repeat";
    case scan::StripNote::gap: return "gap";
    case scan::StripNote::no_clock: return "no-clock";
    case scan::StripNote::damaged: return "damaged";
    case scan::StripNote::none: break;
  }
  return "";
}

// Nanoseconds since 1970 in UTC when the offset is known, else on the clock as stated;
// numpy's NaT (the smallest int64) without a clock.
int64_t clock_nanos(const std::optional<scan::WallTime>& clock) {
  if (!clock) return INT64_MIN;
  return clock->utc_micros().value_or(clock->civil_micros) * 1000;
}

// The timeline's columns; velmora/__init__.py makes them one structured array.
py::dict timeline_columns(const std::vector<scan::StripRecord>& records) {
  const auto n = static_cast<py::ssize_t>(records.size());
  py::array_t<int64_t> strip(n), position(n), frame(n), clock(n);
  py::array_t<double> seconds(n);
  py::list file, note;
  for (py::ssize_t i = 0; i < n; ++i) {
    const scan::StripRecord& r = records[static_cast<size_t>(i)];
    strip.mutable_at(i) = r.strip;
    position.mutable_at(i) = r.position;
    frame.mutable_at(i) = r.frame;
    seconds.mutable_at(i) = r.seconds ? *r.seconds : std::nan("");
    clock.mutable_at(i) = clock_nanos(r.clock);
    file.append(file_name(r.file));
    note.append(note_name(r.note));
  }
  py::dict columns;
  columns["strip"] = strip;
  columns["position"] = position;
  columns["frame"] = frame;
  columns["seconds"] = seconds;
  columns["clock"] = clock;
  columns["file"] = file;
  columns["note"] = note;
  return columns;
}

// The run of `words`; with `in_memory`, no OUTPUT is written (the words' OUTPUT only holds
// its place on the command line). Each slit as (image, timeline columns, its request), and
// the run's messages.
py::tuple make(const std::vector<std::string>& words, bool in_memory) {
  scan::Request request = parse(words);
  if (in_memory) request.output.clear();
  Collected reporter;
  SignalWatch watch;
  const scan::Stopping stopping{[&] { return watch(); }, {}};
  std::optional<base::Result<std::vector<scan::Made>, scan::Error>> made;
  {
    py::gil_scoped_release released;
    made.emplace(scan::make(request, reporter, stopping));
    if (*made)
      for (scan::Made& m : **made)
        if (sixteen_bit(m.image.size().pixel_bytes))
          swap_deep(m.image.plane().pixels, m.image.size().bytes());
  }
  watch.raise_if_raised();
  py::list said;
  for (const std::string& line : reporter.lines()) said.append(line);
  if (!*made) {
    if ((*made).error().status == scan::ExitStatus::interrupted) raise_interrupt();
    raise_error((*made).error());
  }
  py::list slits;
  for (scan::Made& m : **made) {
    py::dict timeline = timeline_columns(m.records);
    slits.append(py::make_tuple(image_array(std::move(m.image)), timeline,
                                py::cast(std::move(m.request))));
  }
  return py::make_tuple(slits, said);
}

// `image` written as the run of `request` writes OUTPUT, to `path`.
void write_image(py::array image, const scan::Request& made, const std::string& path, bool force) {
  const bool deep = image.dtype().is(py::dtype::of<uint16_t>());
  if (!deep && !image.dtype().is(py::dtype::of<uint8_t>()))
    throw py::type_error("the image must be uint8 or uint16");
  if (image.ndim() != 3 || image.shape(2) != 3)
    throw py::value_error("the image must be of shape (height, width, 3)");
  scan::StripImage copy;
  const scan::ImageSize size{image.shape(1), image.shape(0), deep ? 6 : 3};
  if (auto had = copy.allocate(size); !had) throw std::bad_alloc();
  // Row by row, whatever the array's strides: numpy lays it out packed for us.
  py::array packed = py::array::ensure(image, py::array::c_style);
  std::memcpy(copy.plane().pixels, packed.data(), static_cast<size_t>(size.bytes()));
  scan::Request request = made;
  request.output = path;
  request.force = force;
  SignalWatch watch;
  const scan::Stopping stopping{[&] { return watch(); }, {}};
  std::optional<base::Result<void, scan::Error>> written;
  {
    py::gil_scoped_release released;
    if (deep) swap_deep(copy.plane().pixels, size.bytes());
    written.emplace(scan::write(copy, request, stopping));
  }
  watch.raise_if_raised();
  if (!*written) {
    if ((*written).error().status == scan::ExitStatus::interrupted) raise_interrupt();
    raise_error((*written).error());
  }
}

// One strip as handed out, copied out of the run's memory into its own.
struct Handed {
  int64_t index = 0, frame = 0, position = 0;
  double seconds = 0;
  std::optional<scan::WallTime> clock;
  std::string file;
  scan::StripNote note = scan::StripNote::none;
  scan::StripImage pixels;
};

// The strips of a request, cut on a thread of their own and waiting in a short queue for
// Python to take them; close() (or the object's end) stops the run, closes the input and
// joins the thread.
class StripFeed {
 public:
  explicit StripFeed(const std::vector<std::string>& words) : request_(parse(words)) {
    request_.output.clear();
    worker_ = std::thread([this] { feed(); });
  }
  ~StripFeed() { stop(); }
  StripFeed(const StripFeed&) = delete;
  StripFeed& operator=(const StripFeed&) = delete;

  // The next strip as (pixels, (strip, position, frame, seconds, clock, file, note)), or
  // StopIteration when the run is over; the run's failure raised when it failed.
  py::tuple next() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (!queue_.empty()) break;
      if (ended_) {
        lock.unlock();
        join();
        if (failure_ && failure_->status != scan::ExitStatus::interrupted) raise_error(*failure_);
        throw py::stop_iteration();
      }
      bool interrupted = false;
      {
        py::gil_scoped_release released;
        changed_.wait_for(lock, std::chrono::milliseconds(100));
      }
      lock.unlock();
      interrupted = PyErr_CheckSignals() != 0;
      if (interrupted) {
        py::error_already_set raised;
        stop();
        throw raised;
      }
      lock.lock();
    }
    Handed strip = std::move(queue_.front());
    queue_.pop_front();
    changed_.notify_all();
    lock.unlock();
    if (sixteen_bit(strip.pixels.size().pixel_bytes))
      swap_deep(strip.pixels.plane().pixels, strip.pixels.size().bytes());
    const py::tuple row = py::make_tuple(strip.index, strip.position, strip.frame, strip.seconds,
                                         clock_nanos(strip.clock),
                                         file_name(strip.file),
                                         note_name(strip.note));
    return py::make_tuple(image_array(std::move(strip.pixels)), row);
  }

  std::vector<std::string> said() { return reporter_.lines(); }

  // Asks the run to stop and waits for its thread (which closes the input).
  void stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      cancelled_ = true;
      queue_.clear();
    }
    changed_.notify_all();
    py::gil_scoped_release released;
    join();
  }

 private:
  void join() {
    if (worker_.joinable()) worker_.join();
  }

  void feed() {
    const scan::Stopping stopping{[this] { return cancelled_.load() ? SIGINT : 0; }, {}};
    const bool stream = scan::reads_stream(request_);
    auto done = scan::for_each_strip(request_, reporter_, [&](const scan::Strip& s)
                                                              -> base::Result<void, scan::Error> {
      Handed strip;
      strip.index = s.index;
      strip.frame = s.frame;
      strip.seconds = s.seconds;
      strip.position = s.index * (request_.cut == strips::Cut::vertical ? s.width : s.height);
      strip.file = s.file;
      strip.note = s.note;
      if (stream) strip.clock = s.clock;
      if (auto had = strip.pixels.allocate({s.width, s.height, s.pixel_bytes}, "a strip"); !had)
        return base::failure(had.error());
      std::memcpy(strip.pixels.plane().pixels, s.pixels,
                  static_cast<size_t>(strip.pixels.size().bytes()));
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return cancelled_ || queue_.size() < queue_limit; });
      if (cancelled_) return base::failure(scan::Error{scan::ExitStatus::interrupted, "closed"});
      queue_.push_back(std::move(strip));
      changed_.notify_all();
      return {};
    }, stopping);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!done) failure_ = done.error();
    ended_ = true;
    changed_.notify_all();
  }

  static constexpr size_t queue_limit = 8;
  scan::Request request_;
  Collected reporter_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Handed> queue_;
  std::atomic<bool> cancelled_{false};
  bool ended_ = false;
  std::optional<scan::Error> failure_;
  std::thread worker_;
};

}  // namespace

PYBIND11_MODULE(_velmora, m) {
  m.doc() = "The compiled half of velmora: velmora-scan's library. Use the velmora module.";
  m.attr("__version__") = VELMORA_VERSION;
  // Every failure has its own message, as in velmora-scan; FFmpeg's notes on damaged data
  // would only add noise to a notebook.
  decode::set_ffmpeg_log(decode::FfmpegLog::none);
  usage_error = py::reinterpret_steal<py::object>(PyErr_NewExceptionWithDoc(
      "velmora.UsageError",
      "A request velmora-scan refuses as wrong usage (its exit status 2).", PyExc_ValueError,
      nullptr));
  input_error = py::reinterpret_steal<py::object>(PyErr_NewExceptionWithDoc(
      "velmora.InputError",
      "An input that cannot be read or an output that cannot be written (velmora-scan's "
      "exit status 1).",
      PyExc_OSError, nullptr));
  m.attr("UsageError") = usage_error;
  m.attr("InputError") = input_error;
  py::class_<scan::Request>(m, "Request", "A slit's request as its run laid it out.");
  m.def("make", &make, py::arg("words"), py::arg("in_memory"),
        "Runs velmora-scan's words; ([(image, timeline columns, request)], messages).");
  m.def("write", &write_image, py::arg("image"), py::arg("request"), py::arg("path"),
        py::arg("force"), "Writes an image as the run of `request` writes OUTPUT.");
  py::class_<StripFeed>(m, "StripFeed", "The strips of a request, as they are cut.")
      .def(py::init<const std::vector<std::string>&>(), py::arg("words"))
      .def("next", &StripFeed::next)
      .def("said", &StripFeed::said)
      .def("close", &StripFeed::stop);
}
