#include "fake/FakePresenter.h"

namespace korvo {

namespace fake {

FakePresenter& Presenter() {
  static FakePresenter state;
  return state;
}

}  // namespace fake

std::optional<int> AskChoice(const char* caption, const char* label, const DropDownList& list) {
  fake::FakePresenter& presenter = fake::Presenter();
  ++presenter.shown;
  presenter.caption = caption;
  presenter.label = label;
  presenter.list = list;
  if (!presenter.confirm) return std::nullopt;
  return presenter.pick.value_or(list.selection);
}

}  // namespace korvo
