#include "stages/status_text.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>  // strtod

namespace diagpack {

namespace {

constexpr std::string_view kUnits[] = {"B",   "KiB", "MiB", "GiB",
                                       "TiB", "PiB", "EiB"};
constexpr std::string_view kCopyingLogs = "copying logs: ";
constexpr std::string_view kWaitingFor = "waiting for ";
constexpr std::string_view kCtrlCStops = ", Ctrl-C stops cleanly";
constexpr std::string_view kArchiving = "archiving: ";
constexpr std::string_view kOf = " of ";
constexpr std::string_view kPerSecond = "/s";
constexpr std::string_view kLeft = " left";

// Whether |byte| begins a character: every byte but a UTF-8 continuation.
bool starts_character(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
}

// "<done> of <total>", or "<done>" when the total is not known.
std::string done_of_total(uint64_t done, uint64_t total) {
  if (total == 0) return format_bytes(done);
  return format_bytes(std::min(done, total)) + std::string(kOf) +
         format_bytes(total);
}

}  // namespace

std::string format_bytes(uint64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " " + std::string(kUnits[0]);
  double value = static_cast<double>(bytes);
  size_t unit = 0;
  char text[32];
  // Divide until the value as printed stays below 1024: 1023.96 KiB prints
  // as 1024.0, so it moves on to 1.0 MiB.
  do {
    value /= 1024;
    ++unit;
    std::snprintf(text, sizeof text, "%.1f", value);
  } while (std::strtod(text, nullptr) >= 1024 && unit + 1 < std::size(kUnits));
  return std::string(text) + " " + std::string(kUnits[unit]);
}

std::string format_duration(uint64_t seconds) {
  char text[48];
  if (seconds < 60) {
    std::snprintf(text, sizeof text, "%llu s",
                  static_cast<unsigned long long>(seconds));
  } else if (seconds < 3600) {
    std::snprintf(text, sizeof text, "%llu min %02llu s",
                  static_cast<unsigned long long>(seconds / 60),
                  static_cast<unsigned long long>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%llu h %02llu min",
                  static_cast<unsigned long long>(seconds / 3600),
                  static_cast<unsigned long long>(seconds % 3600 / 60));
  }
  return text;
}

std::string copying_logs_text(uint64_t done, uint64_t total) {
  return std::string(kCopyingLogs) + done_of_total(done, total);
}

std::string waiting_text(std::string_view command, uint64_t seconds) {
  return std::string(kWaitingFor) + std::string(command) + ": " +
         format_duration(seconds) + std::string(kCtrlCStops);
}

std::string archiving_text(uint64_t done, uint64_t total, double seconds) {
  std::string text = std::string(kArchiving) + done_of_total(done, total);
  if (done == 0 || !(seconds > 0)) return text;
  const double rate = static_cast<double>(done) / seconds;
  text += ", " + format_bytes(static_cast<uint64_t>(rate)) +
          std::string(kPerSecond);
  if (total == 0) return text;
  const double rest = static_cast<double>(total - std::min(done, total));
  const double left = std::min(std::ceil(rest / rate), 1e15);
  return text + ", " + format_duration(static_cast<uint64_t>(left)) +
         std::string(kLeft);
}

size_t text_columns(std::string_view text) {
  return static_cast<size_t>(
      std::count_if(text.begin(), text.end(), starts_character));
}

std::string_view fit_to_width(std::string_view text, size_t columns) {
  size_t used = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (!starts_character(text[i])) continue;
    if (used == columns) return text.substr(0, i);
    ++used;
  }
  return text;
}

}  // namespace diagpack
