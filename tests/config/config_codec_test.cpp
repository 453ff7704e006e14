#include "base/config_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "base/config_store.h"
#include "config/text_bytes.h"
#include "support/memory_platform.h"
#include "support/test_keys.h"

namespace autorun {
namespace {

using testing::Bytes;
using testing::bytesOf;
using testing::MemoryFile;

Bytes fromHex(std::string_view hex) {
  Bytes out;
  for (std::size_t k = 0; k + 1 < hex.size(); k += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(k, 2)), nullptr, 16)));
  }
  return out;
}

ConfigFileCodec codecFor(std::string_view key) {
  return ConfigFileCodec(reinterpret_cast<const std::uint8_t*>(key.data()),
                         static_cast<std::uint32_t>(key.size()));
}

Bytes run(ByteCodec& codec, const Bytes& input, bool encode) {
  ByteCodec::Buffer out;
  std::uint32_t count = 12345;
  EXPECT_TRUE(transformBytes(codec, input.data(), static_cast<std::uint32_t>(input.size()), out,
                             count, encode));
  EXPECT_EQ(count, input.size());
  return Bytes(out.get(), out.get() + count);
}

TEST(ConfigFileCodec, MatchesPublishedRc4Vectors) {
  struct Case {
    std::string_view key;
    std::string_view plain;
    std::string_view cipherHex;
  };
  const Case cases[] = {
      {"Key", "Plaintext", "BBF316E8D940AF0AD3"},
      {"Wiki", "pedia", "1021BF0420"},
      {"Secret", "Attack at dawn", "45A01F645FC35B383552544B9BF5"},
  };
  for (const Case& c : cases) {
    ConfigFileCodec encoder = codecFor(c.key);
    EXPECT_EQ(run(encoder, bytesOf(c.plain), true), fromHex(c.cipherHex)) << c.key;
    ConfigFileCodec decoder = codecFor(c.key);
    EXPECT_EQ(run(decoder, fromHex(c.cipherHex), false), bytesOf(c.plain)) << c.key;
  }
}

TEST(ConfigFileCodec, KeystreamContinuesAcrossCallsUntilReset) {
  const Bytes text = bytesOf("The navigation application for the storage card");
  ConfigFileCodec whole = codecFor(testing::kTestKey);
  const Bytes once = run(whole, text, true);

  ConfigFileCodec halves = codecFor(testing::kTestKey);
  Bytes joined = run(halves, Bytes(text.begin(), text.begin() + 20), true);
  const Bytes second = run(halves, Bytes(text.begin() + 20, text.end()), false);
  joined.insert(joined.end(), second.begin(), second.end());
  EXPECT_EQ(joined, once);

  halves.reset();
  EXPECT_EQ(run(halves, text, false), once);
  halves.reset();
  EXPECT_EQ(run(halves, once, true), text);
}

TEST(ConfigFileCodec, EmptyInputGivesEmptyOutput) {
  ConfigFileCodec codec = codecFor("Key");
  ByteCodec::Buffer out;
  std::uint32_t count = 7;
  EXPECT_TRUE(codec.decode(nullptr, 0, out, count));
  EXPECT_EQ(count, 0u);
  EXPECT_FALSE(codec.decode(nullptr, 3, out, count));
  EXPECT_EQ(out, nullptr);
}

TEST(ConfigFileCodec, InPlaceConversionReplacesTheBuffer) {
  const Bytes plain = bytesOf("Plaintext");
  ByteCodec::Buffer buffer(new std::uint8_t[plain.size()]);
  std::copy(plain.begin(), plain.end(), buffer.get());
  const std::uint8_t* old = buffer.get();

  ConfigFileCodec codec = codecFor("Key");
  ASSERT_TRUE(codec.encodeInPlace(buffer, static_cast<std::uint32_t>(plain.size())));
  EXPECT_NE(buffer.get(), old);
  EXPECT_EQ(Bytes(buffer.get(), buffer.get() + plain.size()), fromHex("BBF316E8D940AF0AD3"));

  codec.reset();
  ASSERT_TRUE(codec.decodeInPlace(buffer, static_cast<std::uint32_t>(plain.size())));
  EXPECT_EQ(Bytes(buffer.get(), buffer.get() + plain.size()), plain);

  // A failed conversion leaves the slot alone.
  ByteCodec::Buffer empty;
  EXPECT_FALSE(codec.decodeInPlace(empty, 4));
  EXPECT_EQ(empty, nullptr);
}

TEST(ConfigFileCodec, OutputSlotIsReplaced) {
  ConfigFileCodec codec = codecFor("Key");
  ByteCodec::Buffer out(new std::uint8_t[100]);
  std::uint32_t count = 0;
  const Bytes plain = bytesOf("Plaintext");
  ASSERT_TRUE(codec.encode(plain.data(), static_cast<std::uint32_t>(plain.size()), out, count));
  EXPECT_EQ(Bytes(out.get(), out.get() + count), fromHex("BBF316E8D940AF0AD3"));
}

