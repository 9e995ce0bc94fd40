#pragma once

#include <string>
#include <vector>

#include "platform/DialogPresenter.h"

namespace korvo::fake {

// One thing the operator does while the dialog is shown.
struct OperatorStep {
  enum Kind { Select, Press } kind;
  int value;  // Select: the item index (CB_ERR clears); Press: IDOK or IDCANCEL
};

inline OperatorStep Select(int index) { return {OperatorStep::Select, index}; }
inline OperatorStep Press(int command) { return {OperatorStep::Press, command}; }

// The fake presentation: one dialog with a combo box (control IDC_DEVICE),
// an operator who follows `script`, and a record of what the dialog did.
struct FakePresenter {
  // Set up by the test.
  bool cannotShow = false;  // RunModalDialog answers kDialogNotShown at once
  std::vector<OperatorStep> script;

  // Recorded by the fake.
  std::vector<int> shownTemplates;  // template ids, one per modal run
  std::vector<std::string> calls;   // combo box calls in order, e.g. "AddString(A)"
  std::vector<std::string> items;   // the combo box's items
  int selection = CB_ERR;           // the combo box's selected index
  bool initAnswer = false;          // what InitDialog returned
};

// The state the fake presentation reads and records; tests reset it.
FakePresenter& Presenter();

}  // namespace korvo::fake
