// The Windows native services: WIC decodes pictures (the system's own BMP, GIF, JPEG, PNG and TIFF
// decoders, never a third-party codec), GDI renders text as a coverage mask that is blended into the
// frame, and the registry keeps the settings.
#include <wincodec.h>
#include <windows.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

#include "backends/win32_services/dib_frame.h"
#include "backends/win32_services/handles.h"
#include "backends/win32_services/registry_store.h"
#include "backends/win32_services/wide_text.h"
#include "forms/native_services.h"
#include "graphics/coverage.h"
#include "pictures/picture_format.h"

namespace forms {
namespace {

using win32::ComRef;
using win32::error_text;
using win32::GdiObject;
using win32::MemoryDc;
using win32::Selection;
using win32::widen;

// ---- Pictures ----

// The system decoder for a format, named directly rather than found by asking WIC, which would also
// consult any codec a third party has installed.
const CLSID* decoder_for(PictureFormat format) {
  switch (format) {
    case PictureFormat::Bmp:
      return &CLSID_WICBmpDecoder;
    case PictureFormat::Gif:
      return &CLSID_WICGifDecoder;
    case PictureFormat::Jpeg:
      return &CLSID_WICJpegDecoder;
    case PictureFormat::Png:
      return &CLSID_WICPngDecoder;
    case PictureFormat::Tiff:
    case PictureFormat::Unknown:
      break;
  }
  return nullptr;
}

std::string hresult_text(HRESULT hr) {
  if (hr == WINCODEC_ERR_COMPONENTNOTFOUND || hr == WINCODEC_ERR_BADHEADER || hr == WINCODEC_ERR_BADIMAGE ||
      hr == WINCODEC_ERR_UNKNOWNIMAGEFORMAT || hr == WINCODEC_ERR_STREAMREAD) {
    return "the picture is damaged or not in a format this program reads";
  }
  return error_text(static_cast<DWORD>(hr));
}

class PictureDecoder {
 public:
  PictureDecoder() {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    m_com_initialised = SUCCEEDED(hr);
  }
  ~PictureDecoder() {
    m_factory.reset();
    if (m_com_initialised) CoUninitialize();
  }
  PictureDecoder(const PictureDecoder&) = delete;
  PictureDecoder& operator=(const PictureDecoder&) = delete;

  // The file is read whole (it is never larger than a picture within the pixel limit can be) and its
  // bytes are checked before a decoder sees them: some decoders decode a whole JPEG before they report
  // its size, and a GIF's frame may be small on a logical screen of billions of pixels.
  Result<PictureRef> load_file(const std::string& path, Size bound) {
    const std::string what = "cannot load " + path;
    auto bytes = read_file(widen(path));
    if (!bytes) return Error{what + ": " + bytes.reason(), bytes.failure()};
    return decode_bytes(bytes.value(), what, bound);
  }

  Result<PictureRef> decode_memory(std::span<const std::byte> bytes, Size bound) {
    return decode_bytes({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()},
                        "cannot decode the picture", bound);
  }

 private:
  IWICImagingFactory* factory() {
    if (!m_factory && m_factory_error.empty()) {
      const HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                          IID_IWICImagingFactory, m_factory.put_void());
      if (FAILED(hr)) m_factory_error = "the Windows Imaging Component is not available: " + hresult_text(hr);
    }
    return m_factory.get();
  }

  // A file missing from a folder that is there is gone; a missing folder or drive may be one not mounted
  // yet, and a refused access or a file another program holds says nothing about the file itself.
  static Error open_failure(DWORD error) {
    const bool lasting = error == ERROR_FILE_NOT_FOUND || error == ERROR_INVALID_NAME || error == ERROR_BAD_PATHNAME ||
                         error == ERROR_FILENAME_EXCED_RANGE;
    return Error{error_text(error), lasting ? Failure::Lasting : Failure::Passing};
  }

