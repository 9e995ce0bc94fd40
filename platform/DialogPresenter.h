#pragma once

#include <optional>
#include <string>
#include <vector>

namespace korvo {

// A drop-down list: its items in the order added (never sorted) and the
// index of the selected one, -1 for none.
struct DropDownList {
  std::vector<std::string> items;
  int selection = -1;
};

// Lets the operator choose among list.items, list.selection preselected, in
// a modal dialog headed `caption` with the list named `label` (on Windows
// the dialog template carries both). The index chosen, or -1 when confirmed
// with nothing selected; nothing when cancelled or when no dialog can be
// shown (no terminal, no visible desktop).
std::optional<int> AskChoice(const char* caption, const char* label, const DropDownList& list);

}  // namespace korvo
