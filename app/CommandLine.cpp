#include "app/CommandLine.h"

#include <optional>
#include <string_view>

#include "platform/TerminalText.h"

namespace korvo {

namespace {

// 1 to `maxDigits` digits of `base`; nothing else.
std::optional<unsigned> ParseNumber(std::string_view text, unsigned base, size_t maxDigits) {
  if (text.empty() || text.size() > maxDigits) return std::nullopt;
  unsigned value = 0;
  for (char c : text) {
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    value = value * base + digit;
  }
  return value;
}

// A number as lsusb users write it: hex may carry C's 0x, as in lsusb -v's idVendor.
std::optional<unsigned> ParseHalf(std::string_view text, unsigned base, size_t maxDigits) {
  if (base == 16 && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
  }
  return ParseNumber(text, base, maxDigits);
}

// "A", "A:", "A:B" or ":B": the two optional halves, at least one given, split at
// the first of `separators`.
bool SplitPair(std::string_view text, std::string_view separators, unsigned base,
               size_t maxDigits, std::optional<unsigned>* first, std::optional<unsigned>* second) {
  size_t colon = text.find_first_of(separators);
  std::string_view head = text.substr(0, colon);
  std::string_view tail = colon == std::string_view::npos ? "" : text.substr(colon + 1);
  if (head.empty() && tail.empty()) return false;
  std::optional<unsigned> a, b;
  if (!head.empty() && !(a = ParseHalf(head, base, maxDigits))) return false;
  if (!tail.empty() && !(b = ParseHalf(tail, base, maxDigits))) return false;
  *first = a;
  *second = b;
  return true;
}

// -d VID[:PID], in hex as lsusb writes them (0x6742:0x0001 too).
bool ParseIds(std::string_view text, DeviceSelector& selector) {
  // lsusb's -d takes ":PID" and "VID:" too; the vendor alone needs no colon.
  return SplitPair(text, ":", 16, 4, &selector.vendorId, &selector.productId);
}

// -s [[BUS]:][ADDR], in decimal; "ADDR" alone is an address. BUS/ADDR is the
// same, as in /dev/bus/usb/001/003.
bool ParseBusAddress(std::string_view text, DeviceSelector& selector) {
  if (text.find_first_of(":/") == std::string_view::npos) {
    std::optional<unsigned> address = ParseNumber(text, 10, 3);
    if (!address) return false;
    selector.bus.reset();
    selector.address = address;
    return true;
  }
  return SplitPair(text, ":/", 10, 3, &selector.bus, &selector.address);
}

// A whole number of seconds or units: 1 to 999999.
std::optional<unsigned> ParseCount(std::string_view text) {
  std::optional<unsigned> value = ParseNumber(text, 10, 6);
  if (!value || *value == 0) return std::nullopt;
  return value;
}

// Quotes an argument for an error line; it may hold anything.
std::string Quoted(std::string_view text) { return "'" + TerminalSafe(text) + "'"; }

CommandLine Failed(std::string error) {
  CommandLine line;
  line.action = Action::Error;
  line.error = std::move(error);
  return line;
}

// The state of one pass over the arguments.
struct Parser {
  explicit Parser(const std::vector<std::string>& words) : args(words) {}

  const std::vector<std::string>& args;
  size_t next = 0;
  bool help = false, version = false, list = false;
  CommandLine line;  // the station's options, gathered as they come
  DeviceSelector selector;
  std::optional<std::string> file;
  std::string error;
  std::vector<std::string> ignored;

  // The value of option `name`: the rest of its word, else the next word.
  std::optional<std::string> ValueOf(const std::string& name, std::string_view attached) {
    if (!attached.empty()) return std::string(attached);
    if (next < args.size()) return args[next++];
    error = "option '" + name + "' needs a value";
    return std::nullopt;
  }

  bool SetValue(const std::string& name, const std::string& value) {
    if (name == "-d" && !ParseIds(value, selector)) {
      error = "invalid -d " + Quoted(value) + ": expected VID[:PID] in hex, e.g. 6742:0001";
      return false;
    }
    if (name == "-s" && !ParseBusAddress(value, selector)) {
      error = "invalid -s " + Quoted(value) + ": expected [[BUS]:][ADDR] in decimal, e.g. 1:2";
      return false;
    }
    if ((name == "--serial" || name == "--path") && value.empty()) {
      error = "option '" + name + "' needs a value";
      return false;
    }
    if (name == "--serial") selector.serial = value;
    if (name == "--path") selector.path = value;
    if (name == "--wait" || name == "--timeout" || name == "--count") {
      std::optional<unsigned> number = ParseCount(value);
      if (!number) {
        error = "invalid " + name + " " + Quoted(value) + ": expected a whole number of " +
                (name == "--count" ? "units, e.g. 8" : "seconds, e.g. 30");
        return false;
      }
      (name == "--wait" ? line.waitSeconds : name == "--timeout" ? line.timeoutSeconds : line.count) =
          number;
    }
    return true;
  }