  // A picture is a regular, non-empty file on a disk (not a folder, a device or a pipe), no larger than
  // a picture within the pixel limit can be.
  static Result<std::vector<std::uint8_t>> read_file(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return open_failure(GetLastError());
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return Error{"it is a folder, not a file"};
    win32::FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return open_failure(GetLastError());
    LARGE_INTEGER size{};
    if (GetFileType(file.get()) != FILE_TYPE_DISK) return Error{"it is not a file on a disk"};
    if (GetFileSizeEx(file.get(), &size) == 0) return Error{error_text(GetLastError()), Failure::Passing};
    if (size.QuadPart == 0) return Error{"the file is empty"};
    if (static_cast<std::uint64_t>(size.QuadPart) > kMaxPictureBytes) return Error{"the file is too large"};
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size.QuadPart));
    std::size_t done = 0;
    while (done < bytes.size()) {
      DWORD got = 0;
      const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 24));
      if (ReadFile(file.get(), bytes.data() + done, want, &got, nullptr) == 0) {
        return Error{error_text(GetLastError()), Failure::Passing};
      }
      if (got == 0) break;
      done += got;
    }
    bytes.resize(done);
    return bytes;
  }

  Result<PictureRef> decode_bytes(std::span<const std::uint8_t> bytes, const std::string& what, Size bound) {
    auto format = check_picture_bytes(bytes);
    if (!format) return Error{what + ": " + format.reason()};
    if (bytes.size() > UINT_MAX) return Error{what + ": the file is too large"};
    IWICImagingFactory* factory = this->factory();
    if (factory == nullptr) return Error{what + ": " + m_factory_error};
    ComRef<IWICStream> stream;
    HRESULT hr = factory->CreateStream(stream.put());
    // The stream only reads the bytes, which outlive it.
    auto* data = const_cast<BYTE*>(bytes.data());
    if (SUCCEEDED(hr)) hr = stream->InitializeFromMemory(data, static_cast<DWORD>(bytes.size()));
    if (FAILED(hr)) return Error{what + ": " + hresult_text(hr)};
    return decode(stream.get(), format.value(), what, bound);
  }

  Result<PictureRef> decode(IStream* stream, PictureFormat format, const std::string& what, Size bound) {
    const CLSID& decoder_class = *decoder_for(format);
    ComRef<IWICBitmapDecoder> decoder;
    ComRef<IWICBitmapFrameDecode> frame;
    HRESULT hr =
        CoCreateInstance(decoder_class, nullptr, CLSCTX_INPROC_SERVER, IID_IWICBitmapDecoder, decoder.put_void());
    if (SUCCEEDED(hr)) hr = decoder->Initialize(stream, WICDecodeMetadataCacheOnDemand);
    if (SUCCEEDED(hr)) hr = decoder->GetFrame(0, frame.put());
    UINT width = 0;
    UINT height = 0;
    if (SUCCEEDED(hr)) hr = frame->GetSize(&width, &height);
    if (FAILED(hr)) return Error{what + ": " + hresult_text(hr)};
    if (width > INT_MAX || height > INT_MAX) return Error{what + ": the picture is too large"};
    const Size source{static_cast<int>(width), static_cast<int>(height)};
    if (Status size_ok = check_source_size(source, pixel_cap(format, bound)); !size_ok)
      return Error{what + ": " + size_ok.reason()};

    // Premultiplied BGRA in memory is 0xAARRGGBB in a little-endian word: the Picture's own layout. The
    // scaler pulls rows from the converter as it goes, so the full-size picture is never held.
    ComRef<IWICFormatConverter> converter;
    hr = m_factory->CreateFormatConverter(converter.put());
    if (SUCCEEDED(hr)) {
      hr = converter->Initialize(frame.get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                 WICBitmapPaletteTypeCustom);
    }
    if (FAILED(hr)) return Error{what + ": " + hresult_text(hr)};
    IWICBitmapSource* pixels = converter.get();
    const Size fit = fit_within(source, bound);
    ComRef<IWICBitmapScaler> scaler;
    if (fit != source) {
      hr = m_factory->CreateBitmapScaler(scaler.put());
      if (SUCCEEDED(hr)) {
        hr = scaler->Initialize(converter.get(), static_cast<UINT>(fit.width), static_cast<UINT>(fit.height),
                                WICBitmapInterpolationModeFant);
      }
      if (FAILED(hr)) return Error{what + ": " + hresult_text(hr)};
      pixels = scaler.get();
    }
    std::vector<std::uint32_t> argb(static_cast<std::size_t>(fit.width) * static_cast<std::size_t>(fit.height));
    const UINT stride = static_cast<UINT>(fit.width) * 4;
    hr = pixels->CopyPixels(nullptr, stride, static_cast<UINT>(argb.size() * 4), reinterpret_cast<BYTE*>(argb.data()));
    if (FAILED(hr)) return Error{what + ": " + hresult_text(hr)};
    return std::make_shared<const Picture>(fit.width, fit.height, std::move(argb));
  }

  bool m_com_initialised = false;
  ComRef<IWICImagingFactory> m_factory;
  std::string m_factory_error;
};

