// Pictures through the operating system's decoders (WIC on Windows, gdk-pixbuf on Linux): the five formats
// load with the right pixels, anything else is refused with a reason, a picture is never decoded beyond its
// bound, and paths are Unicode.
#ifdef _WIN32
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "forms/native_services.h"
#ifdef _WIN32
#include "backends/win32_services/wide_text.h"
#endif

namespace {

const std::string kData = DIALSAVER_TEST_DATA;

class PicturesTest : public ::testing::Test {
 protected:
  std::unique_ptr<forms::NativeServices> services = forms::make_native_services();

  static std::string path(const char* name) { return kData + "/" + name; }
  static std::vector<std::byte> bytes_of(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<char> raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::byte> out(raw.size());
    std::memcpy(out.data(), raw.data(), raw.size());
    return out;
  }
};

// Channels of a premultiplied 0xAARRGGBB pixel, near the expected ones (JPEG is lossy).
void expect_near(std::uint32_t actual, std::uint32_t expected, int tolerance, const std::string& where) {
  for (int shift : {24, 16, 8, 0}) {
    const int a = static_cast<int>((actual >> shift) & 0xFF);
    const int e = static_cast<int>((expected >> shift) & 0xFF);
    EXPECT_NEAR(a, e, tolerance) << where << ": pixel 0x" << std::hex << actual << ", expected 0x" << expected;
  }
}

TEST_F(PicturesTest, TheFourFormatsLoadWithTheirPixelsAndTiffIsRefused) {
  auto tiff = services->load_picture(path("pattern.tif"), {});
  ASSERT_FALSE(tiff);
  EXPECT_EQ(tiff.failure(), forms::Failure::Lasting) << "a TIFF is no picture the program reads";
  EXPECT_NE(tiff.reason().find("TIFF pictures are not read"), std::string::npos) << tiff.reason();
  // Each file is 8 x 4: four red columns, then four blue ones.
  for (const char* name : {"pattern.bmp", "pattern.gif", "pattern.jpg", "pattern.png"}) {
    auto loaded = services->load_picture(path(name), {});
    ASSERT_TRUE(loaded) << name << ": " << loaded.reason();
    const forms::Picture& picture = *loaded.value();
    ASSERT_EQ(picture.size(), (forms::Size{8, 4})) << name;
    const int tolerance = std::string(name).ends_with(".jpg") ? 40 : 0;
    expect_near(picture.row(1)[1], 0xFFFF0000, tolerance, std::string(name) + " left");
    expect_near(picture.row(2)[6], 0xFF0000FF, tolerance, std::string(name) + " right");
  }
}

#ifndef _WIN32
// A GIF whose first image covers only part of its screen shows that image, clear around it. (WIC gives the
// image alone, at its own size.)
TEST_F(PicturesTest, AGifImageSmallerThanItsScreenIsClearAroundIt) {
  auto loaded = services->load_picture(path("small-frame.gif"), {});
  ASSERT_TRUE(loaded) << loaded.reason();
  ASSERT_EQ(loaded.value()->size(), (forms::Size{40, 30}));
  EXPECT_EQ(loaded.value()->row(2)[2], 0u) << "outside the image";
  expect_near(loaded.value()->row(8)[10], 0xFFFF0000, 0, "inside the image");
}
#endif

TEST_F(PicturesTest, TranslucentPixelsArePremultiplied) {
  auto loaded = services->load_picture(path("alpha.png"), {});
  ASSERT_TRUE(loaded) << loaded.reason();
  expect_near(loaded.value()->row(0)[0], 0x80800000, 1, "half-transparent red");
}

TEST_F(PicturesTest, BytesDecodeLikeTheFile) {
  const auto bytes = bytes_of(path("pattern.gif"));
  auto decoded = services->decode_picture(bytes, {});
  ASSERT_TRUE(decoded) << decoded.reason();
  auto loaded = services->load_picture(path("pattern.gif"), {});
  ASSERT_TRUE(loaded);
  EXPECT_TRUE(
      std::equal(decoded.value()->pixels().begin(), decoded.value()->pixels().end(), loaded.value()->pixels().begin()));
}

TEST_F(PicturesTest, DecodesNoLargerThanTheBound) {
  struct Case {
    forms::Size bound;
    forms::Size expected;
  };
  for (const Case& c : {Case{{16, 16}, {16, 12}}, Case{{100, 10}, {13, 10}}, Case{{64, 48}, {64, 48}},
                        Case{{1000, 1000}, {64, 48}}, Case{{}, {64, 48}}}) {
    auto loaded = services->load_picture(path("wide.png"), c.bound);
    ASSERT_TRUE(loaded) << loaded.reason();
    EXPECT_EQ(loaded.value()->size(), c.expected) << "bound " << c.bound.width << " x " << c.bound.height;
    expect_near(loaded.value()->row(loaded.value()->height() / 2)[0], 0xFF008000, 2, "scaled green");
  }
}

TEST_F(PicturesTest, RefusesWhatIsNotAPicture) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "dialsaver-pictures-test";
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "empty.png").close();
  struct Case {
    std::string path;
    const char* reason;
  };
  const Case cases[] = {
      {path("not-a-picture.jpg"), "not a picture in a format this program reads"},
      {path("no-such-file.png"), "cannot load"},
      {folder.string(), "folder"},
      {(folder / "empty.png").string(), "empty"},
      {"", "cannot load"},
  };
  for (const Case& c : cases) {
    auto loaded = services->load_picture(c.path, {});
    ASSERT_FALSE(loaded) << c.path;
    EXPECT_NE(loaded.reason().find(c.reason), std::string::npos) << c.path << ": " << loaded.reason();
  }
  std::filesystem::remove_all(folder);
}

