#include "text_value.h"

namespace korvo_emu {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> Unescape(std::string_view raw, std::string& error) {
  std::string out;
  out.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '%') {
      out.push_back(raw[i]);
      continue;
    }
    if (i + 2 >= raw.size()) {
      error = "incomplete %XX escape";
      return std::nullopt;
    }
    const int high = HexDigit(raw[i + 1]);
    const int low = HexDigit(raw[i + 2]);
    if (high < 0 || low < 0) {
      error = "bad %XX escape";
      return std::nullopt;
    }
    out.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return out;
}

// Splits "N*TEXT" into N and TEXT; nullopt when the value is not of that form.
std::optional<std::pair<std::size_t, std::string_view>> SplitRepeat(std::string_view raw) {
  const std::size_t star = raw.find('*');
  if (star == 0 || star == std::string_view::npos) return std::nullopt;
  std::size_t count = 0;
  for (std::size_t i = 0; i < star; ++i) {
    if (raw[i] < '0' || raw[i] > '9') return std::nullopt;
    count = count * 10 + static_cast<std::size_t>(raw[i] - '0');
    if (count > kMaxTextBytes) count = kMaxTextBytes + 1;  // saturate, rejected below
  }
  return std::make_pair(count, raw.substr(star + 1));
}

}  // namespace

std::optional<std::string> DecodeText(std::string_view raw, std::string& error) {
  std::size_t count = 1;
  std::string_view body = raw;
  if (const auto repeat = SplitRepeat(raw)) {
    count = repeat->first;
    body = repeat->second;
  }
  const std::optional<std::string> unit = Unescape(body, error);
  if (!unit) return std::nullopt;
  if (count > kMaxTextBytes || (count > 0 && unit->size() > kMaxTextBytes / count)) {
    error = "text longer than 1 MiB";
    return std::nullopt;
  }
  std::string out;
  out.reserve(unit->size() * count);
  for (std::size_t i = 0; i < count; ++i) out += *unit;
  return out;
}

}  // namespace korvo_emu
