#include "base/config_codec.h"

#include <algorithm>
#include <limits>
#include <new>
#include <utility>

#include "base/config_store.h"
#include "platform/platform_services.h"

namespace autorun {

namespace {

void keySchedule(Rc4State& state) {
  for (unsigned k = 0; k < 256; ++k) state.s[k] = static_cast<std::uint8_t>(k);
  std::uint8_t j = 0;
  for (unsigned k = 0; k < 256; ++k) {
    const std::uint8_t keyByte = state.keyLength == 0 ? 0 : state.key[k % state.keyLength];
    j = static_cast<std::uint8_t>(j + state.s[k] + keyByte);
    std::swap(state.s[k], state.s[j]);
  }
  state.i = 0;
  state.j = 0;
}

}  // namespace

ConfigFileCodec::ConfigFileCodec(const std::uint8_t* key, std::uint32_t keyLength)
    : state_(new (std::nothrow) Rc4State) {
  if (!state_) return;
  if (keyLength > 0) {
    state_->key.reset(new (std::nothrow) std::uint8_t[keyLength]);
    if (!state_->key || key == nullptr) {
      state_.reset();  // a codec without its key cannot transform anything
      return;
    }
    std::copy_n(key, keyLength, state_->key.get());
  }
  state_->keyLength = keyLength;
  keySchedule(*state_);
}

void ConfigFileCodec::transform(const std::uint8_t* source, std::uint32_t count,
                                std::uint8_t* output) {
  Rc4State& st = *state_;
  // A local copy of the state: writes through `output` could otherwise alias it, and the
  // compiler would reload it after every byte.
  // Held as full words, which the processor loads and stores without merging bytes.
  std::array<std::uint32_t, 256> s;
  std::copy(st.s.begin(), st.s.end(), s.begin());
  std::uint32_t i = st.i;
  std::uint32_t j = st.j;
  for (std::uint32_t k = 0; k < count; ++k) {
    i = (i + 1) & 0xFF;
    const std::uint32_t si = s[i];
    j = (j + si) & 0xFF;
    const std::uint32_t sj = s[j];
    s[i] = sj;
    s[j] = si;
    output[k] = static_cast<std::uint8_t>(source[k] ^ s[(si + sj) & 0xFF]);
  }
  std::copy(s.begin(), s.end(), st.s.begin());
  st.i = static_cast<std::uint8_t>(i);
  st.j = static_cast<std::uint8_t>(j);
}

bool ConfigFileCodec::encode(const std::uint8_t* source, std::uint32_t count, Buffer& output,
                             std::uint32_t& outputCount) {
  output.reset();
  outputCount = count;
  if (!state_ || (source == nullptr && count > 0)) return false;
  output.reset(new (std::nothrow) std::uint8_t[count]);
  if (!output) return false;
  transform(source, count, output.get());
  return true;
}

bool ConfigFileCodec::encodeInPlace(Buffer& buffer, std::uint32_t count) {
  Buffer fresh;
  std::uint32_t freshCount = 0;
  if (!encode(buffer.get(), count, fresh, freshCount)) return false;
  buffer = std::move(fresh);
  return true;
}

// RC4 is its own inverse.
bool ConfigFileCodec::decode(const std::uint8_t* source, std::uint32_t count, Buffer& output,
                             std::uint32_t& outputCount) {
  return encode(source, count, output, outputCount);
}

bool ConfigFileCodec::decodeInPlace(Buffer& buffer, std::uint32_t count) {
  return encodeInPlace(buffer, count);
}

void ConfigFileCodec::reset() {
  if (state_) keySchedule(*state_);
}

bool transformBytes(ByteCodec& codec, const std::uint8_t* source, std::uint32_t count,
                    ByteCodec::Buffer& output, std::uint32_t& outputCount, bool encodeDirection) {
  return encodeDirection ? codec.encode(source, count, output, outputCount)
                         : codec.decode(source, count, output, outputCount);
}

bool readConfigurationFile(PlatformServices& platform, ConfigStore& store,
                           const std::u16string& path, const std::uint8_t* key,
                           std::uint32_t keyLength) {
  ByteCodec::Buffer enciphered;
  std::uint32_t count = 0;
  {
    std::unique_ptr<File> file = platform.openFile(path, FileOpenMode::ReadShared);
    if (!file) return false;
    const std::optional<std::uint64_t> size = file->size();
    if (!size || *size > std::numeric_limits<std::uint32_t>::max()) return false;
    count = static_cast<std::uint32_t>(*size);
    enciphered.reset(new (std::nothrow) std::uint8_t[count]);
    if (!enciphered) return false;
    // The whole file or nothing: a short read leaves bytes that were never read.
    if (!readExactly(*file, enciphered.get(), count)) return false;
  }

  ConfigFileCodec codec(key, keyLength);
  ByteCodec::Buffer plain;
  std::uint32_t plainCount = 0;
  if (!transformBytes(codec, enciphered.get(), count, plain, plainCount, false)) return false;
  enciphered.reset();
  return store.parseText(plain.get(), plainCount);
}

}  // namespace autorun
