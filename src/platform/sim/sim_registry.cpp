// The simulated registry's tree and its file: names, lookups, changes written through.
#include "platform/sim/sim_registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/wide_text.h"
#include "platform/sim/host_files.h"
#include "platform/sim/sim_platform.h"

namespace autorun::sim {

namespace {

constexpr std::u16string_view kRootNames[] = {u"HKEY_LOCAL_MACHINE", u"HKEY_CURRENT_USER",
                                              u"HKEY_USERS"};

bool hasControl(std::u16string_view text) {
  for (char16_t c : text) {
    if (c < 0x20) return true;
  }
  return false;
}

void markDeleted(RegistryNode& node) {
  node.deleted = true;
  for (const auto& child : node.children) markDeleted(*child);
}

void unmarkDeleted(RegistryNode& node) {
  node.deleted = false;
  for (const auto& child : node.children) unmarkDeleted(*child);
}

}  // namespace

bool sameRegistryName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (foldLower(a[i]) != foldLower(b[i])) return false;
  }
  return true;
}

bool hasLoneSurrogate(std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        ++i;
        continue;
      }
      return true;
    }
    if (c >= 0xDC00 && c <= 0xDFFF) return true;
  }
  return false;
}

std::vector<std::uint8_t> registryStringBytes(std::u16string_view text) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve((text.size() + 1) * 2);
  for (char16_t c : text) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

RegistryNode* RegistryNode::child(std::u16string_view childName) const {
  for (const auto& node : children) {
    if (sameRegistryName(node->name, childName)) return node.get();
  }
  return nullptr;
}

RegistryValue* RegistryNode::value(std::u16string_view valueName) {
  for (RegistryValue& v : values) {
    if (sameRegistryName(v.name, valueName)) return &v;
  }
  return nullptr;
}

RegistryTree::RegistryTree() {
  for (std::size_t i = 0; i < roots.size(); ++i) {
    roots[i] = std::make_shared<RegistryNode>();
    roots[i]->name = std::u16string(kRootNames[i]);
  }
}

std::u16string_view registryRootName(RegistryRoot root) {
  return kRootNames[static_cast<std::size_t>(root)];
}

std::optional<RegistryRoot> registryRootNamed(std::u16string_view name) {
  for (std::size_t i = 0; i < std::size(kRootNames); ++i) {
    if (sameRegistryName(name, kRootNames[i])) return static_cast<RegistryRoot>(i);
  }
  return std::nullopt;
}

bool isStorableValueName(std::u16string_view name) {
  return !hasControl(name) && !hasLoneSurrogate(name);
}

bool isStorableKeyName(std::u16string_view name) {
  return !name.empty() && isStorableValueName(name) &&
         name.find(u'\\') == std::u16string_view::npos;
}

bool splitKeyPath(std::u16string_view path, std::vector<std::u16string>& components) {
  components.clear();
  if (path.empty()) return true;
  std::size_t start = 0;
  while (true) {
    const std::size_t slash = path.find(u'\\', start);
    const std::u16string_view part = path.substr(
        start, slash == std::u16string_view::npos ? std::u16string_view::npos : slash - start);
    if (!isStorableKeyName(part)) return false;
    components.emplace_back(part);
    if (slash == std::u16string_view::npos) return true;
    start = slash + 1;
  }
}

RegistryFile::RegistryFile(std::filesystem::path file) : file_(std::move(file)) {
  if (const auto text = readHostFile(file_, kMaxRegistryFileBytes)) {
    tree_ = parseRegistryText(*text, file_.string());
  }
}

std::shared_ptr<RegistryNode> RegistryFile::find(const std::shared_ptr<RegistryNode>& from,
                                                 const std::vector<std::u16string>& components) {
  std::shared_ptr<RegistryNode> node = from;
  for (const std::u16string& name : components) {
    std::shared_ptr<RegistryNode> next;
    for (const auto& child : node->children) {
      if (sameRegistryName(child->name, name)) next = child;
    }
    if (!next) return nullptr;
    node = next;
  }
  return node;
}

std::shared_ptr<RegistryNode> RegistryFile::create(const std::shared_ptr<RegistryNode>& from,
                                                   const std::vector<std::u16string>& components,
                                                   bool& created) {
  created = false;
  std::shared_ptr<RegistryNode> node = from;
  RegistryNode* firstParent = nullptr;  // where the first new key went
  for (const std::u16string& name : components) {
    std::shared_ptr<RegistryNode> next;
    for (const auto& child : node->children) {
      if (sameRegistryName(child->name, name)) next = child;
    }
    if (!next) {
      next = std::make_shared<RegistryNode>();
      next->name = name;
      if (firstParent == nullptr) firstParent = node.get();
      node->children.push_back(next);
      created = true;
    }
    node = next;
  }
  if (created && !save()) {
    firstParent->children.pop_back();
    created = false;
    return nullptr;
  }
  return node;
}

bool RegistryFile::setValue(RegistryNode& node, const std::u16string& name, std::uint32_t type,
                            std::vector<std::uint8_t> data) {
  if (!isStorableValueName(name)) return false;
  RegistryValue* existing = node.value(name);
  if (existing != nullptr) {
    RegistryValue previous = *existing;
    existing->type = type;
    existing->data = std::move(data);
    if (!save()) {
      *node.value(name) = std::move(previous);
      return false;
    }
    return true;
  }
  node.values.push_back(RegistryValue{name, type, std::move(data)});
  if (!save()) {
    node.values.pop_back();
    return false;
  }
  return true;
}

bool RegistryFile::deleteTree(RegistryNode& from, const std::vector<std::u16string>& components) {
  if (components.empty()) return false;
  RegistryNode* parent = &from;
  for (std::size_t i = 0; i + 1 < components.size(); ++i) {
    parent = parent->child(components[i]);
    if (parent == nullptr) return false;
  }
  auto& siblings = parent->children;
  for (std::size_t i = 0; i < siblings.size(); ++i) {
    if (!sameRegistryName(siblings[i]->name, components.back())) continue;
    std::shared_ptr<RegistryNode> removed = siblings[i];
    siblings.erase(siblings.begin() + static_cast<std::ptrdiff_t>(i));
    markDeleted(*removed);
    if (!save()) {
      unmarkDeleted(*removed);
      siblings.insert(siblings.begin() + static_cast<std::ptrdiff_t>(i), removed);
      return false;
    }
    return true;
  }
  return false;
}

bool RegistryFile::save() {
  const std::string text = formatRegistryText(tree_);
  const std::filesystem::path folder = file_.parent_path().empty() ? "." : file_.parent_path();
  std::string temp = (folder / ("." + file_.filename().string() + ".XXXXXX")).string();
  HostFd fd(::mkstemp(temp.data()));
  if (!fd) return false;
  ::fchmod(fd.get(), 0644);
  bool ok = writeFully(fd.get(), text) && ::fsync(fd.get()) == 0;
  ok = fd.close() && ok;
  if (ok) ok = ::rename(temp.c_str(), file_.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  // Make the rename itself durable.
  const HostFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir) ::fsync(dir.get());
  return true;
}

}  // namespace autorun::sim
