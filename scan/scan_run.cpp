// SPDX-License-Identifier: GPL-3.0-or-later
// The loop of a run: the input is opened, each slit's image planned, and each chosen picture
// cut into its strips and handed to the images' sinks, whose files then land together.
// Several slits share one input: it is read once, and each picture goes to every image.
#include "scan/scan.h"

#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "scan/input/frame_source.h"
#include "scan/input/stream_reader.h"
#include "scan/input/tiff_stack.h"
#include "scan/nights.h"
#include "scan/output/output_file.h"
#include "scan/output/png_output.h"
#include "scan/output/strip_image.h"
#include "scan/output/tiff_output.h"
#include "scan/reading.h"
#include "scan/selections.h"
#include "scan/slit_image.h"
#include "scan/video_run.h"

namespace scan {
namespace {

using strips::Cut;
using Step = base::Result<void, Error>;
using StripTaker = std::function<base::Result<void, Error>(const Strip&)>;

// What the caller said when it asked to stop: `abandon`'s reason, else `finish`'s.
int asked(const std::function<int()>& question) { return question ? question() : 0; }

// Reads the chosen pictures and lays each one's strip into every image, the first image's
// plan choosing them. A picture of another size than the first (clips joined end to end) is
// scaled whole to the first picture's size and cut at the same place, as a player shows it
// in one window. A picture that cannot be converted repeats the strip before it, as a
// damaged frame does; the first strip has none and stays black.
Step cut_strips(Reading& input, const std::vector<SlitImage*>& images, const Asked& asked) {
  SlitImage& lead = *images.front();
  const Request& o = lead.request();
  const Plan& plan = lead.plan();
  FrameSource& source = input.source();
  if (!source.choose(plan.choice)) {
    if (asked.abandon() != 0) return base::failure(asked.interrupted());
    return base::failed(o.input + ": cannot go to frame " + std::to_string(plan.choice.from));
  }
  for (SlitImage* image : images) image->start();
  for (SlitImage* image : images)
    if (Step bad = image->restore(); !bad) return bad;
  // Several slits read one watch: their states must have stopped at the same image.
  const int64_t restored = lead.restored();
  for (SlitImage* image : images)
    if (image->restored() != restored)
      return base::failed(image->state_file() + ": holds another number of strips than " +
                          lead.state_file() + "; remove the OUTPUTs to start anew");
  for (int64_t k = restored; k < plan.strips; ++k) {
    if (asked.abandon() != 0) return base::failure(asked.interrupted());
    if (asked.finish() != 0) break;
    int64_t frame = 0;
    const bool gap = o.bin > 0 && plan.strip_frames.frames[k] < 0;
    const AVFrame* picture =
        gap ? nullptr
            : input.next(o.bin > 0 ? plan.strip_frames.frames[k] : -1, frame, lead.progress());
    if (asked.abandon() != 0) return base::failure(asked.interrupted());
    // A stream ends where it ends, or where a signal ended it.
    if (picture == nullptr && !gap && !source.length_known() && !source.failure()) break;
    if (picture == nullptr && !gap)
      return input.ended_early(o.bin > 0 ? plan.strip_frames.frames[k]
                                         : plan.choice.from + k * plan.choice.every);
    // A picture that did not decode shows the last good one again.
    const bool repeated = picture != nullptr && source.stamp().repeat;
    if (Step bad = lead.follow_period(k); !bad) return bad;
    if (picture != nullptr && !repeated && source.stamp().damaged) input.count_damaged();
    for (SlitImage* image : images)
      if (Step bad = image->lay(k, picture, repeated); !bad) return bad;
    lead.progress().update(k + 1);
  }
  return {};
}

// One slit's image, made and put in place.
Step run_one(SlitImage& image, Reporter& reporter, const Stopping& stopping) {
  if (image.skipped()) return {};
  const auto failed = [&](const Error& error) { return base::failure(image.abandon(error)); };
  if (Step bad = image.check(); !bad) return failed(bad.error());
  Reading input(image.request(), reporter, stopping);
  if (Step bad = input.open(image.resumed()); !bad) return failed(bad.error());
  if (Step bad = image.prepare(input, true); !bad) return failed(bad.error());
  if (Step bad = cut_strips(input, {&image}, Asked(stopping)); !bad) return failed(bad.error());
  if (Step bad = image.finish(); !bad) return failed(bad.error());
  if (Step bad = image.commit(); !bad) return failed(bad.error());
  return {};
}

// Several slits: the input is opened and decoded once, on the first slit's request, and
// each picture goes to every slit's image. Every image is written under its temporary name
// first and synced, and renamed only when all are complete; a failure or an interrupt leaves
// none, and an image that cannot be put in place (one that appeared meanwhile, without
// --force) takes back those already put. With --skip-existing the images already there are
// skipped and the others made.
Step run_several(const std::vector<Request>& all, Reporter& reporter,
                    const Stopping& stopping, std::vector<Made>& kept_images) {
  std::vector<Request> each;
  for (const Request& o : all)
    if (!SlitImage(o, reporter, stopping).skipped()) each.push_back(o);
  if (each.empty()) return {};
  std::optional<Reading> input;  // the first image's, which reads it
  std::vector<std::unique_ptr<SlitImage>> images;
  auto failed = [&](SlitImage& image, const Error& failure) {
    for (auto& other : images)
      if (other.get() != &image) other->discard();
    return base::failure(image.abandon(failure));
  };
  for (const Request& o : each) {
    images.push_back(std::make_unique<SlitImage>(o, reporter, stopping));
    SlitImage& image = *images.back();
    if (Step bad = image.check(); !bad) return failed(image, bad.error());
    if (!input) {
      input.emplace(o, reporter, stopping);
      if (Step bad = input->open(image.resumed()); !bad) return failed(image, bad.error());
    }
    if (Step bad = image.prepare(*input, images.size() == 1); !bad)
      return failed(image, bad.error());
  }
  std::vector<SlitImage*> all_images;
  for (auto& image : images) all_images.push_back(image.get());
  if (Step made = cut_strips(*input, all_images, Asked(stopping)); !made)
    return failed(*images.front(), made.error());
  for (auto& image : images)
    if (Step bad = image->finish(); !bad) return failed(*image, bad.error());
  for (auto& image : images)
    if (Step bad = image->seal(); !bad) return failed(*image, bad.error());
  for (size_t i = 0; i < images.size(); ++i) {
    if (Step bad = images[i]->land(); !bad) {
      for (size_t j = 0; j < i; ++j) images[j]->take_back();
      return failed(*images[i], bad.error());
    }
  }
  for (auto& image : images) {
    image->summarize();
    if (auto kept = image->made()) kept_images.push_back(std::move(*kept));
  }
  return {};
}

// A stack's kymograph runs down, time from the top, as microscopists read one, unless the
// time axis or the cut is given. Files only: a stream is never a stack.
Request with_stack_axis(Request o) {
  if (o.time_given || o.cut_given || !o.input_format.empty() || is_stream_input(o.input, o.input_format) ||
      !TiffStack::named_stack(o.input))
    return o;
  o.time_down = true;
  o.cut = Cut::horizontal;
  return o;
}

// Several channels of a stack: each its own run, its image kept, then all written together
// as the channels of one ImageJ TIFF (pages in channel order: one time point, one slice),
// or none of them.
Step run_channels(const Request& request, const std::vector<int>& channels, Reporter& reporter,
                  const Stopping& stopping, std::vector<Made>& made) {
  const std::string what = request.input + ": " + std::to_string(channels.size()) + " channels";
  if (request.order.size() > 1)
    return base::usage(what + " are made along one slit; pick one with --channel N");
  if (!request.timeline.empty())
    return base::usage("--timeline: " + what + "; pick one with --channel N for it");
  if (request.pyramid || !request.compress_text.empty())
    return base::usage(std::string(request.pyramid ? "--pyramid" : request.compress_text) +
                           ": an ImageJ TIFF is stored in uncompressed strips");
  if (request.flush.given) return base::usage(request.flush.text + ": " + what + "; not with several");
  if (!request.output.empty()) {
    if (output_format(request.output) != Format::tiff)
      return base::usage(what + " are written to a TIFF OUTPUT (.tif) only, as the "
                                "channels of an ImageJ TIFF; pick one with --channel N");
    struct stat st {};
    if (request.skip_existing && stat(request.output.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
      if (!request.quiet) reporter.say(request.output + ": exists; skipped (--skip-existing)");
      return {};
    }
    if (base::Status ok = check_output(request.output, request.force); !ok)
      return base::failure(ok.error());
  }
  std::vector<Made> kept;
  ImageJScale scale;
  for (int channel : channels) {
    Request one = with_line_layout(with_selection_width(request));
    one.channel = channel;
    one.channels.clear();
    one.output.clear();
    one.keep = true;
    SlitImage run(one, reporter, stopping);
    if (Step failed = run_one(run, reporter, stopping); !failed) return failed;
    if (kept.empty()) scale = run.imagej_scale();
    std::optional<Made> image = run.made();
    if (!image) return base::failed(what + ": a channel's image was not kept");
    image->request.output = request.output;
    kept.push_back(std::move(*image));
  }
  if (!request.output.empty()) {
    TempOutput output(request.output);
    if (base::Status ok = output.create(); !ok) return base::failure(ok.error());
    std::vector<const StripImage*> images;
    for (const Made& m : kept) images.push_back(&m.image);
    if (asked(stopping.abandon) != 0)
      return base::failure(Error{ExitStatus::interrupted, "interrupted; no image written", asked(stopping.abandon)});
    if (base::Status ok = write_imagej_tiff(fileno(output.stream()), images, scale); !ok)
      return base::failure(ok.error().within(request.output + ": "));
    if (base::Status ok = output.commit(request.force); !ok) return base::failure(ok.error());
  }
  if (request.keep)
    for (Made& m : kept) made.push_back(std::move(m));
  return {};
}

// A request's run, one slit or several; `made` gets what the runs kept.
Step run_request(const Request& given, Reporter& reporter, const Stopping& stopping,
                    std::vector<Made>& made) {
  auto read = with_selections(with_stack_axis(given));
  if (!read) return base::failure(read.error());
  const Request& request = *read;
  // A stack's channels, when it has several and one is not picked: every one, or the list.
  const bool stack = request.input_format.empty() && !request.watch &&
                     !is_stream_input(request.input, request.input_format) &&
                     TiffStack::named_stack(request.input);
  if (!request.channels.empty() && !stack)
    return base::failed(request.input + ": --z, --channel and --frame-interval are for a TIFF stack of many pages");
  if (stack && request.channel == 0) {
    std::vector<int> channels = request.channels;
    if (channels.empty())
      for (int c = 1; c <= TiffStack::channels_in(request.input); ++c) channels.push_back(c);
    if (channels.size() > 1) return run_channels(request, channels, reporter, stopping, made);
  }
  if (request.order.size() > 1) {
    std::vector<Request> each = each_slit(request);
    for (Request& o : each) o = with_line_layout(with_selection_width(o));
    return run_several(each, reporter, stopping, made);
  }
  const Request laid = with_line_layout(with_selection_width(request));
  SlitImage image(laid, reporter, stopping);
  if (Step failed = run_one(image, reporter, stopping); !failed) return failed;
  if (auto kept = image.made()) made.push_back(std::move(*kept));
  return {};
}

}  // namespace

int default_threads() {
  return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 64u));
}