// ---- Text ----

// GDI draws the text white on black into a mask bitmap with grey-scale antialiasing; the mask's grey level
// is each pixel's coverage, which blend_coverage mixes into the frame in the text's colour, so pixels
// outside the glyphs keep their colour whatever the frame's origin.
class GlyphRenderer {
 public:
  Size measure(std::string_view text, const TextStyle& style, double dpi) {
    const std::wstring wide = widen(std::string(text));
    Selection font(m_dc.get(), font_for(style, dpi));
    SIZE extent{};
    GetTextExtentPoint32W(m_dc.get(), wide.c_str(), static_cast<int>(wide.size()), &extent);
    if (wide.empty()) {
      TEXTMETRICW metrics{};
      GetTextMetricsW(m_dc.get(), &metrics);
      extent.cy = metrics.tmHeight;
    }
    return {static_cast<int>(extent.cx), static_cast<int>(extent.cy)};
  }

  Rect draw(FrameBuffer& frame, int x, int y, std::string_view text, const TextStyle& style, double dpi, Pixel color,
            const Rect& clip) {
    if (text.empty()) return {};
    const std::wstring wide = widen(std::string(text));
    Selection font(m_dc.get(), font_for(style, dpi));
    SIZE extent{};
    GetTextExtentPoint32W(m_dc.get(), wide.c_str(), static_cast<int>(wide.size()), &extent);
    TEXTMETRICW metrics{};
    GetTextMetricsW(m_dc.get(), &metrics);
    // Glyphs may reach past the advance on either side (bold and italic overhangs), so the mask has a margin.
    const int margin = static_cast<int>(metrics.tmHeight / 2 + metrics.tmOverhang + 2);
    const int width = static_cast<int>(extent.cx) + 2 * margin;
    const int height = static_cast<int>(std::max<LONG>(extent.cy, metrics.tmHeight));
    const Rect reach = intersect(intersect({x - margin, y, x - margin + width, y + height}, clip),
                                 {0, 0, frame.width(), frame.height()});
    if (reach.empty() || !ensure_mask({width, height})) return {};

    std::fill_n(m_mask_bits, static_cast<std::size_t>(m_mask_size.width) * m_mask_size.height, 0u);
    SetTextColor(m_dc.get(), RGB(255, 255, 255));
    SetBkMode(m_dc.get(), TRANSPARENT);
    SetTextAlign(m_dc.get(), TA_LEFT | TA_TOP | TA_NOUPDATECP);
    {
      Selection mask(m_dc.get(), m_mask.get());
      TextOutW(m_dc.get(), margin, 0, wide.c_str(), static_cast<int>(wide.size()));
      GdiFlush();
    }
    m_coverage.resize(static_cast<std::size_t>(width) * height);
    for (int row = 0; row < height; ++row) {
      const std::uint32_t* src = m_mask_bits + static_cast<std::ptrdiff_t>(row) * m_mask_size.width;
      std::uint8_t* dst = m_coverage.data() + static_cast<std::ptrdiff_t>(row) * width;
      for (int col = 0; col < width; ++col) {
        const std::uint32_t p = src[col];
        dst[col] = static_cast<std::uint8_t>((((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF) + 1) / 3);
      }
    }
    return blend_coverage(frame, x - margin, y, m_coverage.data(), width, height, width, color, clip);
  }

 private:
  struct CachedFont {
    std::string face;
    int height;
    bool bold;
    GdiObject<HFONT> font;
  };

  // Point sizes become whole pixels (at least one); the face is GDI's to substitute when it is missing.
  HFONT font_for(const TextStyle& style, double dpi) {
    const int height = std::max(1, static_cast<int>(std::lround(style.size_points * dpi / 72.0)));
    for (const CachedFont& cached : m_fonts) {
      if (cached.height == height && cached.bold == style.bold && cached.face == style.face) return cached.font.get();
    }
    LOGFONTW lf{};
    lf.lfHeight = -height;
    lf.lfWeight = style.bold ? FW_BOLD : FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfOutPrecision = OUT_TT_PRECIS;
    lf.lfQuality = ANTIALIASED_QUALITY;
    const std::wstring face = widen(style.face).substr(0, LF_FACESIZE - 1);
    std::copy(face.begin(), face.end(), lf.lfFaceName);
    if (m_fonts.size() >= kMaxFonts) m_fonts.erase(m_fonts.begin());
    m_fonts.push_back({style.face, height, style.bold, GdiObject<HFONT>(CreateFontIndirectW(&lf))});
    return m_fonts.back().font.get();
  }

  bool ensure_mask(Size size) {
    if (m_mask && m_mask_size.width >= size.width && m_mask_size.height >= size.height) return true;
    const Size grown{std::max(size.width, m_mask_size.width), std::max(size.height, m_mask_size.height)};
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = grown.width;
    info.bmiHeader.biHeight = -grown.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    m_mask.reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    m_mask_bits = static_cast<std::uint32_t*>(bits);
    m_mask_size = m_mask ? grown : Size{};
    return static_cast<bool>(m_mask);
  }

  static constexpr std::size_t kMaxFonts = 16;
  MemoryDc m_dc;
  std::vector<CachedFont> m_fonts;
  GdiObject<HBITMAP> m_mask;
  std::uint32_t* m_mask_bits = nullptr;
  Size m_mask_size;
  std::vector<std::uint8_t> m_coverage;
};

class Win32Services final : public NativeServices {
 public:
  // GDI draws text into DIB sections, which the window presents without a copy.
  std::unique_ptr<FrameBuffer> create_frame(Size size) override { return win32::DibFrame::make(size); }
  Result<PictureRef> load_picture(const std::string& path, Size bound) override {
    return m_pictures.load_file(path, bound);
  }
  Result<PictureRef> decode_picture(std::span<const std::byte> bytes, Size bound) override {
    return m_pictures.decode_memory(bytes, bound);
  }
  Rect draw_text(FrameBuffer& frame, int x, int y, std::string_view text, const TextStyle& style, double dpi,
                 Pixel color, const Rect& clip) override {
    return m_text.draw(frame, x, y, text, style, dpi, color, clip);
  }
  Size measure_text(std::string_view text, const TextStyle& style, double dpi) override {
    return m_text.measure(text, style, dpi);
  }
  std::unique_ptr<SettingsStore> user_settings_store() override {
    return std::make_unique<win32::RegistrySettingsStore>();
  }

 private:
  PictureDecoder m_pictures;
  GlyphRenderer m_text;
};

}  // namespace

std::unique_ptr<NativeServices> make_native_services() { return std::make_unique<Win32Services>(); }

}  // namespace forms
