// The contract's device on Linux: the simulated device over an image in a temporary
// folder. What the image's files say (cards and windows in device.json, values in
// registry.reg) is read when a platform is made, so changing them makes a new one.
#include <algorithm>

#include <nlohmann/json.hpp>

#include "contract/contract_device.h"
#include "host_text/utf.h"
#include "platform/sim/sim_platform.h"
#include "platform/sim/sim_registry.h"
#include "support/device_image.h"

namespace autorun::contract {
namespace {

constexpr char16_t kSimInstaller[] = u"\\Storage Card\\2577\\autorun.exe";

class SimContractDevice : public ContractDevice {
 public:
  SimContractDevice() {
    image_.writeFile(kSimInstaller, "MZ");
    image_.makeFolder(u"\\Contract");
    rebuild();
  }

  PlatformServices& platform() override { return *platform_; }
  std::u16string scratch() const override { return u"\\Contract"; }
  ModuleHandle module() const override { return sim::SimPlatform::kModuleHandle; }

  void insertCards(const std::vector<std::u16string>& names) override {
    nlohmann::json cards = nlohmann::json::array();
    for (const std::u16string& name : names) {
      image_.makeFolder(u"\\" + name);
      cards.push_back(host::toUtf8(name));
    }
    device_["cards"] = cards;
    rebuild();
  }

  WindowHandle openWindow(const std::u16string& windowClass, const std::u16string& title,
                          bool closesOnRequest) override {
    device_["windows"].push_back({{"class", host::toUtf8(windowClass)},
                                  {"title", host::toUtf8(title)},
                                  {"closes", closesOnRequest}});
    rebuild();
    return platform_->findWindow(windowClass, title);
  }

  bool windowGone(WindowHandle window) override {
    const auto info = platform_->windowInfo(window);
    return !info || !info->open;
  }

  void writeForeignValue(RegistryRoot root, const std::u16string& key, const std::u16string& name,
                         std::uint32_t type, const std::vector<std::uint8_t>& data) override {
    platform_.reset();
    {
      sim::RegistryFile registry(image_.dir() / "registry.reg");
      std::vector<std::u16string> components;
      for (std::u16string_view rest = key; !rest.empty();) {
        const std::size_t cut = std::min(rest.find(u'\\'), rest.size());
        components.emplace_back(rest.substr(0, cut));
        rest.remove_prefix(std::min(cut + 1, rest.size()));
      }
      bool created = false;
      const auto node = registry.create(registry.tree().roots[static_cast<std::size_t>(root)],
                                        components, created);
      if (!node || !registry.setValue(*node, name, type, data)) {
        throw sim::SimError("cannot write " + host::toUtf8(key) + " in the image's registry");
      }
    }
    rebuild();
  }

 private:
  void rebuild() {
    platform_.reset();
    image_.writeDeviceJson(device_);
    sim::SimOptions options;
    options.installerPath = kSimInstaller;
    options.keepTrace = false;
    platform_ = image_.platform(std::move(options));
  }

  testing::DeviceImage image_;
  nlohmann::json device_ = nlohmann::json::object();
  std::unique_ptr<sim::SimPlatform> platform_;
};

}  // namespace

std::unique_ptr<ContractDevice> makeContractDevice(std::string_view) {
  return std::make_unique<SimContractDevice>();
}

}  // namespace autorun::contract
