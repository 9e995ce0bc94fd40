// Decoding of TEXT values in device descriptions: %XX escapes and N*TEXT repetition.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace korvo_emu {

// Longest text a value may expand to; keeps a typo like 99999999*X from eating memory.
inline constexpr std::size_t kMaxTextBytes = 1024 * 1024;

// Decodes one value. On failure returns nullopt and sets `error` to a short reason.
std::optional<std::string> DecodeText(std::string_view raw, std::string& error);

}  // namespace korvo_emu