// A header that promises 30,000 x 30,000 pixels is refused from the header alone.
TEST_F(PicturesTest, RefusesAnOversizedHeaderBeforeDecoding) {
  std::vector<std::byte> bmp(54 + 16);
  const auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bmp[at + i] = static_cast<std::byte>((v >> (8 * i)) & 0xFF);
  };
  bmp[0] = std::byte{'B'};
  bmp[1] = std::byte{'M'};
  put32(2, static_cast<std::uint32_t>(bmp.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, 30000);
  put32(22, 30000);
  bmp[26] = std::byte{1};
  bmp[28] = std::byte{24};
  auto decoded = services->decode_picture(bmp, {});
  ASSERT_FALSE(decoded);
  EXPECT_NE(decoded.reason().find("too large"), std::string::npos) << decoded.reason();
}

#ifndef _WIN32
// Where loads run in the background, a load started beforehand (before the display, and so the bound, is
// known) is taken by the next load of the same path: what comes back is what the file held when the load
// started, fitted to the bound that load gives. It is taken once; a load of another path decodes anew.
TEST_F(PicturesTest, AStartedLoadIsTakenOnceByTheNextLoadOfTheSameFileAndGivenItsBound) {
  using namespace std::chrono_literals;
  const auto file = std::filesystem::temp_directory_path() / "dialsaver-started-load";
  const auto other = std::filesystem::temp_directory_path() / "dialsaver-started-load-other";
  const auto holding = [&](const std::filesystem::path& at, const char* name) {
    std::filesystem::copy_file(path(name), at, std::filesystem::copy_options::overwrite_existing);
  };
  const auto loaded_size = [&](const std::filesystem::path& at, forms::Size bound) {
    auto loaded = services->load_picture(at.string(), bound);
    EXPECT_TRUE(loaded) << loaded.reason();
    return loaded ? loaded.value()->size() : forms::Size{};
  };
  const forms::Size pattern{8, 4};

  holding(file, "wide.png");
  holding(other, "pattern.gif");
  services->start_loading(file.string());
  std::this_thread::sleep_for(300ms);  // long enough to read the file (the decoder then waits for its bound)
  holding(file, "pattern.gif");
  EXPECT_EQ(loaded_size(file, {32, 24}), (forms::Size{32, 24})) << "the started load was not taken or not fitted";
  EXPECT_EQ(loaded_size(file, {32, 24}), pattern) << "a started load was taken twice";

  holding(file, "wide.png");
  services->start_loading(file.string());
  std::this_thread::sleep_for(300ms);
  holding(file, "pattern.gif");
  EXPECT_EQ(loaded_size(other, {}), pattern) << "a load of another file";
  EXPECT_EQ(loaded_size(file, {}), pattern) << "the started load outlived a load of another file";
  EXPECT_EQ(loaded_size(file, {}), pattern);
  std::filesystem::remove(file);
  std::filesystem::remove(other);
}
#endif

#ifdef _WIN32
TEST_F(PicturesTest, LoadsFromAFolderWithANonAsciiName) {
  const std::wstring folder = std::filesystem::temp_directory_path().wstring() + L"dialsaver \u65e5\u672c Zo\u00eb";
  std::filesystem::create_directories(folder);
  const std::wstring file = folder + L"\\pictur\u00e9.png";
  ASSERT_TRUE(CopyFileW(forms::win32::widen(path("pattern.png")).c_str(), file.c_str(), FALSE));
  auto loaded = services->load_picture(forms::win32::narrow(file), {});
  EXPECT_TRUE(loaded) << loaded.reason();
  std::filesystem::remove_all(folder);
}
#endif

}  // namespace
