// The simulated registry's tree and its file: names, lookups, changes written through.
#include "platform/sim/sim_registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/wide_text.h"
#include "host_text/utf.h"
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

}  // namespace

bool sameRegistryName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (foldLower(a[i]) != foldLower(b[i])) return false;
  }
  return true;
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

RegistryNode::~RegistryNode() {
  // A key that is the last owner of its children takes their children over before they
  // go, so a chain of any depth is released in a loop rather than by nested destructors.
  std::vector<std::shared_ptr<RegistryNode>> pending = std::move(children_);
  index_.reset();
  while (!pending.empty()) {
    std::shared_ptr<RegistryNode> node = std::move(pending.back());
    pending.pop_back();
    if (node.use_count() == 1) {
      for (auto& child : node->children_) pending.push_back(std::move(child));
      node->children_.clear();
      node->index_.reset();
    }
  }
}

std::size_t RegistryNode::NameHash::operator()(std::u16string_view name) const {
  std::size_t hash = 14695981039346656037ull;
  for (char16_t c : name) hash = (hash ^ foldLower(c)) * 1099511628211ull;
  return hash;
}

bool RegistryNode::SameName::operator()(std::u16string_view a, std::u16string_view b) const {
  return sameRegistryName(a, b);
}

RegistryNode::Index& RegistryNode::index() {
  if (!index_) {
    index_ = std::make_unique<Index>();
    index_->children.reserve(children_.size());
    for (const auto& child : children_) index_->children.emplace(child->name_, child.get());
    for (std::size_t i = 0; i < values_.size(); ++i) index_->values.emplace(values_[i].name, i);
  }
  return *index_;
}

RegistryNode* RegistryNode::findChild(std::u16string_view childName) const {
  if (index_) {
    const auto it = index_->children.find(childName);
    return it == index_->children.end() ? nullptr : it->second;
  }
  for (const auto& child : children_) {
    if (sameRegistryName(child->name_, childName)) return child.get();
  }
  return nullptr;
}

std::size_t RegistryNode::findValue(std::u16string_view valueName) const {
  if (index_) {
    const auto it = index_->values.find(valueName);
    return it == index_->values.end() ? values_.size() : it->second;
  }
  for (std::size_t i = 0; i < values_.size(); ++i) {
    if (sameRegistryName(values_[i].name, valueName)) return i;
  }
  return values_.size();
}

std::shared_ptr<RegistryNode> RegistryNode::child(std::u16string_view childName) const {
  RegistryNode* found = findChild(childName);
  return found == nullptr ? nullptr : found->shared_from_this();
}

const RegistryValue* RegistryNode::value(std::u16string_view valueName) const {
  const std::size_t position = findValue(valueName);
  return position == values_.size() ? nullptr : &values_[position];
}

std::shared_ptr<RegistryNode> RegistryNode::addChild(std::u16string childName) {
  auto node = std::make_shared<RegistryNode>(std::move(childName));
  children_.push_back(node);
  if (index_) {
    index_->children.emplace(node->name_, node.get());
  } else if (children_.size() > kIndexFrom) {
    index();
  }
  return node;
}

std::size_t RegistryNode::removeChild(const RegistryNode& node) {
  std::size_t position = 0;
  while (position < children_.size() && children_[position].get() != &node) ++position;
  if (position == children_.size()) return position;
  if (index_) index_->children.erase(node.name_);
  children_.erase(children_.begin() + static_cast<std::ptrdiff_t>(position));
  return position;
}

void RegistryNode::putChildBack(std::size_t position, std::shared_ptr<RegistryNode> node) {
  if (index_) index_->children.emplace(node->name_, node.get());
  children_.insert(children_.begin() + static_cast<std::ptrdiff_t>(position), std::move(node));
}

std::optional<RegistryValue> RegistryNode::setValue(RegistryValue value) {
  const std::size_t position = findValue(value.name);
  if (position == values_.size()) {
    if (index_) index_->values.emplace(value.name, position);
    values_.push_back(std::move(value));
    if (!index_ && values_.size() > kIndexFrom) index();
    return std::nullopt;
  }
  RegistryValue& existing = values_[position];
  RegistryValue previous = existing;
  existing.type = value.type;
  existing.data = std::move(value.data);
  return previous;
}

void RegistryNode::undoSetValue(std::u16string_view valueName,
                                std::optional<RegistryValue> previous) {
  const std::size_t position = findValue(valueName);
  if (position == values_.size()) return;
  if (previous) {
    values_[position] = std::move(*previous);
  } else {
    // An added value is the last one.
    if (index_) index_->values.erase(std::u16string(valueName));
    values_.pop_back();
  }
}

