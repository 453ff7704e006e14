#include "preview_render.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include <ft2build.h>
#include FT_FREETYPE_H
#include <png.h>

namespace autorun::preview {

// ---- Canvas ----------------------------------------------------------------------------

Canvas::Canvas(int width, int height, Colour background)
    : width_(std::max(0, width)), height_(std::max(0, height)), clip_{0, 0, width_, height_} {
  rgb_.resize(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 3);
  for (std::size_t k = 0; k < rgb_.size(); k += 3) {
    rgb_[k] = background.red;
    rgb_[k + 1] = background.green;
    rgb_[k + 2] = background.blue;
  }
}

bool Canvas::inside(int x, int y) const {
  return x >= 0 && y >= 0 && x < width_ && y < height_ && x >= clip_.x && y >= clip_.y &&
         x < clip_.x + clip_.width && y < clip_.y + clip_.height;
}

void Canvas::blend(int x, int y, Colour colour, int alpha) {
  if (!inside(x, y) || alpha <= 0) return;
  alpha = std::min(alpha, 255);
  std::uint8_t* p = &rgb_[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                           static_cast<std::size_t>(x)) *
                          3];
  const auto mix = [alpha](std::uint8_t under, std::uint8_t over) {
    return static_cast<std::uint8_t>((over * alpha + under * (255 - alpha) + 127) / 255);
  };
  p[0] = mix(p[0], colour.red);
  p[1] = mix(p[1], colour.green);
  p[2] = mix(p[2], colour.blue);
}

void Canvas::fill(Box box, Colour colour) {
  for (int y = box.y; y < box.y + box.height; ++y) {
    for (int x = box.x; x < box.x + box.width; ++x) blend(x, y, colour, 255);
  }
}

void Canvas::frame(Box box, Colour colour, int thickness) {
  fill({box.x, box.y, box.width, thickness}, colour);
  fill({box.x, box.y + box.height - thickness, box.width, thickness}, colour);
  fill({box.x, box.y, thickness, box.height}, colour);
  fill({box.x + box.width - thickness, box.y, thickness, box.height}, colour);
}

void Canvas::paste(int x, int y, int width, int height, const std::vector<std::uint8_t>& rgb,
                   Box limit) {
  if (rgb.size() < static_cast<std::size_t>(std::max(0, width)) *
                       static_cast<std::size_t>(std::max(0, height)) * 3) {
    return;
  }
  const Box saved = clip_;
  const int left = std::max(clip_.x, limit.x);
  const int top = std::max(clip_.y, limit.y);
  const int right = std::min(clip_.x + clip_.width, limit.x + limit.width);
  const int bottom = std::min(clip_.y + clip_.height, limit.y + limit.height);
  clip_ = Box{left, top, std::max(0, right - left), std::max(0, bottom - top)};
  for (int row = 0; row < height; ++row) {
    for (int column = 0; column < width; ++column) {
      const std::size_t k = (static_cast<std::size_t>(row) * static_cast<std::size_t>(width) +
                             static_cast<std::size_t>(column)) *
                            3;
      blend(x + column, y + row, Colour{rgb[k], rgb[k + 1], rgb[k + 2]}, 255);
    }
  }
  clip_ = saved;
}

// ---- Text ------------------------------------------------------------------------------

