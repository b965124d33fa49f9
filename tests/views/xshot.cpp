// qv_xshot: reads the X screen for the desktop view's tests and screenshots.
//   qv_xshot save FILE.png [X Y W H]   the screen (or a part) as a PNG
//   qv_xshot edges X Y W H             the outer edges found near a rectangle
//   qv_xshot ink X Y W H               pixels in a rectangle unlike its corner
//   qv_xshot row X Y W                 the colours along a row: "RRGGBB N" runs
// "edges" looks along the middle row and column of the rectangle, from three
// pixels outside to three inside each side, for the first pixel unlike the
// dialog face behind it, and prints the rectangle so found: X Y W H.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Shot {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> rgb;
  unsigned Pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return 0xFFFFFFFF;
    const unsigned char* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
    return (p[0] << 16) | (p[1] << 8) | p[2];
  }
};

bool Grab(Shot* shot) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "qv_xshot: cannot open the display\n");
    return false;
  }
  Window root = DefaultRootWindow(display);
  XWindowAttributes attributes;
  XGetWindowAttributes(display, root, &attributes);
  XImage* image =
      XGetImage(display, root, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
  if (image == nullptr) {
    XCloseDisplay(display);
    return false;
  }
  shot->width = attributes.width;
  shot->height = attributes.height;
  shot->rgb.resize(static_cast<std::size_t>(shot->width) * shot->height * 3);
  for (int y = 0; y < shot->height; ++y) {
    for (int x = 0; x < shot->width; ++x) {
      unsigned long p = XGetPixel(image, x, y);
      unsigned char* out = &shot->rgb[(static_cast<std::size_t>(y) * shot->width + x) * 3];
      out[0] = static_cast<unsigned char>((p & image->red_mask) >> 16);
      out[1] = static_cast<unsigned char>((p & image->green_mask) >> 8);
      out[2] = static_cast<unsigned char>(p & image->blue_mask);
    }
  }
  XDestroyImage(image);
  XCloseDisplay(display);
  return true;
}

bool SavePng(const Shot& shot, const char* path, int x, int y, int w, int h) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  std::vector<unsigned char> row(static_cast<std::size_t>(w) * 3);
  for (int r = 0; r < h; ++r) {
    for (int c = 0; c < w; ++c) {
      unsigned p = shot.Pixel(x + c, y + r);
      row[c * 3] = static_cast<unsigned char>(p >> 16);
      row[c * 3 + 1] = static_cast<unsigned char>(p >> 8);
      row[c * 3 + 2] = static_cast<unsigned char>(p);
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: qv_xshot save FILE [X Y W H] | edges X Y W H | ink X Y W H | row X Y W\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  std::string command = argv[1];
  Shot shot;
  if (!Grab(&shot)) return 1;
  if (command == "row" && argc == 5) {
    const int x = std::atoi(argv[2]), y = std::atoi(argv[3]), w = std::atoi(argv[4]);
    for (int c = x; c < x + w;) {
      const unsigned colour = shot.Pixel(c, y);
      int run = 0;
      while (c < x + w && shot.Pixel(c, y) == colour) ++c, ++run;
      std::printf("%06X %d\n", colour & 0xFFFFFF, run);
    }
    return 0;
  }
  int box[4] = {0, 0, shot.width, shot.height};
  int first = command == "save" ? 3 : 2;
  if (argc == first + 4) {
    for (int i = 0; i < 4; ++i) box[i] = std::atoi(argv[first + i]);
  } else if (command != "save" || argc != 3) {
    return Usage();
  }
  const int x = box[0], y = box[1], w = box[2], h = box[3];
  if (command == "save") return SavePng(shot, argv[2], x, y, w, h) ? 0 : 1;
  if (command == "edges") {
    const int my = y + h / 2;
    const int mx = x + w / 2;
    unsigned face = shot.Pixel(x - 4, my);
    auto differs = [&](int px, int py) { return shot.Pixel(px, py) != face; };
    int left = -1, right = -1, top = -1, bottom = -1;
    for (int i = x - 3; i <= x + 3 && left < 0; ++i)
      if (differs(i, my)) left = i;
    for (int i = x + w + 2; i >= x + w - 4 && right < 0; --i)
      if (differs(i, my)) right = i;
    for (int i = y - 3; i <= y + 3 && top < 0; ++i)
      if (differs(mx, i)) top = i;
    for (int i = y + h + 2; i >= y + h - 4 && bottom < 0; --i)
      if (differs(mx, i)) bottom = i;
    std::printf("%d %d %d %d\n", left, top, right - left + 1, bottom - top + 1);
    return 0;
  }
  if (command == "ink") {
    unsigned background = shot.Pixel(x, y);
    int count = 0;
    for (int r = y; r < y + h; ++r)
      for (int c = x; c < x + w; ++c)
        if (shot.Pixel(c, r) != background) ++count;
    std::printf("%d\n", count);
    return 0;
  }
  return Usage();
}
