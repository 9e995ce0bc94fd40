#pragma once

#include <optional>
#include <string>

#include "platform/DialogPresenter.h"

namespace korvo::fake {

// The fake dialog: an operator who does as the test says, and a record of
// what the dialog was given.
struct FakePresenter {
  // Set up by the test. The operator confirms, with `pick` selected when it
  // is set (else the preselection), or does not: cancelled and "cannot be
  // shown" are one answer to the caller.
  bool confirm = false;
  std::optional<int> pick;

  // Recorded by the fake.
  int shown = 0;  // AskChoice calls
  std::string caption;
  std::string label;
  DropDownList list;  // as handed over
};

// The state the fake dialog reads and records; tests reset it.
FakePresenter& Presenter();

}  // namespace korvo::fake
