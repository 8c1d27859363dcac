// SPDX-License-Identifier: GPL-3.0-or-later
// velmora-scan: a full-resolution streak image of a clip, written as a PNG or a TIFF. The
// program is the library's caller: it reads the command line, catches the signals and
// prints what the run reports.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "decode/av_error.h"
#include "scan/scan.h"
#include "velmora/version.h"

namespace {

// SIGINT, SIGTERM, SIGHUP (the terminal or the SSH session went away) and SIGQUIT only set
// a flag, which the run asks between strips and between rows, so that the temporary files
// are removed before the program ends.
volatile std::sig_atomic_t arrived = 0;
volatile std::sig_atomic_t finishing = 0;  // the first SIGINT or SIGTERM finishes the image
volatile std::sig_atomic_t finish = 0;

extern "C" void note_signal(int signal) {
  if (finishing != 0 && finish == 0 && (signal == SIGINT || signal == SIGTERM))
    finish = signal;
  else
    arrived = signal;
}

void catch_interrupts() {
  struct sigaction action {};
  action.sa_handler = note_signal;
  // Reads and writes go on; the flag is looked at between strips and between rows.
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    // One ignored by whoever started the run (nohup, a background job) stays ignored.
    struct sigaction before {};
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}

// For inputs without a known length: the first SIGINT or SIGTERM asks the run to finish
// its image, and only a second one interrupts it. Blocking reads are then no longer
// restarted, so that a stalled pipe or network read sees the signal.
void finish_on_first_signal() {
  finishing = 1;
  for (int signal : {SIGINT, SIGTERM}) {
    struct sigaction action {};
    if (sigaction(signal, nullptr, &action) != 0 || action.sa_handler != note_signal) continue;
    action.sa_flags &= ~SA_RESTART;
    sigaction(signal, &action, nullptr);
  }
}

// Messages on standard error; the progress bar too when it is a terminal.
class Terminal : public scan::Reporter {
 public:
  explicit Terminal(bool shown) : shown_(shown), bar_(stderr) {}
  void say(const std::string& line) override {
    std::fprintf(stderr, "velmora-scan: %s\n", line.c_str());
  }
  scan::Progress& progress() override { return shown_ ? bar_ : Reporter::progress(); }

 private:
  bool shown_;
  scan::TerminalProgress bar_;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  scan::Parsed parsed = scan::parse_options(args);
  switch (parsed.action) {
    case scan::Parsed::Action::help:
      std::fputs(scan::help_text(scan::default_threads()).c_str(), stdout);
      return static_cast<int>(scan::ExitStatus::done);
    case scan::Parsed::Action::version:
      std::printf("velmora-scan %s\n", VELMORA_VERSION);
      return static_cast<int>(scan::ExitStatus::done);
    case scan::Parsed::Action::usage_error:
      std::fprintf(stderr, "velmora-scan: %s\n", parsed.error.c_str());
      return static_cast<int>(scan::ExitStatus::usage);
    case scan::Parsed::Action::run:
      break;
  }
  catch_interrupts();
  // A clip being written ends at its last whole frame, as a stream's image does.
  if (scan::reads_stream(parsed.request) || scan::makes_video(parsed.request))
    finish_on_first_signal();
  // Every failure gets velmora-scan's own line; FFmpeg's notes on damaged data would
  // only add noise to a script's log.
  decode::set_ffmpeg_log(decode::FfmpegLog::none);
  Terminal terminal(isatty(STDERR_FILENO) != 0);
  const scan::Stopping stopping{[] { return static_cast<int>(arrived); },
                                [] { return static_cast<int>(finish); }};
  const auto done = scan::run(parsed.request, terminal, stopping);
  if (done) return static_cast<int>(scan::ExitStatus::done);
  terminal.progress().clear();
  terminal.say(done.error().message);
  return done.error().exit_code();
}
