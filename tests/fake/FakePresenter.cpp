#include "fake/FakePresenter.h"

#include <gtest/gtest.h>

#include <optional>

#include "resources/resource.h"

namespace korvo {

namespace fake {

FakePresenter& Presenter() {
  static FakePresenter state;
  return state;
}

namespace {

// Keeps its state in Presenter(), so that tests can look at it afterwards.
class FakeCombo final : public ComboBoxControl {
 public:
  int AddString(const char* text) override {
    Presenter().calls.push_back("AddString(" + std::string(text) + ")");
    Presenter().items.push_back(text);
    return GetCount() - 1;
  }

  int SetCurSel(int index) override {
    Presenter().calls.push_back("SetCurSel(" + std::to_string(index) + ")");
    return Store(index);
  }

  int GetCurSel() const override { return Presenter().selection; }
  int GetCount() const override { return static_cast<int>(Presenter().items.size()); }

  // The selection as SetCurSel and the operator leave it.
  int Store(int index) {
    bool inside = index >= 0 && index < GetCount();
    Presenter().selection = inside ? index : CB_ERR;
    return Presenter().selection;
  }
};

class FakeWindow final : public DialogWindow {
 public:
  ComboBoxControl* ComboBox(int controlId) override {
    return controlId == IDC_DEVICE ? &combo_ : nullptr;
  }

  void EndDialog(int result) override { result_ = result; }

  FakeCombo& Combo() { return combo_; }
  const std::optional<int>& Result() const { return result_; }

 private:
  FakeCombo combo_;
  std::optional<int> result_;
};

}  // namespace
}  // namespace fake

int RunModalDialog(int templateId, DialogEvents& events) {
  fake::FakePresenter& presenter = fake::Presenter();
  presenter.shownTemplates.push_back(templateId);
  if (presenter.cannotShow) return kDialogNotShown;

  fake::FakeWindow window;
  presenter.initAnswer = events.InitDialog(window);
  for (const fake::OperatorStep& step : presenter.script) {
    if (window.Result()) break;
    if (step.kind == fake::OperatorStep::Select) {
      window.Combo().Store(step.value);
    } else {
      events.Command(step.value);
    }
  }
  if (!window.Result()) {
    ADD_FAILURE() << "the dialog was still open after the operator's last step";
    return kDialogNotShown;
  }
  return *window.Result();
}

}  // namespace korvo
