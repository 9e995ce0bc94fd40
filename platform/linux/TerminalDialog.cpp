// The dialogs on Linux: a question on the controlling terminal.
//
//   Select Device to Test
//
//       1  Alpha
//     * 2  Beta
//
//   Device (1-2, Enter for 2, q to cancel):
//
// Enter alone confirms the marked (selected) item, a number then Enter
// confirms that item; q then Enter, Escape or end of input cancel. Anything
// else is answered with what is accepted, and the question comes again.
#include "platform/DialogPresenter.h"

#include <optional>
#include <string>
#include <vector>

#include "platform/linux/TerminalSession.h"
#include "discovery/TerminalText.h"
#include "resources/resource.h"

namespace korvo {

namespace {

// What the terminal shows of a dialog template: its caption, and the one
// drop-down list with its label.
struct TerminalTemplate {
  int id;
  const char* caption;
  int comboId;
  const char* comboLabel;
};

// The texts of the dialog templates in the resource script.
constexpr TerminalTemplate kTemplates[] = {
    {IDD_SELECT_DEVICE, "Select Device to Test", IDC_DEVICE, "Device"},
};

const TerminalTemplate* FindTemplate(int id) {
  for (const TerminalTemplate& t : kTemplates) {
    if (t.id == id) return &t;
  }
  return nullptr;
}

// A drop-down list: its items and selection, shown when the question is put.
class TerminalCombo final : public ComboBoxControl {
 public:
  int AddString(const char* text) override {
    items_.emplace_back(text);
    return GetCount() - 1;
  }

  int SetCurSel(int index) override {
    selection_ = index >= 0 && index < GetCount() ? index : CB_ERR;
    return selection_;
  }

  int GetCurSel() const override { return selection_; }
  int GetCount() const override { return static_cast<int>(items_.size()); }

  const std::string& Item(int index) const { return items_[static_cast<size_t>(index)]; }

 private:
  std::vector<std::string> items_;
  int selection_ = CB_ERR;
};

class TerminalWindow final : public DialogWindow {
 public:
  explicit TerminalWindow(int comboId) : comboId_(comboId) {}

  ComboBoxControl* ComboBox(int controlId) override {
    return controlId == comboId_ ? &combo_ : nullptr;
  }
  void EndDialog(int result) override { result_ = result; }

  TerminalCombo& Combo() { return combo_; }
  const std::optional<int>& Result() const { return result_; }

 private:
  int comboId_;
  TerminalCombo combo_;
  std::optional<int> result_;
};

// One answer of the operator.
struct Answer {
  enum Kind { Confirm, Cancel, End, Invalid } kind;
  int item = CB_ERR;  // Confirm: the item to select
};

// Longest answer kept; a device number never comes near it.
constexpr size_t kMaxAnswer = 16;

// Time within which the rest of an escape sequence (an arrow key, say)
// follows its Escape byte. Escape alone cancels.
constexpr int kEscapeSequenceMs = 100;

std::string Number(int value) { return std::to_string(value); }

void ShowDialog(TerminalSession& tty, const TerminalTemplate& dialog, const TerminalCombo& combo) {
  std::string text = "\n" + std::string(dialog.caption) + "\n\n";
  for (int i = 0; i < combo.GetCount(); ++i) {
    text += i == combo.GetCurSel() ? "  * " : "    ";
    text += Number(i + 1) + "  " + TerminalSafe(combo.Item(i)) + "\n";
  }
  tty.Write(text + "\n");
}

std::string Choices(const TerminalCombo& combo) {
  std::string choices;
  if (combo.GetCount() > 0) choices += "1-" + Number(combo.GetCount()) + ", ";
  if (combo.GetCurSel() != CB_ERR) choices += "Enter for " + Number(combo.GetCurSel() + 1) + ", ";
  return choices + "q to cancel";
}

// Skips the rest of an escape sequence: CSI (ESC [ ... final byte), SS3
// (ESC O x) or Alt with one key.
void SkipEscapeSequence(TerminalSession& tty, int second) {
  if (second != '[' && second != 'O') return;
  bool csi = second == '[';
  for (int c = tty.ReadByte(kEscapeSequenceMs); c >= 0; c = tty.ReadByte(kEscapeSequenceMs)) {
    if (!csi || (c >= 0x40 && c <= 0x7e)) return;
  }
}

// What the typed line means: "" picks the selection, "q" cancels, a number
// within 1..count picks that item.
Answer Interpret(const std::string& line, const TerminalCombo& combo) {
  if (line.empty()) {
    if (combo.GetCurSel() == CB_ERR) return {Answer::Invalid};
    return {Answer::Confirm, combo.GetCurSel()};
  }
  if (line == "q" || line == "Q") return {Answer::Cancel};
  int value = 0;
  for (char c : line) {
    if (c < '0' || c > '9') return {Answer::Invalid};
    value = value * 10 + (c - '0');  // at most kMaxAnswer digits: checked below
    if (value > combo.GetCount()) return {Answer::Invalid};
  }
  if (value < 1) return {Answer::Invalid};
  return {Answer::Confirm, value - 1};
}

// Reads one answer, echoing what is typed, and ends the line after it.
Answer ReadAnswer(TerminalSession& tty, const TerminalCombo& combo) {
  std::string line;
  for (;;) {
    int c = tty.ReadByte();
    if (c == TerminalSession::kEnd || (c == tty.EndKey() && c != 0 && line.empty())) {
      tty.Write("\n");
      return {Answer::End};
    }
    if (c == 0x1b) {
      int next = tty.ReadByte(kEscapeSequenceMs);
      if (next == TerminalSession::kTimeout || next == TerminalSession::kEnd) {
        tty.Write("\n");
        return {Answer::Cancel};
      }
      SkipEscapeSequence(tty, next);
      continue;
    }
    if (c == '\n' || c == '\r') {
      tty.Write("\n");
      return Interpret(line, combo);
    }
    if ((c == tty.EraseKey() && c != 0) || c == 0x7f || c == '\b') {
      if (!line.empty()) {
        line.pop_back();
        tty.Write("\b \b");
      }
      continue;
    }
    if (c >= 0x21 && c < 0x7f && line.size() < kMaxAnswer) {
      line += static_cast<char>(c);
      tty.Write(std::string(1, static_cast<char>(c)));
    }
    // Other keys (controls, spaces, bytes of other characters) are not part of an answer.
  }
}

}  // namespace

int RunModalDialog(int templateId, DialogEvents& events) {
  const TerminalTemplate* dialog = FindTemplate(templateId);
  if (!dialog) return kDialogNotShown;
  TerminalSession tty;
  if (!tty.Open()) return kDialogNotShown;

  TerminalWindow window(dialog->comboId);
  events.InitDialog(window);  // the focus is the prompt's
  if (window.Result()) return *window.Result();
  if (!tty.EnterKeyMode()) return kDialogNotShown;

  TerminalCombo& combo = window.Combo();
  ShowDialog(tty, *dialog, combo);
  const std::string prompt = std::string(dialog->comboLabel) + " (" + Choices(combo) + "): ";
  for (;;) {
    tty.Write(prompt);
    Answer answer = ReadAnswer(tty, combo);
    if (answer.kind == Answer::Invalid) {
      tty.Write("Please answer " + Choices(combo) + ".\n");
      continue;
    }
    if (answer.kind == Answer::Confirm) {
      combo.SetCurSel(answer.item);
      events.Command(IDOK);
    } else {
      events.Command(IDCANCEL);
    }
    if (window.Result()) return *window.Result();
    if (answer.kind == Answer::End) return IDCANCEL;  // nobody left to ask
  }
}

}  // namespace korvo
