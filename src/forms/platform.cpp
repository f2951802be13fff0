#include "forms/platform.h"

#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "forms/form.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace forms {
namespace {

Platform* g_platform = nullptr;

#if defined(__linux__)
class MappedFrame final : public FrameBuffer {
 public:
  static std::unique_ptr<FrameBuffer> make(Size size) {
    const std::size_t bytes =
        static_cast<std::size_t>(size.width) * static_cast<std::size_t>(size.height) * sizeof(Pixel);
    void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) throw FrameAllocationError(size);
    madvise(memory, bytes, MADV_HUGEPAGE);
    return std::unique_ptr<FrameBuffer>(new MappedFrame(static_cast<Pixel*>(memory), size, bytes));
  }
  ~MappedFrame() override { munmap(row(0), m_bytes); }

 private:
  MappedFrame(Pixel* data, Size size, std::size_t bytes)
      : FrameBuffer(data, size.width, size.height, size.width), m_bytes(bytes) {}
  std::size_t m_bytes;
};
#else
class HeapFrame final : public FrameBuffer {
 public:
  static std::unique_ptr<FrameBuffer> make(Size size) {
    // A 32-bit size_t cannot count the bytes of every frame two ints can describe.
    const std::uint64_t bytes =
        static_cast<std::uint64_t>(size.width) * static_cast<std::uint64_t>(size.height) * sizeof(Pixel);
    if (bytes > PTRDIFF_MAX) throw FrameAllocationError(size);
    Pixel* data = nullptr;
    try {
      data = static_cast<Pixel*>(::operator new[](static_cast<std::size_t>(bytes), std::align_val_t{4096}));
    } catch (const std::bad_alloc&) {
      throw FrameAllocationError(size);
    }
    return std::unique_ptr<FrameBuffer>(new HeapFrame(data, size));
  }
  ~HeapFrame() override { ::operator delete[](row(0), std::align_val_t{4096}); }

 private:
  HeapFrame(Pixel* data, Size size) : FrameBuffer(data, size.width, size.height, size.width) {}
};
#endif

Form* visible_form() {
  Form* found = nullptr;
  for (Form* form : Application::get().forms()) {
    if (form->loaded() && form->Visible()) found = form;
  }
  return found;
}

}  // namespace

FrameAllocationError::FrameAllocationError(Size size)
    : m_what(
          "not enough memory for a " + std::to_string(size.width) + " x " + std::to_string(size.height) + " frame (" +
          std::to_string(
              static_cast<std::uint64_t>(size.width) * static_cast<std::uint64_t>(size.height) * sizeof(Pixel) >> 20) +
          " MiB)") {}

std::unique_ptr<FrameBuffer> make_memory_frame(Size size) {
  if (size.width <= 0 || size.height <= 0) size = {1, 1};
#if defined(__linux__)
  return MappedFrame::make(size);
#else
  return HeapFrame::make(size);
#endif
}

Platform& platform() {
  assert(g_platform != nullptr && "no back end installed");
  return *g_platform;
}

void install_platform(Platform* p) { g_platform = p; }

int run_program(Platform& p, void (*main)()) {
  install_platform(&p);
  main();
  p.run();
  return 0;
}

std::string AppObject::Path() const { return platform().app_path(); }
std::string AppObject::EXEName() const { return platform().app_exe_name(); }
bool AppObject::PrevInstance() const { return platform().app_prev_instance(); }

std::string Command() { return platform().command_line(); }

int MsgBox(const std::string& prompt, int buttons, const std::string& title) {
  return platform().message_box(visible_form(), prompt, buttons, title.empty() ? App.EXEName() : title);
}

std::string GetSetting(const std::string& app, const std::string& section, const std::string& key,
                       const std::string& default_text) {
  auto stored = platform().settings().read(app, section, key);
  if (!stored) {
    std::fprintf(stderr, "%s: cannot read setting %s: %s\n", App.EXEName().c_str(), key.c_str(),
                 stored.reason().c_str());
    return default_text;
  }
  return stored.value().value_or(default_text);
}

std::vector<std::string> GetSettingsTogether(const std::string& app, const std::string& section,
                                             std::span<const SettingText> keys_and_defaults) {
  std::vector<std::string> keys;
  for (const SettingText& asked : keys_and_defaults) keys.push_back(asked.key);
  auto stored = platform().settings().read_all(app, section, keys);
  std::vector<std::string> texts;
  if (!stored || stored.value().size() != keys.size()) {
    // Whatever can be read is read key by key; each key that cannot takes its default, with a message.
    for (const SettingText& asked : keys_and_defaults) texts.push_back(GetSetting(app, section, asked.key, asked.text));
    return texts;
  }
  for (std::size_t i = 0; i < keys.size(); ++i) texts.push_back(stored.value()[i].value_or(keys_and_defaults[i].text));
  return texts;
}

Status SaveSetting(const std::string& app, const std::string& section, const std::string& key,
                   const std::string& text) {
  return platform().settings().write(app, section, key, text);
}

Status SaveSettingsTogether(const std::string& app, const std::string& section, std::span<const SettingText> entries) {
  return platform().settings().write_all(app, section, entries);
}

Result<PictureRef> LoadPicture(const std::string& path) {
  Size bound;
  for (const Monitor& m : platform().monitors()) {
    bound.width = std::max(bound.width, m.bounds.width());
    bound.height = std::max(bound.height, m.bounds.height());
  }
  return platform().load_picture(path, bound);
}

TimeOfDay Time() { return platform().time_of_day(); }

// A back end's end_program never returns; the abort only tells the compiler so.
void End() {
  platform().end_program(0);
  std::abort();
}

void fail_start(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", App.EXEName().c_str(), message.c_str());
  std::fflush(stderr);
  platform().end_program(2);
  std::abort();
}

namespace user32 {
WindowHandle FindWindowA(const char* class_name, const char* title) {
  (void)class_name;
  return platform().find_window(title == nullptr ? std::string() : std::string(title));
}
bool GetClientRect(WindowHandle window, Rect& rect) { return platform().get_client_rect(window, rect); }
std::int32_t GetWindowLongA(WindowHandle window, int index) { return platform().get_window_long(window, index); }
std::intptr_t SetWindowLongA(WindowHandle window, int index, std::intptr_t value) {
  return platform().set_window_long(window, index, value);
}
WindowHandle SetParent(WindowHandle child, WindowHandle parent) { return platform().set_parent(child, parent); }
bool SetWindowPos(WindowHandle window, WindowHandle insert_after, int x, int y, int cx, int cy, unsigned flags) {
  return platform().set_window_pos(window, insert_after, x, y, cx, cy, flags);
}
int ShowCursor(bool show) { return platform().show_cursor(show); }
}  // namespace user32

}  // namespace forms
