// Checks the compiled resource file against the device-choice dialog as the
// operator must see it on Windows: the bytes Windows loads, not the script.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

// Window and control styles, as the Windows headers define them.
constexpr uint32_t WS_POPUP = 0x80000000;
constexpr uint32_t WS_CHILD = 0x40000000;
constexpr uint32_t WS_VISIBLE = 0x10000000;
constexpr uint32_t WS_CAPTION = 0x00C00000;
constexpr uint32_t WS_SYSMENU = 0x00080000;
constexpr uint32_t WS_VSCROLL = 0x00200000;
constexpr uint32_t WS_GROUP = 0x00020000;
constexpr uint32_t WS_TABSTOP = 0x00010000;
constexpr uint32_t DS_SETFONT = 0x40;
constexpr uint32_t DS_MODALFRAME = 0x80;
constexpr uint32_t BS_PUSHBUTTON = 0x0;
constexpr uint32_t BS_DEFPUSHBUTTON = 0x1;
constexpr uint32_t SS_LEFT = 0x0;
constexpr uint32_t CBS_DROPDOWNLIST = 0x3;

constexpr uint16_t RT_DIALOG = 5;
constexpr uint16_t kEnglishUs = 1033;

// Predefined control classes, by their ordinals in a dialog template.
constexpr uint16_t kButton = 0x80;
constexpr uint16_t kStatic = 0x82;
constexpr uint16_t kComboBox = 0x85;

// A resource name, type or control class: a number or a text.
struct NameOrOrdinal {
  std::optional<uint16_t> ordinal;
  std::string text;
};

// Reads little-endian values; any read past the end marks the reader bad
// and yields zeros, so that a damaged file fails the checks, not the test run.
class Reader {
 public:
  Reader(const std::vector<uint8_t>& bytes, size_t begin, size_t end)
      : bytes_(bytes), pos_(begin), end_(end) {}

  bool Good() const { return good_; }
  size_t Position() const { return pos_; }

  uint16_t Word() {
    if (!Need(2)) return 0;
    uint16_t value = static_cast<uint16_t>(bytes_[pos_] | bytes_[pos_ + 1] << 8);
    pos_ += 2;
    return value;
  }

  uint32_t Dword() {
    uint32_t low = Word();
    uint32_t high = Word();
    return low | high << 16;
  }

  int16_t Short() { return static_cast<int16_t>(Word()); }

  // A terminated UTF-16 text; anything beyond ASCII shows as '?'.
  std::string Text() {
    std::string text;
    for (uint16_t c = Word(); good_ && c != 0; c = Word()) {
      text += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return text;
  }

  // 0xFFFF and an ordinal, or a text.
  NameOrOrdinal Name() {
    size_t start = pos_;
    if (Word() == 0xFFFF) return {Word(), ""};
    pos_ = start;
    return {std::nullopt, Text()};
  }

  void AlignToDword() {
    size_t aligned = (pos_ + 3) & ~size_t{3};
    if (aligned > end_) good_ = false;
    pos_ = aligned > end_ ? end_ : aligned;
  }

 private:
  bool Need(size_t count) {
    if (good_ && end_ - pos_ >= count) return true;
    good_ = false;
    return false;
  }

  const std::vector<uint8_t>& bytes_;
  size_t pos_;
  size_t end_;
  bool good_ = true;
};

struct Control {
  uint32_t style;
  uint32_t extendedStyle;
  int x, y, width, height;
  int id;
  NameOrOrdinal windowClass;
  std::string text;
};

struct DialogTemplate {
  uint16_t language = 0;
  uint32_t style = 0;
  uint32_t extendedStyle = 0;
  int x = 0, y = 0, width = 0, height = 0;
  NameOrOrdinal menu;
  NameOrOrdinal windowClass;
  std::string caption;
  int pointSize = 0;
  std::string font;
  std::vector<Control> controls;
  bool complete = false;  // every byte read lay inside the resource
};

std::vector<uint8_t> ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The classic DLGTEMPLATE layout: header, then one DLGITEMTEMPLATE per
// control, each on a 4-byte boundary.
void DecodeDialog(Reader& in, DialogTemplate& dialog) {
  dialog.style = in.Dword();
  dialog.extendedStyle = in.Dword();
  uint16_t count = in.Word();
  dialog.x = in.Short();
  dialog.y = in.Short();
  dialog.width = in.Short();
  dialog.height = in.Short();
  dialog.menu = in.Name();
  dialog.windowClass = in.Name();
  dialog.caption = in.Text();
  if (dialog.style & DS_SETFONT) {
    dialog.pointSize = in.Word();
    dialog.font = in.Text();
  }
  for (uint16_t i = 0; i < count && in.Good(); ++i) {
    in.AlignToDword();
    Control control{};
    control.style = in.Dword();
    control.extendedStyle = in.Dword();
    control.x = in.Short();
    control.y = in.Short();
    control.width = in.Short();
    control.height = in.Short();
    control.id = in.Short();
    control.windowClass = in.Name();
    NameOrOrdinal title = in.Name();
    control.text = title.text;
    uint16_t extraBytes = in.Word();
    for (uint16_t b = 0; b < extraBytes; ++b) in.Word();
    dialog.controls.push_back(control);
  }
  dialog.complete = in.Good();
}

// Finds dialog `id` among the resources of a .res file: each resource is a
// header (sizes, type, name, language) followed by its data.
std::optional<DialogTemplate> FindDialog(const std::vector<uint8_t>& bytes, uint16_t id) {
  size_t pos = 0;
  while (bytes.size() - pos >= 8) {
    Reader header(bytes, pos, bytes.size());
    uint32_t dataSize = header.Dword();
    uint32_t headerSize = header.Dword();
    if (headerSize < 8 || headerSize > bytes.size() - pos ||
        dataSize > bytes.size() - pos - headerSize) {
      return std::nullopt;
    }
    NameOrOrdinal type = header.Name();
    NameOrOrdinal name = header.Name();
    header.AlignToDword();
    header.Dword();  // data version
    header.Word();   // memory flags
    uint16_t language = header.Word();
    size_t data = pos + headerSize;
    if (header.Good() && type.ordinal == RT_DIALOG && name.ordinal == id) {
      DialogTemplate dialog;
      dialog.language = language;
      Reader body(bytes, data, data + dataSize);
      DecodeDialog(body, dialog);
      return dialog;
    }
    pos = (data + dataSize + 3) & ~size_t{3};
  }
  return std::nullopt;
}

class DialogTemplateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<uint8_t> bytes = ReadFile(KORVO_RESOURCE_FILE);
    ASSERT_FALSE(bytes.empty()) << "no compiled resources at " << KORVO_RESOURCE_FILE;
    std::optional<DialogTemplate> found = FindDialog(bytes, 101);
    ASSERT_TRUE(found) << "no dialog 101";
    ASSERT_TRUE(found->complete) << "dialog resource is cut short";
    dialog = *found;
  }

  DialogTemplate dialog;
};