  // A long option that takes no value; false when `name` is not one.
  bool Flag(const std::string& name) {
    bool* flag = name == "--help"          ? &help
                 : name == "--version"     ? &version
                 : name == "--list"        ? &list
                 : name == "--all"         ? &line.all
                 : name == "--each"        ? &line.each
                 : name == "--json"        ? &line.json
                 : name == "--shared-file" ? &line.sharedFile
                 : name == "--wait"        ? &line.wait
                                           : nullptr;
    if (flag) *flag = true;
    return flag != nullptr;
  }

  bool Long(std::string_view word) {
    size_t equals = word.find('=');
    std::string name(word.substr(0, equals));
    bool hasValue = equals != std::string_view::npos;
    // --wait's value is optional, so it comes only after '='.
    if (name == "--wait" && hasValue) {
      line.wait = true;
      return SetValue(name, std::string(word.substr(equals + 1)));
    }
    if (Flag(name)) {
      if (!hasValue) return true;
      error = "option '" + name + "' takes no value";
      return false;
    }
    if (name != "--serial" && name != "--path" && name != "--timeout" && name != "--count") {
      error = "unknown option " + Quoted(name);
      return false;
    }
    std::optional<std::string> value;
    if (hasValue) {
      value = std::string(word.substr(equals + 1));
    } else {
      value = ValueOf(name, "");
    }
    return value && SetValue(name, *value);
  }

  // A cluster of short options, "-lh" or "-d6742" or "-d 6742".
  bool Short(std::string_view word) {
    for (size_t i = 1; i < word.size(); ++i) {
      char c = word[i];
      if (c == 'h') help = true;
      else if (c == 'V') version = true;
      else if (c == 'l') list = true;
      else if (c == 'a') line.all = true;
      else if (c == 'e') line.each = true;
      else if (c == 'w') line.wait = true;
      else if (c == 'd' || c == 's') {
        std::string name = std::string("-") + c;
        std::optional<std::string> value = ValueOf(name, word.substr(i + 1));
        return value && SetValue(name, *value);
      } else {
        error = "unknown option " + Quoted(std::string("-") + c);
        return false;
      }
    }
    return true;
  }

  bool Run() {
    while (next < args.size()) {
      const std::string& word = args[next++];
      if (word == "--") {
        if (next < args.size()) TakeFile(args[next++]);
        return true;
      }
      if (word.size() < 2 || word[0] != '-') {
        TakeFile(word);
        return true;
      }
      bool ok = word[1] == '-' ? Long(word) : Short(word);
      if (!ok) return false;
    }
    return true;
  }

  // FILE; what follows it is not parsed, only looked at for stray options.
  void TakeFile(const std::string& word) {
    file = word;
    for (; next < args.size(); ++next) {
      if (args[next].size() >= 2 && args[next][0] == '-') ignored.push_back(args[next]);
    }
  }
};

// The station's options that cannot go together, or not with -l; "" when
// none of them clash.
std::string Clash(const CommandLine& line, bool list) {
  auto both = [](const char* a, const char* b) {
    return std::string("options '") + a + "' and '" + b + "' cannot be used together";
  };
  if (list && line.all) return both("-l", "--all");
  if (list && line.each) return both("-l", "--each");
  if (list && line.timeoutSeconds) return both("-l", "--timeout");
  if (line.all && line.each) return both("--all", "--each");
  if (line.each && line.wait) return both("--each", "--wait");  // --each always waits
  if (line.count && !line.each) return "option '--count' needs '--each'";
  return "";
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  Parser parser(args);
  if (!parser.Run()) return Failed(parser.error);

  CommandLine line = parser.line;
  line.selector = parser.selector;
  line.ignored = parser.ignored;
  if (parser.help) {
    line.action = Action::Help;
  } else if (parser.version) {
    line.action = Action::Version;
  } else if (std::string clash = Clash(line, parser.list); !clash.empty()) {
    return Failed(clash);
  } else if (parser.list) {
    if (parser.file) return Failed("option '-l' takes no FILE");
    line.action = Action::List;
  } else {
    line.file = parser.file.value_or("");
  }
  return line;
}

}  // namespace korvo
