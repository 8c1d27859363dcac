// SPDX-License-Identifier: GPL-3.0-or-later
// velmora-scan as a library: the one header a program includes to make streak images. A
// request names the input, the slits, the frames and the outputs; run() makes and writes
// them, for_each_strip() hands the strips out one by one as they are cut. Neither prints,
// exits or touches signals: failures come back as an Error, messages and progress go to
// the caller's Reporter, and the caller says through Stopping when to give up. A process
// may run any number of requests, one after the other.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/result.h"
#include <vector>

#include "scan/options.h"
#include "scan/request.h"
#include "scan/output/strip_image.h"
#include "scan/progress.h"
#include "scan/time/timeline.h"

namespace scan {

// velmora-scan's exit statuses and why a request was not carried out (base/error.h): the
// one error every step of a run returns.
using ExitStatus = base::ExitStatus;
using Error = base::Error;

// The caller's word on stopping, asked now and then: 0 to go on, else a number that says
// why (the program passes the signal's). `abandon`: stop at once, leave no file. `finish`:
// an input of unknown length ends here and its image is kept.
struct Stopping {
  std::function<int()> abandon;
  std::function<int()> finish;
};

// Where a run's words go: warnings and notes, one line each without the program's name,
// and the progress of its strips.
class Reporter {
 public:
  virtual ~Reporter() = default;
  virtual void say(const std::string& line) = 0;
  // The progress of the run that reads the input; a silent one unless overridden.
  virtual Progress& progress() { return silent_; }

 private:
  Progress silent_;
};

// Makes and writes the images (and timelines) `request` asks for: all or none.
[[nodiscard]] base::Result<void, Error> run(const Request& request, Reporter& reporter,
                                            const Stopping& stopping = {});

// One slit's image and the record of each of its strips, as a run made them: packed RGB
// rows, 8 or 16 bits (big-endian) a component, the band of --ticks included; the records
// are those --timeline writes.
struct Made {
  StripImage image;
  std::vector<StripRecord> records;
  Request request;  // the slit's own, as its run laid it out (write() takes it)
};

// Makes the images of `request` as run() does and hands them back, one per slit in the
// order given; OUTPUT (and the timeline) are written too unless OUTPUT is empty. Nothing
// for an OUTPUT --skip-existing skips.
[[nodiscard]] base::Result<std::vector<Made>, Error> make(const Request& request,
                                                          Reporter& reporter,
                                                          const Stopping& stopping = {});

// Writes `image`, a Made's or one of its size and depth, to request.output (PNG or TIFF by
// its name) exactly as the run of `request` writes it: the same bytes, under a temporary
// name, replacing a file only with --force.
[[nodiscard]] base::Result<void, Error> write(const StripImage& image, const Request& request,
                                              const Stopping& stopping = {});

// One strip as cut: `width` x `height` packed RGB, 8 or 16 bits (big-endian) a component.
struct Strip {
  int64_t index = 0;  // 0, 1, ...
  int64_t frame = 0;  // the input's frame it was cut from
  double seconds = 0;  // that frame's time from the input's start
  int width = 0, height = 0;
  int pixel_bytes = 3;  // 3 or 6
  const uint8_t* pixels = nullptr;  // rows `width * pixel_bytes` apart, valid during the call
  std::string file;  // an image sequence's image
  StripNote note = StripNote::none;  // as --timeline notes it
  std::optional<WallTime> clock;  // a stream's: the moment the strip came
};

// Cuts the strips of `request` (its first slit; OUTPUT is not written) and hands each to
// `take` as it comes; a failure `take` returns ends the run with it.
[[nodiscard]] base::Result<void, Error> for_each_strip(
    const Request& request, Reporter& reporter,
    const std::function<base::Result<void, Error>(const Strip&)>& take,
    const Stopping& stopping = {});

// Whether `request` reads a stream (a pipe, a URL, a device, a watched folder), whose
// length is not known:
// a program lets the first signal finish such a run rather than abandon it.
bool reads_stream(const Request& request);

// The machine's cores, as --threads defaults to them.
int default_threads();

}  // namespace scan
