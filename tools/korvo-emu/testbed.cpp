#include "testbed.h"

#include <glib.h>
#include <glib/gstdio.h>
#include <umockdev.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string_view>
#include <utility>

#include "descriptors.h"

namespace korvo_emu {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

GLogWriterOutput QuietAboutKilledClients(GLogLevelFlags level, const GLogField* fields,
                                         gsize count, gpointer data) {
  for (gsize i = 0; i < count; ++i) {
    if (std::string_view(fields[i].key) != "MESSAGE" || fields[i].length != -1) continue;
    if (std::string_view(static_cast<const char*>(fields[i].value))
            .ends_with("Destroying IoctlClient with open stream!")) {
      return G_LOG_WRITER_HANDLED;
    }
  }
  return g_log_writer_default(level, fields, count, data);
}

constexpr int kUsbMajor = 180;  // the character devices of USB class drivers (usbmisc)

std::string Format(const char* format, auto... args) {
  char buffer[256];
  std::snprintf(buffer, sizeof buffer, format, args...);
  return buffer;
}

std::string ProductProperty(const DeviceConfig& config) {
  return Format("%x/%x/%x", config.vendor_id, config.product_id, kDeviceRelease);
}

// umockdev takes name/value lists as NULL-terminated string arrays.
class StringArray {
 public:
  explicit StringArray(Pairs pairs) : pairs_(std::move(pairs)) {
    for (const auto& [name, value] : pairs_) {
      pointers_.push_back(const_cast<gchar*>(name.c_str()));
      pointers_.push_back(const_cast<gchar*>(value.c_str()));
    }
    pointers_.push_back(nullptr);
  }
  gchar** get() { return pointers_.data(); }

 private:
  Pairs pairs_;
  std::vector<gchar*> pointers_;
};

Pairs DeviceAttributes(const DeviceConfig& config, int port) {
  return {
      {"idVendor", Format("%04x\n", config.vendor_id)},
      {"idProduct", Format("%04x\n", config.product_id)},
      {"bcdDevice", Format("%04x\n", kDeviceRelease)},
      {"busnum", Format("%d\n", config.bus)},
      {"devnum", Format("%d\n", config.address)},
      {"devpath", Format("%d\n", port)},
      {"bDeviceClass", "00\n"},
      {"bDeviceSubClass", "00\n"},
      {"bDeviceProtocol", "00\n"},
      {"bMaxPacketSize0", "64\n"},
      {"bNumConfigurations", "1\n"},
      {"bConfigurationValue", Format("%d\n", kConfigurationValue)},
      {"bNumInterfaces", " 1\n"},
      {"bmAttributes", "c0\n"},
      {"MaxPower", "100mA\n"},
      {"speed", "480\n"},
      {"version", " 2.00\n"},
      {"maxchild", "0\n"},
      {"authorized", "1\n"},
  };
}

Pairs DeviceProperties(const DeviceConfig& config) {
  Pairs properties = {{"DEVTYPE", "usb_device"}};
  if (config.has_node) properties.emplace_back("DEVNAME", NodePath(config));
  properties.emplace_back("BUSNUM", Format("%03d", config.bus));
  properties.emplace_back("DEVNUM", Format("%03d", config.address));
  properties.emplace_back("PRODUCT", ProductProperty(config));
  properties.emplace_back("TYPE", "0/0/0");
  if (config.vendor_from_database) {
    properties.emplace_back("ID_VENDOR_FROM_DATABASE", *config.vendor_from_database);
  }
  if (config.model_from_database) {
    properties.emplace_back("ID_MODEL_FROM_DATABASE", *config.model_from_database);
  }
  return properties;
}

std::string Modalias(const DeviceConfig& config) {
  return Format("usb:v%04Xp%04Xd%04Xdc00dsc00dp00ic%02Xisc%02Xip%02Xin%02X", config.vendor_id,
                config.product_id, kDeviceRelease, config.interface_class,
                InterfaceSubClass(config), InterfaceProtocol(config), kInterfaceNumber);
}

Pairs InterfaceAttributes(const DeviceConfig& config) {
  return {
      {"bInterfaceNumber", Format("%02x\n", kInterfaceNumber)},
      {"bAlternateSetting", " 0\n"},
      {"bNumEndpoints", config.bulk_out ? "02\n" : "01\n"},
      {"bInterfaceClass", Format("%02x\n", config.interface_class)},
      {"bInterfaceSubClass", Format("%02x\n", InterfaceSubClass(config))},
      {"bInterfaceProtocol", Format("%02x\n", InterfaceProtocol(config))},
      {"modalias", Modalias(config) + "\n"},
  };
}

Pairs InterfaceProperties(const DeviceConfig& config) {
  return {
      {"DEVTYPE", "usb_interface"},
      {"PRODUCT", ProductProperty(config)},
      {"TYPE", "0/0/0"},
      {"INTERFACE", Format("%d/%d/%d", config.interface_class, InterfaceSubClass(config),
                           InterfaceProtocol(config))},
      {"MODALIAS", Modalias(config)},
  };
}

void SetBinary(UMockdevTestbed* testbed, const std::string& syspath, const char* name,
               const std::string& bytes) {
  std::string value = bytes + "\n";
  umockdev_testbed_set_attribute_binary(testbed, syspath.c_str(), name,
                                        reinterpret_cast<guint8*>(value.data()),
                                        static_cast<gint>(value.size()));
}

// libudev sorts devices by path: a controller directory per device keeps that
// order equal to the order of appearance.
// The kernel names a bus's root hub usbB and every other device B-P.
std::string SysfsName(const DeviceConfig& config, std::size_t index, int port) {
  if (config.root_hub) return Format("pci0000:00/0000:00:%02zx.0/usb%d", index, config.bus);
  return Format("pci0000:00/0000:00:%02zx.0/usb%d/%d-%d", index, config.bus, config.bus, port);
}

}  // namespace

