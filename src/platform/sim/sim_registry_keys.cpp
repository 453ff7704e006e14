// SimPlatform's registry: keys handed to the installer over the registry file
// (sim_registry.h), each change traced.
#include "platform/sim/device_state.h"
#include "platform/sim/sim_platform.h"
#include "platform/sim/sim_registry.h"

namespace autorun::sim {

namespace {

std::vector<std::uint8_t> dwordBytes(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
          static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

class SimRegistryKey : public RegistryKey {
 public:
  SimRegistryKey(std::shared_ptr<DeviceState> state, std::shared_ptr<RegistryNode> node,
                 std::string name)
      : state_(std::move(state)), node_(std::move(node)), name_(std::move(name)) {}

  bool setDword(const std::u16string& name, std::uint32_t value) override {
    const bool ok =
        !node_->deleted && state_->registry.setValue(*node_, name, kRegDword, dwordBytes(value));
    state_->record({{"op", "set_value"},
                    {"key", name_},
                    {"name", utf8(name)},
                    {"type", "dword"},
                    {"value", value},
                    {"ok", ok}});
    return ok;
  }

  bool setString(const std::u16string& name, const std::u16string& value) override {
    const bool ok = !node_->deleted &&
                    state_->registry.setValue(*node_, name, kRegString, registryStringBytes(value));
    state_->record({{"op", "set_value"},
                    {"key", name_},
                    {"name", utf8(name)},
                    {"type", "string"},
                    {"value", utf8(value)},
                    {"ok", ok}});
    return ok;
  }

  bool queryValue(const std::u16string& name, std::uint32_t& type,
                  std::vector<std::uint8_t>& data) override {
    if (node_->deleted) return false;
    const RegistryValue* value = node_->value(name);
    if (value == nullptr) return false;
    type = value->type;
    data = value->data;
    return true;
  }

  bool deleteSubkeyTree(const std::u16string& name) override {
    std::vector<std::u16string> components;
    const bool ok = !node_->deleted && !name.empty() && splitKeyPath(name, components) &&
                    state_->registry.deleteTree(*node_, components);
    state_->record({{"op", "delete_key"}, {"key", name_}, {"subkey", utf8(name)}, {"ok", ok}});
    return ok;
  }

  // Every change is already on disk.
  void flush() override {}

 private:
  std::shared_ptr<DeviceState> state_;
  std::shared_ptr<RegistryNode> node_;
  std::string name_;  // root and path as asked for, for the trace
};

std::string keyName(RegistryRoot root, const std::u16string& path) {
  std::string name = utf8(registryRootName(root));
  if (!path.empty()) name += "\\" + utf8(path);
  return name;
}

}  // namespace

std::unique_ptr<RegistryKey> SimPlatform::createKey(RegistryRoot root, const std::u16string& path) {
  std::vector<std::u16string> components;
  if (!splitKeyPath(path, components)) return nullptr;
  RegistryTree& tree = state_->registry.tree();
  bool created = false;
  auto node =
      state_->registry.create(tree.roots[static_cast<std::size_t>(root)], components, created);
  const std::string name = keyName(root, path);
  if (!node) {
    state_->record({{"op", "create_key"}, {"key", name}, {"ok", false}});
    return nullptr;
  }
  if (created) state_->record({{"op", "create_key"}, {"key", name}, {"ok", true}});
  return std::make_unique<SimRegistryKey>(state_, std::move(node), name);
}

std::unique_ptr<RegistryKey> SimPlatform::openKey(RegistryRoot root, const std::u16string& path) {
  std::vector<std::u16string> components;
  if (!splitKeyPath(path, components)) return nullptr;
  auto node =
      RegistryFile::find(state_->registry.tree().roots[static_cast<std::size_t>(root)], components);
  if (!node) return nullptr;
  return std::make_unique<SimRegistryKey>(state_, std::move(node), keyName(root, path));
}

void SimPlatform::broadcastSettingChange() {
  state_->record(
      {{"op", "broadcast"}, {"message", kWmSettingChange}, {"wparam", kSettingChangeToday}});
}

}  // namespace autorun::sim
