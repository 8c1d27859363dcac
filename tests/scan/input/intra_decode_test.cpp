// SPDX-License-Identifier: GPL-3.0-or-later
// Pictures that stand alone, decoded by several decoders at once, give what one decoder
// gives, also around damaged packets; JPEG pictures decoded by libjpeg-turbo only around
// the slit equal a whole-picture libjpeg-turbo decode there.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <jpeglib.h>

#include "decode/media_input.h"
#include "scan/input/clip_reader.h"
#include "scan/input/jpeg_area.h"
#include "tests/scan/run/scan_support.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/written.h"
#include "tools/clipwriter/clip_writer.h"

extern "C" {
#include <libavutil/imgutils.h>
}

namespace {

namespace fs = std::filesystem;
using clipwriter::ClipSpec;
using clipwriter::Codec;

std::vector<uint8_t> converted(const AVFrame* frame) {
  return velmora_test::converted_with(*frame, SWS_CS_ITU601, frame->color_range == AVCOL_RANGE_JPEG,
                                      AV_PIX_FMT_RGB24, scan::SlitScaler::flags);
}

// `path` re-encoded by the ffmpeg program with `codec` (those the clip writer lacks).
std::string transcoded(const std::string& path, const std::string& out, const std::string& codec) {
  const std::string command =
      "ffmpeg -nostdin -v error -y -i '" + path + "' -c:v " + codec + " '" + out + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  return out;
}

// The file offsets and sizes of the video packets of `path`.
std::vector<std::pair<int64_t, int>> packets_of(const std::string& path) {
  decode::Opening<decode::MediaInput> input = decode::open_media(path);
  EXPECT_TRUE(input);
  std::vector<std::pair<int64_t, int>> found;
  decode::PacketPtr packet = decode::new_packet();
  while (input && av_read_frame(input->format.get(), packet.get()) >= 0) {
    if (packet->stream_index == input->stream) found.emplace_back(packet->pos, packet->size);
    av_packet_unref(packet.get());
  }
  return found;
}

// A copy of `path` whose packets `which` are overwritten from their fifth byte on with a
// pattern no decoder makes sense of.
std::string damaged(const std::string& path, const std::string& out, std::vector<int> which) {
  fs::copy_file(path, out, fs::copy_options::overwrite_existing);
  const auto packets = packets_of(path);
  std::fstream file(out, std::ios::in | std::ios::out | std::ios::binary);
  for (int k : which) {
    const auto [pos, size] = packets.at(k);
    file.seekp(pos + 4);
    for (int i = 4; i < size; ++i) file.put(static_cast<char>(i * 37 % 251));
  }
  return out;
}

TEST(IntraDecode, SeveralDecodersGiveWhatOneGivesAlsoAroundDamage) {
  const std::string folder = velmora_test::fresh_folder("intra-pool");
  const ClipSpec spec{.width = 64, .height = 48, .frames = 24, .codec = Codec::rgb};
  const std::string raw = folder + "/raw.avi";
  ASSERT_TRUE(velmora_test::written(clipwriter::write_avi(raw, spec, clipwriter::test_pattern)));
  ClipSpec jpeg = spec;
  jpeg.codec = Codec::mjpeg;
  const std::string mjpeg = folder + "/mjpeg.avi";
  ASSERT_TRUE(velmora_test::written(clipwriter::write_avi(mjpeg, jpeg, clipwriter::test_pattern)));
  ClipSpec lossless = spec;
  lossless.codec = Codec::ffv1;
  const std::string ffv1 = folder + "/ffv1.avi";
  ASSERT_TRUE(
      velmora_test::written(clipwriter::write_avi(ffv1, lossless, clipwriter::test_pattern)));
  const std::string clips[] = {
      raw,
      mjpeg,
      ffv1,
      transcoded(raw, folder + "/huffyuv.avi", "huffyuv"),
      transcoded(raw, folder + "/utvideo.avi", "utvideo"),
      // Groups of five: the packets after a keyframe need what it left in its decoder.
      transcoded(raw, folder + "/ffv1-groups.avi", "ffv1 -g 5"),
      damaged(mjpeg, folder + "/mjpeg-damaged.avi", {7, 8, 15}),
      damaged(transcoded(raw, folder + "/ut2.avi", "utvideo"), folder + "/ut-damaged.avi", {9}),
  };
  for (const std::string& clip : clips) {
    SCOPED_TRACE(clip);
    // One decoder's pictures, each at its slot (AVI chunks); a slot whose packet gave
    // none shows the picture before it.
    const velmora_test::Pictures one = velmora_test::decode_whole(clip, false);
    if (clip.find("damaged") != std::string::npos) {
      EXPECT_LT(one.rgb.size(), 24u);
    }
    auto opened = scan::ClipReader::open(clip, 3);
    ASSERT_TRUE(opened);
    scan::ClipReader& reader = **opened;
    ASSERT_TRUE(reader.choose({0, 24, 1}));
    EXPECT_TRUE(reader.parallel());
    int64_t frame = -1;
    int handed = 0;
    while (const AVFrame* picture = reader.next(frame)) {
      size_t shown = 0;
      while (shown + 1 < one.slots.size() && one.slots[shown + 1] <= frame) ++shown;
      EXPECT_TRUE(converted(picture) == one.rgb.at(shown)) << "frame " << frame;
      ++handed;
    }
    EXPECT_EQ(handed, 24);
    EXPECT_EQ(reader.damaged(), 24 - static_cast<int64_t>(one.rgb.size()));
  }
}

// A JPEG of the test pattern, `components` 1 (grey) or 3 with luma sampled h x v times
// the chroma; progressive when asked.
std::vector<uint8_t> jpeg_of(int width, int height, int components, int h, int v,
                             bool progressive = false) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* bytes = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &bytes, &size);
  cinfo.image_width = width;
  cinfo.image_height = height;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 85, TRUE);
  if (components == 1) jpeg_set_colorspace(&cinfo, JCS_GRAYSCALE);
  cinfo.comp_info[0].h_samp_factor = h;
  cinfo.comp_info[0].v_samp_factor = v;
  if (progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
  while (cinfo.next_scanline < cinfo.image_height) {
    for (int x = 0; x < width; ++x) {
      const uint32_t c = clipwriter::test_pattern(3, x, static_cast<int>(cinfo.next_scanline));
      row[x * 3] = c >> 16, row[x * 3 + 1] = c >> 8 & 255, row[x * 3 + 2] = c & 255;
    }
    JSAMPROW p = row.data();
    jpeg_write_scanlines(&cinfo, &p, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<uint8_t> out(bytes, bytes + size);
  std::free(bytes);
  return out;
}

// The whole picture decoded by libjpeg-turbo to RGB with its default settings.
std::vector<uint8_t> whole_decode(const std::vector<uint8_t>& jpeg) {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, jpeg.data(), jpeg.size());
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  std::vector<uint8_t> rgb(static_cast<size_t>(cinfo.output_width) * cinfo.output_height * 3);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW p = rgb.data() + static_cast<size_t>(cinfo.output_scanline) * cinfo.output_width * 3;
    jpeg_read_scanlines(&cinfo, &p, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return rgb;
}

// The JPEG without its Huffman tables (DHT segments), as AVI MJPEG cameras store it.
std::vector<uint8_t> without_tables(const std::vector<uint8_t>& jpeg) {
  std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
  size_t at = 2;
  while (at + 4 <= jpeg.size() && jpeg[at] == 0xff && jpeg[at + 1] != 0xda) {
    const size_t length = jpeg[at + 2] << 8 | jpeg[at + 3];
    if (jpeg[at + 1] != 0xc4)
      out.insert(out.end(), jpeg.begin() + at, jpeg.begin() + at + 2 + length);
    at += 2 + length;
  }
  out.insert(out.end(), jpeg.begin() + at, jpeg.end());
  return out;
}

TEST(IntraDecode, JpegAreasEqualTheWholePictureDecodedByLibjpegTurbo) {
  struct Layout {
    const char* name;
    int components, h, v;
  };
  const Layout layouts[] = {{"4:2:0", 3, 2, 2}, {"4:2:2", 3, 2, 1}, {"4:4:4", 3, 1, 1},
                            {"grey", 1, 1, 1}};
  const int width = 157, height = 93;
  // Columns and rows at odd and even places, at the edges, and wide ones.
  const scan::Rect areas[] = {{0, 0, 1, height},  {77, 0, 1, height},  {40, 0, 10, height},
                              {156, 0, 1, height}, {0, 0, width, 1},     {0, 47, width, 3},
                              {0, 30, width, 1},   {0, 92, width, 1},    {13, 21, 9, 17}};
  for (const Layout& l : layouts) {
    SCOPED_TRACE(l.name);
    const std::vector<uint8_t> jpeg = jpeg_of(width, height, l.components, l.h, l.v);
    const std::vector<uint8_t> whole = whole_decode(jpeg);
    const std::vector<uint8_t> bare = without_tables(jpeg);
    ASSERT_LT(bare.size(), jpeg.size()) << "its Huffman tables were taken out";
    for (const std::vector<uint8_t>& bytes : {jpeg, bare}) {
      for (const scan::Rect& r : areas) {
        SCOPED_TRACE(testing::Message() << r.x << "," << r.y << " " << r.width << "x" << r.height
                                        << (bytes.size() < jpeg.size() ? " no tables" : ""));
        scan::JpegArea area(width, height, r);
        decode::FramePtr frame = decode::new_frame();
        ASSERT_TRUE(area.decode(bytes.data(), bytes.size(), *frame));
        int wrong = 0;
        for (int y = r.y; y < r.y + r.height; ++y)
          for (int b = r.x * 3; b < (r.x + r.width) * 3; ++b)
            wrong += frame->data[0][y * frame->linesize[0] + b] != whole[(y * width) * 3 + b];
        EXPECT_EQ(wrong, 0);
      }
    }
  }
}

TEST(IntraDecode, JpegsLibjpegTurboCannotTakeSoAreLeftToFfmpeg) {
  const std::vector<uint8_t> plain = jpeg_of(64, 48, 3, 2, 2);
  std::vector<uint8_t> cut_short(plain.begin(), plain.begin() + plain.size() / 2);
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    int clip_height;
  } cases[] = {
      {"progressive", jpeg_of(64, 48, 3, 2, 2, true), 48},
      {"one field of an interlaced picture", plain, 96},
      {"damaged", cut_short, 48},
      {"not a JPEG", std::vector<uint8_t>(100, 7), 48},
  };
  for (const auto& c : cases) {
    scan::JpegArea area(64, c.clip_height, {10, 0, 1, c.clip_height});
    decode::FramePtr frame = decode::new_frame();
    EXPECT_FALSE(area.decode(c.bytes.data(), c.bytes.size(), *frame)) << c.name;
    EXPECT_EQ(frame->data[0], nullptr) << c.name;
  }
}

// Damage is judged by the rows a slit needs: a picture cut short below them gives its own
// strip, one cut short above them goes to FFmpeg's decoder.
TEST(IntraDecode, DamageBelowTheSlitIsNeverRead) {
  const std::vector<uint8_t> plain = jpeg_of(64, 256, 3, 2, 2);
  const std::vector<uint8_t> whole = whole_decode(plain);
  const std::vector<uint8_t> cut_short(plain.begin(), plain.begin() + plain.size() / 2);
  const struct {
    scan::Rect area;
    bool own_strip;
  } cases[] = {{{10, 0, 1, 8}, true}, {{0, 2, 64, 3}, true}, {{10, 240, 1, 8}, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "rows " << c.area.y << " .. " << c.area.y + c.area.height);
    scan::JpegArea area(64, 256, c.area);
    decode::FramePtr frame = decode::new_frame();
    ASSERT_EQ(area.decode(cut_short.data(), cut_short.size(), *frame), c.own_strip);
    if (!c.own_strip) continue;
    int wrong = 0;
    for (int y = c.area.y; y < c.area.y + c.area.height; ++y)
      for (int b = c.area.x * 3; b < (c.area.x + c.area.width) * 3; ++b)
        wrong += frame->data[0][y * frame->linesize[0] + b] != whole[(y * 64) * 3 + b];
    EXPECT_EQ(wrong, 0);
  }
}

// Each decoder's own pictures, told apart by their pixels: --decoder auto gives
// libjpeg-turbo's decode of every picture, --decoder ffmpeg FFmpeg's, at any number of
// threads and either cut.
TEST(IntraDecode, MjpegStripsComeFromTheDecoderChosen) {
  const std::string folder = velmora_test::fresh_folder("jpeg-scan");
  const std::string clip = folder + "/clip.avi";
  const int width = 96, height = 64, frames = 12, first = 33, lines = 5;
  ASSERT_TRUE(velmora_test::written(clipwriter::write_avi(
      clip, {.width = width, .height = height, .frames = frames, .codec = Codec::mjpeg},
      clipwriter::test_pattern)));
  // Every picture as each decoder gives it, packed RGB rows.
  std::vector<std::vector<uint8_t>> turbo, ffmpeg;
  std::ifstream file(clip, std::ios::binary);
  for (const auto& [pos, size] : packets_of(clip)) {
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    file.seekg(pos);
    file.read(reinterpret_cast<char*>(bytes.data()), size);
    turbo.push_back(whole_decode(bytes));
  }
  velmora_test::for_each_picture(clip, [&](const AVFrame& frame, const AVCodecContext&) {
    ffmpeg.push_back(converted(&frame));
  });
  ASSERT_EQ(turbo.size(), size_t(frames));
  ASSERT_EQ(ffmpeg.size(), size_t(frames));
  const struct {
    std::vector<std::string> args;
    bool horizontal;
    const std::vector<std::vector<uint8_t>>* pictures;
  } cases[] = {
      {{"--threads", "1"}, false, &turbo},
      {{"--threads", "3"}, false, &turbo},
      {{"--decoder", "ffmpeg"}, false, &ffmpeg},
      {{"--threads", "2", "--cut", "horizontal"}, true, &turbo},
      {{"--decoder", "ffmpeg", "--cut", "horizontal"}, true, &ffmpeg},
  };
  int made = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const std::string out = folder + "/out" + std::to_string(made++) + ".png";
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--slit", std::to_string(first) + ":" + std::to_string(lines), clip, out});
    const velmora_test::Ran ran = velmora_test::run_scan(args);
    ASSERT_EQ(ran.status, 0) << ran.err;
    const velmora_test::Png png = velmora_test::read_png(out);
    ASSERT_EQ(png.width, c.horizontal ? width : frames * lines);
    ASSERT_EQ(png.height, c.horizontal ? frames * lines : height);
    int wrong = 0;
    for (int y = 0; y < png.height; ++y)
      for (int x = 0; x < png.width; ++x) {
        // Strip k's line j, at (along) in the picture.
        const int across = c.horizontal ? y : x, along = c.horizontal ? x : y;
        const int k = across / lines, line = first + across % lines;
        const int px = c.horizontal ? along : line, py = c.horizontal ? line : along;
        for (int ch = 0; ch < 3; ++ch)
          wrong += png.sample(x, y, ch) != (*c.pictures)[k][(py * width + px) * 3 + ch];
      }
    EXPECT_EQ(wrong, 0);
  }
  // The test means something only where the two decoders differ.
  EXPECT_NE(turbo, ffmpeg);
}

}  // namespace
