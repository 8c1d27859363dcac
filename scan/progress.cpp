// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/progress.h"

#include <algorithm>
#include <cmath>

#include "base/text.h"

namespace scan {
namespace {

constexpr auto redraw_every = std::chrono::milliseconds(250);

std::string minutes_and_seconds(double seconds) {
  long whole = std::lround(std::max(0.0, seconds));
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
  return text;
}

}  // namespace

void TerminalProgress::start(int64_t total) {
  total_ = total;
  start_ = Clock::now();
}

double TerminalProgress::seconds() const {
  return std::chrono::duration<double>(Clock::now() - start_).count();
}

std::string TerminalProgress::bar(int64_t done, int64_t total, double rate, int width) {
  if (total <= 0) {
    // A stream: its length is not known, so only what is done and how fast.
    char figures[96];
    std::snprintf(figures, sizeof figures, "%lld frames  %.1f fps", static_cast<long long>(done),
                  rate);
    return figures;
  }
  const double part = total > 0 ? static_cast<double>(done) / total : 1.0;
  const int filled = static_cast<int>(part * width);
  std::string text = "[" + std::string(filled, '#') + std::string(width - filled, '.') + "] ";
  char figures[96];
  std::snprintf(figures, sizeof figures, "%lld/%lld frames  %.1f fps", static_cast<long long>(done),
                static_cast<long long>(total), rate);
  text += figures;
  if (rate > 0) text += "  " + minutes_and_seconds((total - done) / rate) + " left";
  return text;
}

void TerminalProgress::update(int64_t done) {
  auto now = Clock::now();
  if (drawn_ && now - last_draw_ < redraw_every && (done < total_ || total_ <= 0)) return;
  last_draw_ = now;
  drawn_ = true;
  double elapsed = seconds();
  double rate = elapsed > 0 ? done / elapsed : 0;
  std::fprintf(out_, "\r%s\033[K", bar(done, total_, rate, 30).c_str());
  std::fflush(out_);
}

void TerminalProgress::clear() {
  if (!drawn_) return;
  std::fputs("\r\033[K", out_);
  std::fflush(out_);
  drawn_ = false;
}

void TerminalProgress::summary(int64_t strips, const std::string& image, int64_t file_bytes,
                               const OddFrames& odd) {
  clear();
  std::fprintf(out_, "velmora-scan: %lld strips, %s, %s in %.1f s", static_cast<long long>(strips),
               image.c_str(), base::human_bytes(static_cast<double>(file_bytes)).c_str(), seconds());
  if (odd.scaled > 0)
    std::fprintf(out_, "; %lld %s of another picture size scaled to %s",
                 static_cast<long long>(odd.scaled), odd.scaled == 1 ? "frame" : "frames",
                 odd.shown_size.c_str());
  if (odd.damaged > 0)
    std::fprintf(out_,
                 odd.damaged == 1 ? "; 1 damaged frame shows the picture before it"
                                  : "; %lld damaged frames show the picture before them",
                 static_cast<long long>(odd.damaged));
  if (odd.blank > 0)
    std::fprintf(out_, "; %lld %s that cannot be converted left black",
                 static_cast<long long>(odd.blank), odd.blank == 1 ? "frame" : "frames");
  std::fputc('\n', out_);
}

}  // namespace scan