void markDeleted(RegistryNode& node, bool deleted) {
  std::vector<RegistryNode*> pending{&node};
  while (!pending.empty()) {
    RegistryNode* next = pending.back();
    pending.pop_back();
    next->deleted = deleted;
    for (const auto& child : next->children()) pending.push_back(child.get());
  }
}

RegistryTree::RegistryTree() {
  for (std::size_t i = 0; i < roots.size(); ++i) {
    roots[i] = std::make_shared<RegistryNode>(std::u16string(kRootNames[i]));
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
  return !hasControl(name) && !host::hasLoneSurrogate(name);
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

RegistryFile::RegistryFile(std::filesystem::path file, int codePage) : file_(std::move(file)) {
  if (const auto bytes = readHostFile(file_, kMaxRegistryFileBytes)) {
    tree_ = parseRegistryText(*bytes, file_.string(), codePage, &format_);
  }
}

std::shared_ptr<RegistryNode> RegistryFile::find(const std::shared_ptr<RegistryNode>& from,
                                                 const std::vector<std::u16string>& components) {
  std::shared_ptr<RegistryNode> node = from;
  for (const std::u16string& name : components) {
    node = node->child(name);
    if (!node) return nullptr;
  }
  return node;
}

std::shared_ptr<RegistryNode> RegistryFile::create(const std::shared_ptr<RegistryNode>& from,
                                                   const std::vector<std::u16string>& components,
                                                   bool& created) {
  created = false;
  if (components.size() > kMaxRegistryDepth) return nullptr;
  std::shared_ptr<RegistryNode> node = from;
  RegistryNode* firstParent = nullptr;  // where the first new key went
  std::shared_ptr<RegistryNode> firstNew;
  for (const std::u16string& name : components) {
    std::shared_ptr<RegistryNode> next = node->child(name);
    if (!next) {
      next = node->addChild(name);
      next->listed = true;
      if (firstParent == nullptr) {
        firstParent = node.get();
        firstNew = next;
      }
      created = true;
    }
    node = next;
  }
  if (created && !save()) {
    firstParent->removeChild(*firstNew);
    created = false;
    return nullptr;
  }
  return node;
}

bool RegistryFile::setValue(RegistryNode& node, const std::u16string& name, std::uint32_t type,
                            std::vector<std::uint8_t> data) {
  if (!isStorableValueName(name)) return false;
  std::optional<RegistryValue> previous = node.setValue(RegistryValue{name, type, std::move(data)});
  if (!save()) {
    node.undoSetValue(name, std::move(previous));
    return false;
  }
  return true;
}

bool RegistryFile::deleteTree(RegistryNode& from, const std::vector<std::u16string>& components) {
  if (components.empty()) return false;
  std::shared_ptr<RegistryNode> parent = from.shared_from_this();
  for (std::size_t i = 0; i + 1 < components.size(); ++i) {
    parent = parent->child(components[i]);
    if (!parent) return false;
  }
  const std::shared_ptr<RegistryNode> removed = parent->child(components.back());
  if (!removed) return false;
  const std::size_t position = parent->removeChild(*removed);
  markDeleted(*removed, true);
  // The parent stays even when nothing else in the file names it (a root always does).
  const bool wasListed = parent->listed;
  bool isRoot = false;
  for (const auto& root : tree_.roots) isRoot = isRoot || root == parent;
  parent->listed = wasListed || !isRoot;
  if (!save()) {
    parent->listed = wasListed;
    markDeleted(*removed, false);
    parent->putChildBack(position, removed);
    return false;
  }
  return true;
}

bool RegistryFile::save() {
  const std::optional<std::string> text = formatRegistryText(tree_, format_);
  if (!text) return false;
  // A read-only file is respected: the rename below would replace it whatever its mode.
  mode_t mode = 0644;
  struct stat info {};
  if (::stat(file_.c_str(), &info) == 0) {
    if ((info.st_mode & 0222) == 0 || ::access(file_.c_str(), W_OK) != 0) return false;
    mode = info.st_mode & 0777;
  }
  const std::filesystem::path folder = file_.parent_path().empty() ? "." : file_.parent_path();
  std::string temp = (folder / ("." + file_.filename().string() + ".XXXXXX")).string();
  HostFd fd(::mkstemp(temp.data()));
  if (!fd) return false;
  ::fchmod(fd.get(), mode);
  bool ok = writeFully(fd.get(), *text) && ::fsync(fd.get()) == 0;
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