// The dispatcher picks the direction; a codec whose two directions differ shows it.
class MarkingCodec : public ByteCodec {
 public:
  bool encode(const std::uint8_t*, std::uint32_t, Buffer& output, std::uint32_t& count) override {
    return mark(output, count, 'E');
  }
  bool encodeInPlace(Buffer&, std::uint32_t) override { return false; }
  bool decode(const std::uint8_t*, std::uint32_t, Buffer& output, std::uint32_t& count) override {
    return mark(output, count, 'D');
  }
  bool decodeInPlace(Buffer&, std::uint32_t) override { return false; }

 private:
  static bool mark(Buffer& output, std::uint32_t& count, std::uint8_t what) {
    output.reset(new std::uint8_t[1]{what});
    count = 1;
    return true;
  }
};

TEST(TransformBytes, CallsEncodeOrDecodeByTheFlag) {
  MarkingCodec codec;
  ByteCodec::Buffer out;
  std::uint32_t count = 0;
  ASSERT_TRUE(transformBytes(codec, nullptr, 0, out, count, true));
  EXPECT_EQ(out[0], 'E');
  ASSERT_TRUE(transformBytes(codec, nullptr, 0, out, count, false));
  EXPECT_EQ(out[0], 'D');
}

// ---- readConfigurationFile ---------------------------------------------------------

// Hands out one prepared file (or none) to the first open, and notes every open.
class OneFilePlatform : public testing::MemoryPlatform {
 public:
  explicit OneFilePlatform(std::unique_ptr<MemoryFile> file) : file_(std::move(file)) {}
  std::unique_ptr<File> openFile(const std::u16string& path, FileOpenMode mode) override {
    opens.emplace_back(path, mode);
    return std::move(file_);
  }

 private:
  std::unique_ptr<MemoryFile> file_;
};

using testing::kTestKey;

Bytes enciphered(std::u16string_view text, std::string_view key = kTestKey) {
  ConfigFileCodec codec = codecFor(key);
  return run(codec, testing::utf16WithMark(text), true);
}

// Reads `file` as the configuration at \Card\2577\autorun_8.qlm, which must be opened once,
// for shared reading.
bool readWith(std::unique_ptr<MemoryFile> file, ConfigStore& store,
              std::string_view key = kTestKey) {
  const std::u16string path = u"\\Card\\2577\\autorun_8.qlm";
  OneFilePlatform platform(std::move(file));
  const bool read = readConfigurationFile(platform, store, path,
                                          reinterpret_cast<const std::uint8_t*>(key.data()),
                                          static_cast<std::uint32_t>(key.size()));
  const decltype(platform.opens) once = {{path, FileOpenMode::ReadShared}};
  EXPECT_EQ(platform.opens, once);
  return read;
}

TEST(ReadConfigurationFile, DeciphersAndParsesTheWholeFile) {
  ConfigStore store;
  auto file = std::make_unique<MemoryFile>(enciphered(u"[common]\r\nbrand = \"Atlas\""));
  file->chunk = 5;  // reads may come in pieces
  ASSERT_TRUE(readWith(std::move(file), store));
  EXPECT_EQ(store.getString(u"common/brand", u""), u"Atlas");
}

TEST(ReadConfigurationFile, FailsWithoutTouchingTheStore) {
  struct Case {
    const char* what;
    std::function<std::unique_ptr<MemoryFile>()> file;
    std::string_view key;
  };
  const Bytes good = enciphered(u"[common]\r\nbrand = \"Atlas\"");
  const Case cases[] = {
      {"cannot be opened", [] { return std::unique_ptr<MemoryFile>(); }, kTestKey},
      {"short read",
       [&] {
         // The file says it is longer than what can be read.
         auto f = std::make_unique<MemoryFile>(Bytes(good.begin(), good.end() - 3));
         f->statedSize = good.size();
         return f;
       },
       kTestKey},
      {"size unknown",
       [&] {
         auto f = std::make_unique<MemoryFile>(good);
         f->sizeKnown = false;
         return f;
       },
       kTestKey},
      {"another key", [&] { return std::make_unique<MemoryFile>(good); }, testing::kOtherKey},
      {"empty file", [] { return std::make_unique<MemoryFile>(Bytes{}); }, kTestKey},
  };
  for (const Case& c : cases) {
    ConfigStore store;
    store.setValue(u"keep/me", u"1");
    EXPECT_FALSE(readWith(c.file(), store, c.key)) << c.what;
    EXPECT_EQ(store.entries().size(), 1u) << c.what;
  }
}

}  // namespace
}  // namespace autorun
