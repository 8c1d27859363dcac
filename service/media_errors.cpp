// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/media_errors.h"

#include <cstring>

namespace service {

std::string_view describe(MediaStatus status) {
  switch (status) {
    case MediaStatus::ok:
      return "正常に終了しました。";
    case MediaStatus::no_such_file:
      return "指定されたファイルが見つかりません。パスとファイル名を確認してください。";
    case MediaStatus::not_playable:
      return "このファイルは、このメディア サービスで再生できるビデオではありません。";
    case MediaStatus::unreadable_file:
      return "ファイルが空か、読み取ることができません。";
    case MediaStatus::no_clip_under_alias:
      return "指定されたエイリアスで開かれているクリップはありません。";
    case MediaStatus::alias_in_use:
      return "指定されたエイリアスはすでに使われています。先に閉じてください。";
    case MediaStatus::unknown_command:
      return "認識できないコマンドです。";
    case MediaStatus::unknown_keyword:
      return "コマンドに認識できないキーワードが含まれています。";
    case MediaStatus::missing_number:
      return "コマンドに必要な数値がありません。";
    case MediaStatus::malformed_number:
      return "コマンドの数値の形式が正しくありません。";
    case MediaStatus::number_out_of_range:
      return "コマンドの数値が有効な範囲の外にあります。";
    case MediaStatus::no_such_window:
      return "指定されたハンドルは、登録されたウィンドウを指していません。";
    case MediaStatus::no_such_surface:
      return "指定されたハンドルは、登録された描画面を指していません。";
    case MediaStatus::missing_word:
      return "コマンドに必要な語が足りません。";
    case MediaStatus::decode_failed:
      return "ビデオのフレームを読み取れませんでした。ファイルが壊れている可能性があります。";
    case MediaStatus::out_of_memory:
      return "このクリップを扱うためのメモリが足りません。";
  }
  return {};
}

std::string_view describe(int32_t code) { return describe(static_cast<MediaStatus>(code)); }

void copy_to_buffer(std::string_view text, char* buffer, int size) {
  if (size <= 0 || buffer == nullptr) return;
  std::size_t n = std::min<std::size_t>(text.size(), static_cast<std::size_t>(size - 1));
  // Never end inside a multi-byte character: back up over continuation bytes.
  if (n < text.size()) {
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  }
  if (n > 0) std::memcpy(buffer, text.data(), n);  // an empty view may hold no pointer
  buffer[n] = '\0';
}

}  // namespace service
