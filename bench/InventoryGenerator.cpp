#include "bench/InventoryGenerator.h"

#include <string>

namespace {

// Small deterministic generator; the standard distributions differ
// between libraries, this does not.
class Random {
 public:
  explicit Random(std::uint32_t seed) : state_(seed * 2654435761u + 1) {}
  std::uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }
  std::uint32_t Below(std::uint32_t bound) { return Next() % bound; }
  bool Chance(std::uint32_t percent) { return Below(100) < percent; }

 private:
  std::uint32_t state_;
};

struct Vendor {
  const char* name;
  unsigned weight;
  const char* products[4];
};

const Vendor kVendors[] = {
    {"Microsoft Corporation", 18, {"Microsoft Office Professional Plus", "Microsoft Visual C++ Redistributable", "Microsoft Edge", "Microsoft Teams"}},
    {"Adobe Inc.", 6, {"Adobe Acrobat Reader", "Adobe Photoshop", "Adobe Creative Cloud", "Adobe Office Connector"}},
    {"Google LLC", 5, {"Google Chrome", "Google Update Helper", "Google Drive", "Google Earth Pro"}},
    {"Oracle Corporation", 4, {"Java Runtime Environment", "VirtualBox", "MySQL Workbench", "Java Development Kit"}},
    {"Mozilla", 4, {"Mozilla Firefox", "Mozilla Thunderbird", "Mozilla Maintenance Service", "Firefox Developer Edition"}},
    {"Intel Corporation", 5, {"Intel Graphics Driver", "Intel Management Engine", "Intel Rapid Storage", "Intel Wireless Bluetooth"}},
    {"NVIDIA Corporation", 4, {"NVIDIA Graphics Driver", "NVIDIA PhysX", "NVIDIA HD Audio", "NVIDIA FrameView SDK"}},
    {"Dell Inc.", 4, {"Dell Command Update", "Dell SupportAssist", "Dell Optimizer", "Dell Power Manager"}},
    {"Corvane", 3, {"Fleetwarden Client", "Fleetwarden Remote Control", "Fleetwarden Inventory Scanner", "Fleetwarden Patch Agent"}},
    {"The Document Foundation", 2, {"LibreOffice", "LibreOffice Help Pack", "LibreOffice SDK", "LibreOffice Office Extensions"}},
    {"VideoLAN", 2, {"VLC media player", "VLC plugins", "VLC skins", "VLC codecs"}},
    {"7-Zip", 2, {"7-Zip", "7-Zip Shell Extension", "7-Zip Help", "7-Zip Console"}},
    {"Python Software Foundation", 2, {"Python", "Python Launcher", "Python Test Suite", "Python Documentation"}},
    {"Zoom Video Communications", 2, {"Zoom", "Zoom Outlook Plugin", "Zoom Rooms", "Zoom Office Add-in"}},
    {"Citrix Systems", 2, {"Citrix Workspace", "Citrix Web Helper", "Citrix Authentication Manager", "Citrix Files"}},
    {"Realtek Semiconductor", 3, {"Realtek Audio Driver", "Realtek Card Reader", "Realtek Ethernet Driver", "Realtek USB Audio"}},
};

const char* const kFileStems[] = {"setup", "core", "helper", "update", "service", "ui", "plugin", "runtime",
                                  "common", "launcher", "resources", "license"};
const char* const kFileTypes[] = {".exe", ".dll", ".dll", ".sys", ".dat", ".msi"};
const char* const kComponents[] = {"Proofing Tools", "Shared Features", "Language Pack", "Add-ins",
                                   "Documentation", "Drivers", "Codecs", "Templates"};

// Counts elements as it writes them.
class Writer {
 public:
  explicit Writer(std::ostream& out) : out_(out) {}
  void Open(int depth, const std::string& tag, const std::string& attributes, bool empty) {
    out_ << std::string(static_cast<std::size_t>(depth) * 2, ' ') << '<' << tag << attributes << (empty ? "/>\n" : ">\n");
    ++elements_;
  }
  void Close(int depth, const std::string& tag) {
    out_ << std::string(static_cast<std::size_t>(depth) * 2, ' ') << "</" << tag << ">\n";
  }
  std::size_t Elements() const { return elements_; }
  std::ostream& Stream() { return out_; }

 private:
  std::ostream& out_;
  std::size_t elements_ = 0;
};

std::string Attr(const char* name, const std::string& value) { return std::string(" ") + name + "=\"" + value + "\""; }

std::string Version(Random& random) {
  return std::to_string(1 + random.Below(30)) + "." + std::to_string(random.Below(20)) + "." +
         std::to_string(random.Below(9999));
}

const Vendor& PickVendor(Random& random) {
  unsigned total = 0;
  for (const Vendor& v : kVendors) total += v.weight;
  unsigned pick = random.Below(total);
  for (const Vendor& v : kVendors) {
    if (pick < v.weight) return v;
    pick -= v.weight;
  }
  return kVendors[0];
}

void WriteFile(Writer& w, Random& random, int depth, const std::string& folder) {
  std::string name = std::string(kFileStems[random.Below(12)]) + std::to_string(random.Below(100)) +
                     kFileTypes[random.Below(6)];
  // Mostly small files, some large ones; all below 2^31.
  std::uint32_t size = random.Chance(10) ? 10000000 + random.Below(900000000) : 1024 + random.Below(4000000);
  w.Open(depth, "file",
         Attr("name", name) + Attr("path", folder + "\\" + name) + Attr("size", std::to_string(size)) +
             Attr("version", Version(random)),
         true);
}

