// Message box stand-in. The box has no screen here: its caption and text go
// to standard error as "<caption>: <text>\n" and are appended to
// $VORLANE_ROOT/messages as one line written with a single write(2):
//
//   <unix time>\t<style, hex>\t<caption>\t<text>\n
//
// with backslash, tab, newline and carriage return escaped as "\\", "\t",
// "\n" and "\r". The box "returns" at once, as if OK had been pressed.
#pragma once

#include <string>

namespace vorlane::platform {

constexpr unsigned mb_ok = 0x0;
constexpr unsigned mb_iconinformation = 0x40;
constexpr unsigned mb_topmost = 0x40000;
constexpr int id_ok = 1;

int message_box(const char* text, const char* caption, unsigned style);

std::string messages_path();

}  // namespace vorlane::platform