std::string NodePath(const DeviceConfig& config) {
  return Format("/dev/bus/usb/%03d/%03d", config.bus, config.address);
}

std::string LpNodePath(int minor) { return Format("/dev/usb/lp%d", minor); }

std::unique_ptr<Testbed> Testbed::Create(std::string& error) {
  // A program killed in the middle of a request leaves umockdev's end of its
  // stream open, and umockdev says so on stderr, which is the command's: the
  // kernel says nothing when a process dies in an ioctl, and neither do we.
  g_log_set_writer_func(QuietAboutKilledClients, nullptr, nullptr);
  // umockdev's sockets live in the testbed directory and break silently when their
  // path gets long, so keep the testbed directly under /tmp whatever TMPDIR says.
  // GLib reads TMPDIR once and keeps the answer: TMPDIR is back before any
  // thread could read it.
  const gchar* tmpdir = g_getenv("TMPDIR");
  std::optional<std::string> saved_tmpdir;
  if (tmpdir) saved_tmpdir = tmpdir;
  g_setenv("TMPDIR", "/tmp", TRUE);
  g_get_tmp_dir();
  if (saved_tmpdir) g_setenv("TMPDIR", saved_tmpdir->c_str(), TRUE);
  else g_unsetenv("TMPDIR");
  // umockdev sets UMOCKDEV_DIR once its thread runs, and that thread reads the
  // environment: a variable added then may move the environment away under it
  // (korvo-emu crashed in getenv now and then). A value replaced stays in place.
  g_setenv("UMOCKDEV_DIR", "", TRUE);
  UMockdevTestbed* testbed = umockdev_testbed_new();
  if (!testbed) {
    error = "cannot create the umockdev testbed";
    return nullptr;
  }
  return std::unique_ptr<Testbed>(new Testbed(testbed));
}

Testbed::Testbed(UMockdevTestbed* testbed) : testbed_(testbed) {
  gchar* root = umockdev_testbed_get_root_dir(testbed_);
  root_dir_ = root;
  g_free(root);
}

Testbed::~Testbed() { g_object_unref(testbed_); }  // removes the testbed directory

bool Testbed::AddDevice(const DeviceConfig& config, std::size_t index, std::string& device_path,
                        std::string& interface_path, std::string& error) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const int port = config.root_hub ? 0 : ++ports_per_bus_[static_cast<std::size_t>(config.bus)];
  const std::string name = SysfsName(config, index, port);
  StringArray attributes(DeviceAttributes(config, port));
  StringArray properties(DeviceProperties(config));
  gchar* added = umockdev_testbed_add_devicev(testbed_, "usb", name.c_str(), nullptr,
                                              attributes.get(), properties.get());
  if (!added) {
    error = "umockdev could not add device " + name;
    return false;
  }
  const std::string syspath = added;
  g_free(added);
  device_path = syspath;

  const Bytes descriptors = AllDescriptors(config);
  umockdev_testbed_set_attribute_binary(testbed_, syspath.c_str(), "descriptors",
                                        const_cast<guint8*>(descriptors.data()),
                                        static_cast<gint>(descriptors.size()));
  if (config.manufacturer) SetBinary(testbed_, syspath, "manufacturer", *config.manufacturer);
  if (config.product) SetBinary(testbed_, syspath, "product", *config.product);
  if (config.serial) SetBinary(testbed_, syspath, "serial", *config.serial);

  // A parent is only accepted if it exists in this process's view of /sys, which is
  // the real one; naming the interface below the device does the same.
  const std::string interface_name = name + Format("/%d-%d:1.0", config.bus, port);
  StringArray interface_attributes(InterfaceAttributes(config));
  StringArray interface_properties(InterfaceProperties(config));
  gchar* interface = umockdev_testbed_add_devicev(testbed_, "usb", interface_name.c_str(),
                                                  nullptr, interface_attributes.get(),
                                                  interface_properties.get());
  if (!interface) {
    error = "umockdev could not add interface " + interface_name;
    return false;
  }
  interface_path = interface;
  g_free(interface);
  return !config.has_node || CreateNode(config, error);
}

