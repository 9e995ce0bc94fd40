#include "app/JsonLines.h"

#include <cmath>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "deviceio/DeviceChannel.h"
#include "discovery/DeviceSelector.h"
#include "platform/TerminalText.h"

namespace korvo {

namespace {

using Json = nlohmann::ordered_json;

bool IsUtf8(std::string_view text) {
  uint32_t code;
  for (size_t length; !text.empty(); text.remove_prefix(length)) {
    if ((length = Utf8Sequence(text, &code)) == 0) return false;
  }
  return true;
}

// A text member, and its bytes in hex after it when it is not UTF-8.
void AddText(Json& object, const char* name, const std::optional<std::string>& system) {
  if (!system) {
    object[name] = nullptr;
    return;
  }
  std::string utf8 = TextAsUtf8(*system);
  object[name] = utf8;  // written with U+FFFD for what is not UTF-8
  if (IsUtf8(utf8)) return;
  std::string hex;
  for (unsigned char byte : *system) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", byte);
    hex += digits;
  }
  object[std::string(name) + "_hex"] = hex;
}

Json Id(const std::optional<unsigned>& id) { return id ? Json(Hex4(*id)) : Json(nullptr); }

template <typename T>
Json Value(const std::optional<T>& value) {
  return value ? Json(*value) : Json(nullptr);
}

// The device's facts as -l shows them, `device` first.
Json Identity(const DeviceEntry* entry) {
  Json object = Json::object();
  DeviceFacts facts = entry ? entry->facts : DeviceFacts{};
  AddText(object, "device", entry ? std::optional(entry->devicePath) : std::nullopt);
  object["bus"] = Value(facts.bus);
  object["address"] = Value(facts.address);
  object["vid"] = Id(facts.vendorId);
  object["pid"] = Id(facts.productId);
  AddText(object, "serial", facts.serial);
  AddText(object, "description", entry ? std::optional(entry->description) : std::nullopt);
  return object;
}

std::string Line(const Json& object) {
  return object.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace

std::string UnitJson(const DeviceEntry* entry, const RunReport& report, std::string_view result,
                     double seconds, int exitStatus) {
  Json object = Identity(entry);
  object["status"] = nullptr;
  object["status_error"] = Value(report.statusError);
  object["status_bits"] = nullptr;
  if (report.status) {
    object["status"] = StatusHex(*report.status);
    object["status_bits"] = {{"selected", (*report.status & kPortSelected) != 0},
                             {"no_error", (*report.status & kPortNoError) != 0},
                             {"paper_empty", (*report.status & kPortPaperEmpty) != 0}};
  }
  object["file_bytes"] = Value(report.fileBytes);
  object["bytes_sent"] = report.bytesSent;
  object["seconds"] = std::round(seconds * 1000) / 1000;
  object["result"] = result;
  object["exit"] = exitStatus;
  return Line(object);
}

std::string ListingJson(const DeviceList& devices, std::optional<int> automatic) {
  std::string lines;
  for (int i = 0; i < devices.GetCount(); ++i) {
    Json object = Identity(&devices.GetAt(i));
    object["number"] = i + 1;
    object["automatic"] = automatic == i;
    lines += Line(object);
  }
  return lines;
}

}  // namespace korvo
