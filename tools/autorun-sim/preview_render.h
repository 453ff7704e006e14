// Drawing for the dialog previews: an RGB picture, text through FreeType and PNG output
// through libpng.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace autorun::preview {

struct Colour {
  std::uint8_t red;
  std::uint8_t green;
  std::uint8_t blue;
};

struct Box {
  int x;
  int y;
  int width;
  int height;
};

// An RGB picture, rows top down; drawing outside it or outside the clip box is dropped.
class Canvas {
 public:
  Canvas(int width, int height, Colour background);

  int width() const { return width_; }
  int height() const { return height_; }
  const std::vector<std::uint8_t>& rgb() const { return rgb_; }

  void fill(Box box, Colour colour);
  void frame(Box box, Colour colour, int thickness = 1);
  // Mixes `colour` into the pixel with the weight alpha / 255.
  void blend(int x, int y, Colour colour, int alpha);
  // Copies an RGB picture (3 bytes per pixel, rows top down) with its top left at (x, y),
  // limited to `limit` (the picture's own control area).
  void paste(int x, int y, int width, int height, const std::vector<std::uint8_t>& rgb, Box limit);

  // Drawing is limited to this box until reset.
  void clip(Box box) { clip_ = box; }
  void unclip() { clip_ = Box{0, 0, width_, height_}; }

 private:
  bool inside(int x, int y) const;

  int width_;
  int height_;
  std::vector<std::uint8_t> rgb_;
  Box clip_;
};

// A font file rendered at one pixel size.
class Font {
 public:
  // Throws std::runtime_error when the file cannot be loaded.
  Font(const std::filesystem::path& file, int pixelSize);
  ~Font();
  Font(const Font&) = delete;
  Font& operator=(const Font&) = delete;

  int lineHeight() const;
  int ascender() const;
  int measure(std::u32string_view text) const;
  // Draws one line with its baseline at y.
  void draw(Canvas& canvas, int x, int baseline, std::u32string_view text, Colour colour) const;

  // The text broken into lines of at most `width` pixels: at line feeds, between words,
  // and inside a word that is wider than a line.
  std::vector<std::u32string> wrap(std::u32string_view text, int width) const;

 private:
  struct Face;
  std::unique_ptr<Face> face_;
};

// UTF-16 to code points; unpaired surrogates become U+FFFD.
std::u32string codePoints(std::u16string_view text);

// Writes the picture as an 8-bit RGB PNG. False with `error` set when it cannot be written.
bool writePng(const Canvas& canvas, const std::filesystem::path& file, std::string& error);

}  // namespace autorun::preview
