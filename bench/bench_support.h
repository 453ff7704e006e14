// Configurations and device images the benchmarks share.
#pragma once

#include <cstddef>
#include <string>

#include "support/device_image.h"

namespace autorun::bench {

// The bytes of the enciphered file that holds this UTF-8 (ASCII) text: a byte-order mark
// and two bytes for every character, a line feed becoming CR LF.
std::size_t configurationFileSize(const std::string& text);

// Pads the text with a comment line so that its file has exactly `fileSize` bytes.
std::string padToFileSize(std::string text, std::size_t fileSize);

// An ordinary configuration of `fileSize` bytes: the sections the installer reads, long
// action lists and many message sections, with the usual references and folder variables.
std::string typicalConfiguration(std::size_t fileSize);

// The expensive kind of the same size: one long chain of entries each referring to the
// one before and adding to it, every value led by a folder variable.
std::string worstCaseConfiguration(std::size_t fileSize);

struct CardTree {
  int files = 0;
  int folders = 0;
};

// Makes \Storage Card\Maps on the image: `files` files of `fileBytes` bytes, spread evenly
// over `files / 10` folders in two levels (a tenth of them at the top, nine below each).
CardTree makeCardTree(const autorun::testing::DeviceImage& image, int files, std::size_t fileBytes);

}  // namespace autorun::bench