base::Result<void, Error> run(const Request& given, Reporter& reporter,
                              const Stopping& stopping) {
  if (makes_video(given)) return run_video(given, reporter, stopping);
  if (given.nights) return run_nights(given, reporter, stopping);
  std::vector<Made> made;
  return run_request(given, reporter, stopping, made);
}

base::Result<std::vector<Made>, Error> make(const Request& request, Reporter& reporter,
                                            const Stopping& stopping) {
  if (makes_video(request))
    return base::usage("a time-displaced clip is written, not kept: run it");
  Request kept = request;
  kept.keep = true;
  std::vector<Made> made;
  if (Step ran = run_request(kept, reporter, stopping, made); !ran) return base::failure(ran.error());
  return made;
}

base::Result<void, Error> for_each_strip(const Request& request, Reporter& reporter,
                                         const StripTaker& take, const Stopping& stopping) {
  if (makes_video(request))
    return base::usage("a time-displaced clip is written, not handed out: run it");
  auto read = with_selections(with_stack_axis(request));
  if (!read) return base::failure(read.error());
  const Request laid = with_line_layout(
      with_selection_width(read->order.size() > 1 ? each_slit(*read).front() : *read));
  SlitImage image(laid, reporter, stopping, &take);
  const auto failed = [&](const Error& error) { return base::failure(image.abandon(error)); };
  Reading input(laid, reporter, stopping);
  if (Step bad = input.open(nullptr); !bad) return failed(bad.error());
  if (Step bad = image.prepare(input, true); !bad) return failed(bad.error());
  if (Step bad = cut_strips(input, {&image}, Asked(stopping)); !bad) return failed(bad.error());
  input.warn();
  return {};
}