void Testbed::RemoveDevice(const DeviceConfig& config, const std::string& device_path,
                           const std::string& interface_path) {
  const std::lock_guard<std::mutex> lock(mutex_);
  // The device's own directory holds the interface's: the interface goes
  // first, or its link in /sys/bus/usb/devices would stay.
  umockdev_testbed_remove_device(testbed_, interface_path.c_str());
  umockdev_testbed_remove_device(testbed_, device_path.c_str());
  // umockdev finds a node by the device's `dev` attribute, which it has not.
  if (config.has_node) g_unlink((root_dir_ + NodePath(config)).c_str());
}

bool Testbed::AddLpNode(const std::string& interface_path, int minor, std::string& error) {
  const std::lock_guard<std::mutex> lock(mutex_);
  // Named from /sys/devices down, like the interface: umockdev checks a parent
  // in the real /sys.
  constexpr std::string_view kDevices = "/sys/devices/";
  const std::string name =
      interface_path.substr(kDevices.size()) + Format("/usbmisc/lp%d", minor);
  StringArray attributes({{"dev", Format("%d:%d\n", kUsbMajor, minor)}});
  StringArray properties({{"MAJOR", Format("%d", kUsbMajor)},
                          {"MINOR", Format("%d", minor)},
                          {"DEVNAME", LpNodePath(minor)}});
  gchar* added = umockdev_testbed_add_devicev(testbed_, "usbmisc", name.c_str(), nullptr,
                                              attributes.get(), properties.get());
  if (!added) {
    error = "umockdev could not add " + name;
    return false;
  }
  g_free(added);
  return CreateFile(LpNodePath(minor), {}, error);
}

void Testbed::RemoveLpNode(const std::string& interface_path, int minor) {
  const std::lock_guard<std::mutex> lock(mutex_);
  // Removes the node in /dev too.
  const std::string path = interface_path + Format("/usbmisc/lp%d", minor);
  umockdev_testbed_remove_device(testbed_, path.c_str());
}

void Testbed::SetDriverLink(const std::string& interface_path,
                            const std::optional<std::string>& driver) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const std::string link = root_dir_ + interface_path + "/driver";
  g_unlink(link.c_str());
  if (!driver) return;
  const std::string drivers = "/sys/bus/usb/drivers/" + *driver;
  g_mkdir_with_parents((root_dir_ + drivers).c_str(), 0755);
  // Relative, as in sysfs: up from the interface to /sys, then down.
  std::string target;
  for (std::size_t slash = interface_path.find('/', 1); slash != std::string::npos;
       slash = interface_path.find('/', slash + 1)) {
    target += "../";
  }
  target += drivers.substr(std::string_view("/sys/").size());
  if (symlink(target.c_str(), link.c_str()) != 0) {
    std::fprintf(stderr, "korvo-emu: cannot link %s: %s\n", link.c_str(), g_strerror(errno));
  }
}

// umockdev creates no /dev node for a device; libusb reads the descriptors from it.
bool Testbed::CreateNode(const DeviceConfig& config, std::string& error) {
  if (!CreateFile(NodePath(config), AllDescriptors(config), error)) return false;
  // Only a program that may override file permissions opens it for writing.
  const std::string path = root_dir_ + NodePath(config);
  if (config.denied && g_chmod(path.c_str(), 0444) != 0) {
    error = "cannot make " + path + " read-only";
    return false;
  }
  return true;
}

bool Testbed::CreateFile(const std::string& node, const Bytes& contents, std::string& error) {
  const std::string path = root_dir_ + node;
  gchar* dir = g_path_get_dirname(path.c_str());
  const int made = g_mkdir_with_parents(dir, 0755);
  g_free(dir);
  GError* gerror = nullptr;
  if (made != 0 ||
      !g_file_set_contents(path.c_str(), reinterpret_cast<const gchar*>(contents.data()),
                           static_cast<gssize>(contents.size()), &gerror)) {
    error = "cannot create " + path + (gerror ? std::string(": ") + gerror->message : "");
    if (gerror) g_error_free(gerror);
    return false;
  }
  return true;
}

bool Testbed::NodeUnchanged(const DeviceConfig& config) const {
  gchar* contents = nullptr;
  gsize length = 0;
  const std::string path = root_dir_ + NodePath(config);
  if (!g_file_test(path.c_str(), G_FILE_TEST_EXISTS)) return true;
  if (!g_file_get_contents(path.c_str(), &contents, &length, nullptr)) return false;
  const Bytes descriptors = AllDescriptors(config);
  const bool same = length == descriptors.size() &&
                    std::equal(descriptors.begin(), descriptors.end(),
                               reinterpret_cast<const std::uint8_t*>(contents));
  g_free(contents);
  return same;
}

bool Testbed::AttachHandler(const std::string& node, UMockdevIoctlBase* handler,
                            std::string& error) {
  GError* gerror = nullptr;
  if (!umockdev_testbed_attach_ioctl(testbed_, node.c_str(), handler, &gerror)) {
    error = "cannot attach the device emulation to " + node +
            (gerror ? std::string(": ") + gerror->message : "");
    if (gerror) g_error_free(gerror);
    return false;
  }
  return true;
}

}  // namespace korvo_emu
