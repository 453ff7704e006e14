// What a card holds besides a card folder's own files, and the error of a card that cannot
// be read; apart from scratch_device.h, so that the checker's parts need not include the
// simulated device.
#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace autorun::host {

// The card folder cannot be read, or the image cannot be made.
class CardError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file the card will hold besides the card folder's own (build lays a card out from
// several places): its path relative to the card's root with '/', and either the host
// file that goes there or its bytes.
struct CardAddition {
  std::string relative;
  std::optional<std::filesystem::path> file;
  std::string bytes;
};

}  // namespace autorun::host
