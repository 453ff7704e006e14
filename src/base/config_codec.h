// The enciphered configuration file: an RC4 codec behind a small byte-codec interface,
// and the reader that deciphers a file and parses it into a store.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace autorun {

class ConfigStore;
class PlatformServices;

// A transformer of byte buffers with its own running state. Output buffers are newly
// allocated, owned by the caller through the slot; a slot holding a buffer is released
// before it receives a new one.
class ByteCodec {
 public:
  using Buffer = std::unique_ptr<std::uint8_t[]>;
  virtual ~ByteCodec() = default;
  virtual bool encode(const std::uint8_t* source, std::uint32_t count, Buffer& output,
                      std::uint32_t& outputCount) = 0;
  virtual bool encodeInPlace(Buffer& buffer, std::uint32_t count) = 0;
  virtual bool decode(const std::uint8_t* source, std::uint32_t count, Buffer& output,
                      std::uint32_t& outputCount) = 0;
  virtual bool decodeInPlace(Buffer& buffer, std::uint32_t count) = 0;
  virtual void reset() {}
};

struct Rc4State {
  std::array<std::uint8_t, 256> s{};
  std::uint8_t i = 0;
  std::uint8_t j = 0;
  std::unique_ptr<std::uint8_t[]> key;
  std::uint32_t keyLength = 0;
};

// RC4 under a key given at construction; encode and decode are the same operation.
class ConfigFileCodec : public ByteCodec {
 public:
  ConfigFileCodec(const std::uint8_t* key, std::uint32_t keyLength);
  bool encode(const std::uint8_t* source, std::uint32_t count, Buffer& output,
              std::uint32_t& outputCount) override;
  bool encodeInPlace(Buffer& buffer, std::uint32_t count) override;
  bool decode(const std::uint8_t* source, std::uint32_t count, Buffer& output,
              std::uint32_t& outputCount) override;
  bool decodeInPlace(Buffer& buffer, std::uint32_t count) override;
  void reset() override;

 private:
  void transform(const std::uint8_t* source, std::uint32_t count, std::uint8_t* output);
  std::unique_ptr<Rc4State> state_;
};

// Calls encode when `encodeDirection` is true, decode otherwise.
bool transformBytes(ByteCodec& codec, const std::uint8_t* source, std::uint32_t count,
                    ByteCodec::Buffer& output, std::uint32_t& outputCount, bool encodeDirection);

// Reads the whole file, deciphers it and parses it into the store. False when the file
// cannot be opened or read whole, or when the text does not parse.
bool readConfigurationFile(PlatformServices& platform, ConfigStore& store,
                           const std::u16string& path, const std::uint8_t* key,
                           std::uint32_t keyLength);

}  // namespace autorun