base::Result<void, Error> write(const StripImage& image, const Request& request,
                                const Stopping& stopping) {
  const Request& o = request;
  const std::optional<Format> format = output_format(o.output);
  if (!format)
    return base::usage(o.output + ": the output name must end in .png, .tif or .tiff");
  if (!o.compress_text.empty() && *format != Format::tiff)
    return base::usage(o.compress_text + ": only a TIFF OUTPUT (.tif, .tiff) is compressed so");
  if (base::Status ok = check_output(o.output, o.force); !ok)
    return base::failure(ok.error());
  const base::ShouldStop stop = [&] { return asked(stopping.abandon) != 0; };
  const auto failed = [&](const Error& error) {
    if (stop()) return base::failure(Error{ExitStatus::interrupted, "interrupted; no image written", asked(stopping.abandon)});
    return base::failure(error.within(o.output + ": "));
  };
  TempOutput output(o.output);
  if (base::Status ok = output.create(); !ok) return base::failure(ok.error());
  const int threads = o.threads > 0 ? o.threads : default_threads();
  if (*format == Format::png) {
    // As the run's PNG: rows deflated in the same chunks, whichever way the strips ran.
    if (base::Status ok = write_png(output.stream(), image, threads, png_chunk_bytes, stop); !ok)
      return failed(ok.error());
  } else {
    const ImageSize& size = image.size();
    auto bands = TiffBands::open(fileno(output.stream()), size, o.cut, o.compress,
                                 needs_bigtiff(size, o.compress));
    if (!bands) return failed(bands.error());
    // Strip by strip, as the run hands them to its TIFF.
    const bool vertical = o.cut == Cut::vertical;
    const int64_t lines = o.slit.width;
    const int64_t along = vertical ? size.width : size.height;
    for (int64_t first = 0; first < along; first += lines) {
      if (stop()) return failed(Error{ExitStatus::interrupted, "interrupted"});
      const int64_t n = std::min(lines, along - first);
      const strips::ConstBytePlane strip =
          vertical ? strips::ConstBytePlane{image.row(0) + first * size.pixel_bytes,
                                            n * size.pixel_bytes, size.height, image.stride()}
                   : strips::ConstBytePlane{image.row(first), image.stride(), n, image.stride()};
      if (auto added = (*bands)->add(strip); !added) return failed(added.error());
    }
    if (auto done = (*bands)->finish(); !done) return failed(done.error());
    bands->reset();
  }
  if (base::Status ok = output.commit(o.force); !ok) return base::failure(ok.error());
  return {};
}

bool reads_stream(const Request& request) {
  return request.watch || is_stream_input(request.input, request.input_format);
}

}  // namespace scan