void WriteComponent(Writer& w, Random& random, int depth, const std::string& folder, int nesting) {
  w.Open(depth, "component", Attr("name", kComponents[random.Below(8)]) + Attr("version", Version(random)), false);
  unsigned files = 1 + random.Below(3);
  for (unsigned i = 0; i < files; ++i) WriteFile(w, random, depth + 1, folder);
  if (nesting < 2 && random.Chance(30)) WriteComponent(w, random, depth + 1, folder, nesting + 1);
  w.Close(depth, "component");
}

void WriteHardware(Writer& w, Random& random, std::size_t target) {
  w.Open(1, "hardware", "", false);
  w.Open(2, "system", Attr("manufacturer", "Dell Inc.") + Attr("model", "OptiPlex 7090") + Attr("serial", "7H2KX93"),
         false);
  w.Open(3, "bios", Attr("vendor", "Dell Inc.") + Attr("version", "1.14.0") + Attr("date", "2023-03-01"), true);
  w.Open(3, "warranty", Attr("expires", "2026-01-31"), true);
  w.Close(2, "system");
  for (int i = 0; i < 2; ++i) {
    w.Open(2, "cpu",
           Attr("name", "Intel(R) Core(TM) i7-10700 CPU @ 2.90GHz") + Attr("cores", "8") + Attr("mhz", "2904") +
               Attr("socket", std::to_string(i)),
           true);
  }
  w.Open(2, "memory", Attr("total", "65536"), false);
  for (int i = 0; i < 4; ++i) {
    w.Open(3, "module", Attr("slot", "DIMM" + std::to_string(i + 1)) + Attr("size", "16384") + Attr("speed", "3200"),
           true);
  }
  w.Close(2, "memory");
  w.Open(2, "disks", "", false);
  const char* models[] = {"Samsung SSD 980 PRO 1TB", "WDC WD40EZRZ-00GXCB0", "KIOXIA KXG60ZNV512G"};
  for (int i = 0; i < 3; ++i) {
    w.Open(3, "disk",
           Attr("model", models[i]) + Attr("size", std::to_string(256000000000ULL * (i + 1))) +
               Attr("interface", i == 1 ? "SATA" : "NVMe"),
           true);
  }
  w.Close(2, "disks");
  w.Open(2, "network", "", false);
  for (int i = 0; i < 2; ++i) {
    w.Open(3, "adapter", Attr("name", i == 0 ? "Intel(R) Ethernet Connection I219-LM" : "Intel(R) Wi-Fi 6 AX201") +
                             Attr("mac", "00:1A:2B:3C:4D:" + std::to_string(10 + i)),
           true);
  }
  w.Close(2, "network");
  // Plug-and-play devices grow with the document, about one in two hundred elements.
  std::size_t devices = target / 200 < 10 ? 10 : target / 200;
  const char* classes[] = {"USB", "HIDClass", "System", "Monitor", "Net", "AudioEndpoint", "DiskDrive", "Ports"};
  w.Open(2, "devices", "", false);
  for (std::size_t i = 0; i < devices; ++i) {
    w.Open(3, "device",
           Attr("class", classes[random.Below(8)]) + Attr("name", "Device " + std::to_string(i)) +
               Attr("id", "PCI\\VEN_" + std::to_string(8086 + random.Below(20)) + "&amp;DEV_" + std::to_string(i)),
           true);
  }
  w.Close(2, "devices");
  w.Close(1, "hardware");
}

}  // namespace

std::size_t WriteInventory(std::ostream& out, std::size_t elements, std::uint32_t seed) {
  Random random(seed);
  Writer w(out);
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  w.Open(0, "inventory", Attr("host", "WS-0042") + Attr("scanned", "2024-05-01T10:00:00") + Attr("version", "3.2"),
         false);
  WriteHardware(w, random, elements);
  w.Open(1, "software", "", false);
  unsigned serial = 0;
  while (w.Elements() < elements) {
    const Vendor& vendor = PickVendor(random);
    std::string product = vendor.products[random.Below(4)];
    std::string name = product + " " + std::to_string(2010 + random.Below(15));
    std::string folder = std::string("C:\\Program Files\\") + vendor.name + "\\" + product;
    w.Open(2, "product",
           Attr("name", name) + Attr("vendor", vendor.name) + Attr("version", Version(random)) +
               Attr("installed", "2023-" + std::to_string(10 + random.Below(3)) + "-" + std::to_string(10 + random.Below(18))) +
               Attr("id", "P" + std::to_string(++serial)),
           false);
    unsigned files = 1 + random.Below(6);
    for (unsigned i = 0; i < files; ++i) WriteFile(w, random, 3, folder);
    unsigned components = random.Below(3);
    for (unsigned i = 0; i < components; ++i) WriteComponent(w, random, 3, folder, 0);
    // A licence entry is rare: the needle of the descendant search.
    if (random.Below(500) == 0) w.Open(3, "license", Attr("key", "LIC-" + std::to_string(serial)), true);
    w.Close(2, "product");
  }
  w.Close(1, "software");
  w.Close(0, "inventory");
  return w.Elements();
}