std::u32string codePoints(std::u16string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (std::size_t k = 0; k < text.size(); ++k) {
    const char16_t c = text[k];
    if (c >= 0xD800 && c <= 0xDBFF && k + 1 < text.size() && text[k + 1] >= 0xDC00 &&
        text[k + 1] <= 0xDFFF) {
      out.push_back(0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) +
                    (static_cast<char32_t>(text[k + 1]) - 0xDC00));
      ++k;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      out.push_back(0xFFFD);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

struct Font::Face {
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  ~Face() {
    if (face != nullptr) FT_Done_Face(face);
    if (library != nullptr) FT_Done_FreeType(library);
  }
};

Font::Font(const std::filesystem::path& file, int pixelSize) : face_(std::make_unique<Face>()) {
  if (FT_Init_FreeType(&face_->library) != 0) throw std::runtime_error("FreeType cannot start");
  if (FT_New_Face(face_->library, file.c_str(), 0, &face_->face) != 0) {
    throw std::runtime_error("cannot load the font " + file.string());
  }
  if (FT_Set_Pixel_Sizes(face_->face, 0, static_cast<FT_UInt>(pixelSize)) != 0) {
    throw std::runtime_error("the font " + file.string() + " has no size " +
                             std::to_string(pixelSize));
  }
}

Font::~Font() = default;

int Font::lineHeight() const {
  return static_cast<int>(face_->face->size->metrics.height >> 6);
}

int Font::ascender() const {
  return static_cast<int>(face_->face->size->metrics.ascender >> 6);
}

int Font::measure(std::u32string_view text) const {
  long width = 0;
  for (char32_t c : text) {
    if (FT_Load_Char(face_->face, c, FT_LOAD_DEFAULT) != 0) continue;
    width += face_->face->glyph->advance.x;
  }
  return static_cast<int>(width >> 6);
}

void Font::draw(Canvas& canvas, int x, int baseline, std::u32string_view text,
                Colour colour) const {
  long pen = static_cast<long>(x) << 6;
  for (char32_t c : text) {
    if (FT_Load_Char(face_->face, c, FT_LOAD_RENDER) != 0) continue;
    const FT_GlyphSlot glyph = face_->face->glyph;
    const FT_Bitmap& bitmap = glyph->bitmap;
    const int left = static_cast<int>(pen >> 6) + glyph->bitmap_left;
    const int top = baseline - glyph->bitmap_top;
    for (unsigned row = 0; row < bitmap.rows; ++row) {
      for (unsigned column = 0; column < bitmap.width; ++column) {
        const int alpha = bitmap.buffer[row * static_cast<unsigned>(bitmap.pitch) + column];
        canvas.blend(left + static_cast<int>(column), top + static_cast<int>(row), colour, alpha);
      }
    }
    pen += glyph->advance.x;
  }
}

std::vector<std::u32string> Font::wrap(std::u32string_view text, int width) const {
  std::vector<std::u32string> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(U'\n', start);
    if (end == std::u32string_view::npos) end = text.size();
    std::u32string_view paragraph = text.substr(start, end - start);
    if (!paragraph.empty() && paragraph.back() == U'\r') paragraph.remove_suffix(1);

    std::u32string line;
    std::size_t k = 0;
    while (k < paragraph.size()) {
      while (k < paragraph.size() && paragraph[k] == U' ') ++k;
      std::size_t wordEnd = k;
      while (wordEnd < paragraph.size() && paragraph[wordEnd] != U' ') ++wordEnd;
      if (wordEnd == k) break;
      const std::u32string word(paragraph.substr(k, wordEnd - k));
      k = wordEnd;
      const std::u32string candidate = line.empty() ? word : line + U' ' + word;
      if (measure(candidate) <= width) {
        line = candidate;
        continue;
      }
      if (!line.empty()) lines.push_back(std::move(line));
      line.clear();
      // A word wider than the line is broken where it overflows.
      for (char32_t c : word) {
        if (!line.empty() && measure(line + c) > width) {
          lines.push_back(std::move(line));
          line.clear();
        }
        line.push_back(c);
      }
    }
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

// ---- PNG -------------------------------------------------------------------------------

bool writePng(const Canvas& canvas, const std::filesystem::path& file, std::string& error) {
  std::FILE* out = std::fopen(file.c_str(), "wb");
  if (out == nullptr) {
    error = "cannot create " + file.string();
    return false;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png == nullptr ? nullptr : png_create_info_struct(png);
  if (png == nullptr || info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    std::fclose(out);
    error = "libpng cannot start";
    return false;
  }
  std::vector<png_bytep> rows(static_cast<std::size_t>(canvas.height()));
  for (int y = 0; y < canvas.height(); ++y) {
    rows[static_cast<std::size_t>(y)] = const_cast<png_bytep>(
        canvas.rgb().data() +
        static_cast<std::size_t>(y) * static_cast<std::size_t>(canvas.width()) * 3);
  }
  // libpng reports failures by jumping back here; nothing above holds resources that
  // the jump would leak beyond the file and the write structures, released below.
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(out);
    error = "cannot write " + file.string();
    return false;
  }
  png_init_io(png, out);
  png_set_IHDR(png, info, static_cast<png_uint_32>(canvas.width()),
               static_cast<png_uint_32>(canvas.height()), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  if (std::fclose(out) != 0) {
    error = "cannot write " + file.string();
    return false;
  }
  return true;
}

}  // namespace autorun::preview
