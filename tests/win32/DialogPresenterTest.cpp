// The Windows dialog on the real dialog manager, with template 101 linked
// into this program, operated by messages from within its own modal loop.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "HiddenWindowStation.h"
#include "platform/DialogPresenter.h"
#include "resources/resource.h"

namespace korvo {
namespace {

bool HaveDisplay() {
  char display[256];
  return GetEnvironmentVariableA("DISPLAY", display, sizeof display) > 0;
}

// What the operator does once the dialog shows; set during one AskWhile.
std::function<void(HWND)> g_operate;

BOOL CALLBACK OperateIfShown(HWND window, LPARAM) {
  if (!g_operate || !IsWindowVisible(window)) return TRUE;
  auto operate = std::move(g_operate);
  g_operate = nullptr;
  operate(window);
  return FALSE;
}

// Timer messages reach this thread's modal loop: each looks for the shown
// dialog, once its initialisation has filled it.
void CALLBACK LookForTheDialog(HWND, UINT, UINT_PTR, DWORD) {
  EnumThreadWindows(GetCurrentThreadId(), OperateIfShown, 0);
}

// Asks over `list` on this thread, with `operate` called on the dialog once
// it shows.
std::optional<int> AskWhile(const DropDownList& list, std::function<void(HWND)> operate) {
  g_operate = std::move(operate);
  UINT_PTR timer = SetTimer(nullptr, 0, 50, LookForTheDialog);
  std::optional<int> answer = AskChoice("ignored", "ignored", list);
  KillTimer(nullptr, timer);
  g_operate = nullptr;
  return answer;
}

void Command(HWND dialog, int id) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

std::string Item(HWND dialog, int index) {
  char text[256] = {};
  SendDlgItemMessageA(dialog, IDC_DEVICE, CB_GETLBTEXT, static_cast<WPARAM>(index),
                      reinterpret_cast<LPARAM>(text));
  return text;
}

const DropDownList kThree = {{"zeta", "alpha", "mu"}, 2};

// A service or an OpenSSH session: nobody could answer, so nothing is shown.
// The question runs on a thread of its own, so that this one never takes a
// desktop in the hidden station.
TEST(DialogPresenterTest, WithoutAVisibleDesktopTheDialogIsNotShown) {
  win32test::HiddenWindowStation hidden;
  ASSERT_TRUE(hidden.Entered());
  bool shown = false;
  std::optional<int> answer = -2;
  std::thread asking([&] {
    answer = AskWhile(kThree, [&](HWND dialog) {
      shown = true;
      Command(dialog, IDOK);
    });
  });
  asking.join();
  EXPECT_EQ(answer, std::nullopt);
  EXPECT_FALSE(shown);
}

TEST(DialogPresenterTest, ShowsTheItemsUnsortedWithTheSelection) {
  if (!HaveDisplay()) GTEST_SKIP() << "windows need a display (run under xvfb-run)";
  std::string caption;
  std::vector<std::string> items;
  LRESULT selected = -2;
  std::optional<int> answer = AskWhile(kThree, [&](HWND dialog) {
    char text[64] = {};
    GetWindowTextA(dialog, text, sizeof text);
    caption = text;
    LRESULT count = SendDlgItemMessageA(dialog, IDC_DEVICE, CB_GETCOUNT, 0, 0);
    for (int i = 0; i < count; ++i) items.push_back(Item(dialog, i));
    selected = SendDlgItemMessageA(dialog, IDC_DEVICE, CB_GETCURSEL, 0, 0);
    Command(dialog, IDOK);
  });
  EXPECT_EQ(caption, "Select Device to Test");
  EXPECT_EQ(items, (std::vector<std::string>{"zeta", "alpha", "mu"}));
  EXPECT_EQ(selected, 2);
  EXPECT_EQ(answer, 2);  // OK untouched: the preselected item
}

TEST(DialogPresenterTest, OkAnswersWhatIsSelectedThen) {
  if (!HaveDisplay()) GTEST_SKIP() << "windows need a display (run under xvfb-run)";
  EXPECT_EQ(AskWhile(kThree,
                     [](HWND dialog) {
                       SendDlgItemMessageA(dialog, IDC_DEVICE, CB_SETCURSEL, 0, 0);
                       Command(dialog, IDOK);
                     }),
            0);
  DropDownList none = {{"zeta", "alpha"}, -1};
  EXPECT_EQ(AskWhile(none, [](HWND dialog) { Command(dialog, IDOK); }), -1);
}

TEST(DialogPresenterTest, CancelEscapeAndTheCloseBoxAnswerNothing) {
  if (!HaveDisplay()) GTEST_SKIP() << "windows need a display (run under xvfb-run)";
  const struct {
    const char* name;
    std::function<void(HWND)> operate;
  } cases[] = {
      {"Cancel", [](HWND dialog) { Command(dialog, IDCANCEL); }},
      {"Escape",
       [](HWND dialog) {
         HWND focus = GetDlgItem(dialog, IDOK);
         PostMessageA(focus, WM_KEYDOWN, VK_ESCAPE, 0);
       }},
      {"close box", [](HWND dialog) { PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(AskWhile(kThree, c.operate), std::nullopt);
  }
}

}  // namespace
}  // namespace korvo