TEST_F(DialogTemplateTest, FrameIsAModalCaptionedPopupInUsEnglish) {
  EXPECT_EQ(dialog.language, kEnglishUs);
  EXPECT_EQ(dialog.style, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT);
  EXPECT_EQ(dialog.extendedStyle, 0u);
  EXPECT_EQ(dialog.x, 0);
  EXPECT_EQ(dialog.y, 0);
  EXPECT_EQ(dialog.width, 244);
  EXPECT_EQ(dialog.height, 50);
  EXPECT_EQ(dialog.menu.ordinal, std::nullopt);  // no menu ...
  EXPECT_EQ(dialog.menu.text, "");
  EXPECT_EQ(dialog.windowClass.ordinal, std::nullopt);  // ... and the standard dialog class
  EXPECT_EQ(dialog.windowClass.text, "");
  EXPECT_EQ(dialog.caption, "Select Device to Test");
  EXPECT_EQ(dialog.pointSize, 8);
  EXPECT_EQ(dialog.font, "MS Sans Serif");
}

TEST_F(DialogTemplateTest, ControlsInTabOrder) {
  struct Expected {
    int id;
    uint16_t windowClass;
    const char* text;
    int x, y, width, height;
    uint32_t style;
  };
  constexpr uint32_t kChild = WS_CHILD | WS_VISIBLE;
  const Expected expected[] = {
      {1, kButton, "OK", 64, 29, 50, 14, kChild | WS_TABSTOP | BS_DEFPUSHBUTTON},
      {2, kButton, "Cancel", 130, 29, 50, 14, kChild | WS_TABSTOP | BS_PUSHBUTTON},
      {-1, kStatic, "Device:", 7, 9, 26, 8, kChild | WS_GROUP | SS_LEFT},
      {1001, kComboBox, "", 51, 7, 186, 92, kChild | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP},
  };
  ASSERT_EQ(dialog.controls.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE("control " + std::to_string(i));
    const Control& c = dialog.controls[i];
    EXPECT_EQ(c.id, expected[i].id);
    EXPECT_EQ(c.windowClass.ordinal, expected[i].windowClass);
    EXPECT_EQ(c.text, expected[i].text);
    EXPECT_EQ(c.x, expected[i].x);
    EXPECT_EQ(c.y, expected[i].y);
    EXPECT_EQ(c.width, expected[i].width);
    EXPECT_EQ(c.height, expected[i].height);
    EXPECT_EQ(c.style, expected[i].style);
    EXPECT_EQ(c.extendedStyle, 0u);
  }
}

}  // namespace
