// SPDX-License-Identifier: GPL-3.0-or-later
// The fuzzer's seeds must hold every command string the program sends, or the fuzzer
// starts far from what matters. A whole session is recorded and looked up in the seeds.
#include <QDir>
#include <QLineEdit>
#include <set>

#include "service/tick.h"
#include "tests/gui/window_fixture.h"

namespace velmora_test {
namespace {

// The numbers the fuzzer registers for the first window's video and capture panes, and
// the name under which it keeps its raw RGB clip.
constexpr const char* kSeedWindow = "4100";
constexpr const char* kSeedSurface = "20483";
constexpr const char* kSeedClip = "clip.avi";

std::set<std::string> seed_lines() {
  std::set<std::string> lines;
  const QDir folder(QStringLiteral(VELMORA_SOURCE_DIR "/tests/fuzz/corpus"));
  for (const QString& name : folder.entryList(QDir::Files)) {
    QFile file(folder.filePath(name));
    if (!file.open(QIODevice::ReadOnly)) continue;
    for (const QByteArray& line : file.readAll().split('\n'))
      if (!line.isEmpty()) lines.insert(line.toStdString());
  }
  return lines;
}

void replace_all(std::string& text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

using FuzzSeeds = Velmora6Window;

TEST_F(FuzzSeeds, HoldEveryCommandOfAWholeSession) {
  const std::string clip = pane_sized_clip();
  use_quick_ticks();
  open(clip);
  run_events_for(120);  // a tick asks for the position
  form->Command1->click();
  form->Command2->click();
  form->Command3->click();
  form->Command4->click();
  form->Cmd_Reserve->click();
  drag_thumb_to(7);
  for (double x : {100.0, 180.0}) press(form->Picture4, x, 5);
  form->Text1->setText("2");
  form->CmdGosei->click();
  form->mnuclose->trigger();
  service::set_tick_source({});

  const std::set<std::string> seeds = seed_lines();
  ASSERT_FALSE(seeds.empty()) << "no seed corpus found";
  std::set<std::string> missing;
  for (std::string command : commands()) {
    replace_all(command, media::short_path(clip), kSeedClip);
    replace_all(command, "parent " + std::to_string(form->Picture1->window_handle()),
                std::string("parent ") + kSeedWindow);
    replace_all(command, "hdc " + std::to_string(form->Picture2->surface_handle()),
                std::string("hdc ") + kSeedSurface);
    if (!seeds.count(command)) missing.insert(command);
  }
  EXPECT_GE(commands().size(), 12u) << "the session sent too little to tell";
  for (const std::string& command : missing) ADD_FAILURE() << "not among the seeds: " << command;
}

}  // namespace
}  // namespace velmora_test
