// Decoding pictures from files and from bytes: the operating system's decoders (gdk-pixbuf on Linux, WIC
// on Windows) behind one interface. A file is checked (pictures/picture_format) before any decoder sees it.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "pictures/picture.h"
#include "values/result.h"

namespace forms {

class PictureLoader {
 public:
  virtual ~PictureLoader() = default;
  // The picture decoded to fit within `bound` (see fit_within), or the reason it cannot be.
  virtual Result<PictureRef> load_picture(const std::string& path, Size bound) = 0;
  virtual Result<PictureRef> decode_picture(std::span<const std::byte> bytes, Size bound) = 0;
  // Starts loading the file in the background where loads run on threads of their own, so that the next
  // load_picture of the same path finds the work under way or done; the bound that load gives is waited
  // for only where the decoding needs it. Elsewhere it does nothing.
  virtual void start_loading(const std::string& path) { (void)path; }
};

}  // namespace forms
