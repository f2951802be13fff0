#include "backends/headless/headless.h"
#include "forms/user32.h"

#include <algorithm>
#include <cmath>

namespace forms::headless {
namespace {

constexpr std::int32_t kWsPopup = static_cast<std::int32_t>(0x80000000u);
constexpr std::int32_t kWsDialog = 0x00C80000;  // caption and system menu
constexpr std::int64_t kDayMs = 24LL * 3600 * 1000;

std::string store_key(const std::string& app, const std::string& section, const std::string& key) {
  return app + "/" + section + "/" + key;
}

}  // namespace

Result<std::optional<std::string>> MemorySettingsStore::read(const std::string& app, const std::string& section,
                                                             const std::string& key) {
  auto it = values.find(store_key(app, section, key));
  if (it == values.end()) return std::optional<std::string>();
  return std::optional<std::string>(it->second);
}

Status MemorySettingsStore::write(const std::string& app, const std::string& section, const std::string& key,
                                  const std::string& text) {
  if (fail_writes_with) return Error{*fail_writes_with};
  values[store_key(app, section, key)] = text;
  writes.push_back(key);
  return ok_status();
}

// ---- Windows ----

class HeadlessPlatform::Window final : public NativeWindow {
 public:
  Window(HeadlessPlatform& owner, WindowHandle handle) : m_owner(owner), m_handle(handle) {}
  WindowHandle handle() const override { return m_handle; }
  Size client_size() const override {
    const WindowRecord* r = m_owner.window(m_handle);
    return r ? Size{r->rect.width(), r->rect.height()} : Size{};
  }
  void set_visible(bool visible) override {
    WindowRecord& r = *m_owner.record(m_handle);
    r.visible = visible;
    if (visible && r.form != nullptr && r.form->def().titled_by_program && r.form->Caption().empty()) {
      r.title = m_owner.exe_name;
    }
    m_owner.log.push_back((visible ? "show " : "hide ") + name());
  }
  void set_caption(const std::string& caption) override { m_owner.record(m_handle)->title = caption; }
  void set_window_state(WindowStateKind state) override {
    WindowRecord& r = *m_owner.record(m_handle);
    r.window_state = static_cast<int>(state);
    m_owner.log.push_back("WindowState " + name() + " " + std::to_string(r.window_state));
  }
  void control_changed(Control& control) override { (void)control; }
  void present(PictureBox& box, std::span<const Rect> dirty) override { (void)box, (void)dirty; }
  void destroy() override {
    if (WindowRecord* r = m_owner.record(m_handle)) r->destroyed = true;
    m_owner.log.push_back("destroy " + name());
  }

 private:
  std::string name() const {
    const WindowRecord* r = m_owner.window(m_handle);
    return r && r->form ? r->form->name() : std::string("?");
  }
  HeadlessPlatform& m_owner;
  WindowHandle m_handle;
};

HeadlessPlatform::HeadlessPlatform(std::unique_ptr<NativeServices> services)
    : Platform(services ? std::move(services) : make_native_services()) {}

HeadlessPlatform::~HeadlessPlatform() = default;

WindowRecord* HeadlessPlatform::record(WindowHandle handle) {
  auto it = m_windows.find(handle);
  return it == m_windows.end() ? nullptr : &it->second;
}

const WindowRecord* HeadlessPlatform::window(WindowHandle handle) const {
  auto it = m_windows.find(handle);
  return it == m_windows.end() ? nullptr : &it->second;
}

const WindowRecord* HeadlessPlatform::window_of(const Form& form) const {
  for (const auto& [handle, r] : m_windows) {
    if (r.form == &form && !r.destroyed) return &r;
  }
  return nullptr;
}

std::vector<const WindowRecord*> HeadlessPlatform::windows() const {
  std::vector<const WindowRecord*> all;
  for (const auto& [handle, r] : m_windows) all.push_back(&r);
  return all;
}

WindowHandle HeadlessPlatform::add_foreign_window(const std::string& title, Size client) {
  const WindowHandle handle = m_next_handle += 0x10;
  WindowRecord r;
  r.handle = handle;
  r.title = title;
  r.visible = true;
  r.rect = {0, 0, client.width, client.height};
  m_windows[handle] = r;
  return handle;
}

std::unique_ptr<NativeWindow> HeadlessPlatform::create_window(Form& form) {
  const WindowHandle handle = m_next_handle += 0x10;
  const WindowDef& def = form.def();
  WindowRecord r;
  r.handle = handle;
  r.title = form.Caption();
  r.form = &form;
  r.window_state = static_cast<int>(form.WindowState());
  r.style = def.border_style == BorderStyle::None ? kWsPopup : kWsDialog;
  r.rect = form.initial_client_rect();
  m_windows[handle] = r;
  log.push_back("create " + form.name());
  if (trace != nullptr && form.name() == trace_form) {
    for (const auto& control : form.controls()) {
      if (auto* box = dynamic_cast<PictureBox*>(control.get())) box->set_trace(trace);
    }
  }
  return std::make_unique<Window>(*this, handle);
}

// ---- Timers and the clock ----

void HeadlessPlatform::timer_changed(Timer& timer) {
  std::erase_if(m_timers, [&](const Armed& a) { return a.timer == &timer; });
  if (timer.running()) m_timers.push_back({&timer, m_now_ms + timer.Interval(), m_arm_order++});
}

int HeadlessPlatform::running_timers() const { return static_cast<int>(m_timers.size()); }

void HeadlessPlatform::set_time(int hour, int minute, int second) {
  const std::int64_t target =
      (static_cast<std::int64_t>(hour) * 3600 + static_cast<std::int64_t>(minute) * 60 + second) * 1000;
  const std::int64_t delta = target - m_now_ms;
  for (Armed& a : m_timers) a.due_ms += delta;
  m_now_ms = target;
}

void HeadlessPlatform::advance_ms(std::int64_t ms) {
  const std::int64_t target = m_now_ms + ms;
  while (!m_ended) {
    auto next = std::min_element(m_timers.begin(), m_timers.end(), [](const Armed& a, const Armed& b) {
      return a.due_ms != b.due_ms ? a.due_ms < b.due_ms : a.order < b.order;
    });
    if (next == m_timers.end() || next->due_ms > target) break;
    m_now_ms = next->due_ms;
    Timer* timer = next->timer;
    next->due_ms += timer->Interval();
    next->order = m_arm_order++;
    guarded([timer] { timer->tick(); });
  }
  m_now_ms = std::max(m_now_ms, target);
}

TimeOfDay HeadlessPlatform::time_of_day() {
  const std::int64_t ms = ((m_now_ms % kDayMs) + kDayMs) % kDayMs;
  const auto seconds = static_cast<int>(ms / 1000);
  return {seconds / 3600, (seconds / 60) % 60, seconds % 60};
}

// ---- The loop and the end ----

void HeadlessPlatform::run_modal(Form& form) { log.push_back("modal " + form.name()); }

void HeadlessPlatform::run() {}

void HeadlessPlatform::end_program(int exit_status) {
  m_ended = true;
  m_exit_status = exit_status;
  log.emplace_back("End");
  throw ProgramEnded{};
}

void HeadlessPlatform::guarded(const std::function<void()>& f) {
  if (m_ended) return;
  try {
    f();
  } catch (const ProgramEnded&) {
  }
}

void HeadlessPlatform::run_guarded(const std::function<void()>& f) { guarded(f); }

void HeadlessPlatform::key_press(Form& form, int char_code) {
  guarded([&] { form.key_press(char_code); });
}

void HeadlessPlatform::mouse_move(Form& form, float x_pixels, float y_pixels) {
  guarded([&] { form.mouse_move(0, 0, x_pixels, y_pixels); });
}

void HeadlessPlatform::click(Form& form, const char* control_name) {
  Control* control = form.find_control(control_name);
  if (control == nullptr) return;
  guarded([&] { form.click(*control); });
}

void HeadlessPlatform::close(Form& form) {
  guarded([&] { form.close_request(); });
}

void HeadlessPlatform::destroy_foreign(WindowHandle handle) {
  WindowRecord* parent = record(handle);
  if (parent == nullptr) return;
  parent->destroyed = true;
  for (auto& [h, r] : m_windows) {
    if (r.parent != handle || r.destroyed) continue;
    r.destroyed = true;
    if (Form* form = r.form) guarded([form] { form->native_destroyed(); });
  }
}

// ---- Services ----

int HeadlessPlatform::message_box(Form* owner, const std::string& text, int buttons, const std::string& title) {
  MessageRecord m{text, buttons, title, owner ? owner->name() : std::string(),
                  owner != nullptr && owner->native() != nullptr ? owner->native()->handle() : 0};
  messages.push_back(m);
  log.push_back("MsgBox " + text);
  if (during_message_box) during_message_box(m);
  if (message_box_answers.empty()) return vbOK;
  const int answer = message_box_answers.front();
  message_box_answers.pop_front();
  return answer;
}

std::optional<std::string> HeadlessPlatform::open_file_dialog(Form& owner) {
  (void)owner;
  ++open_dialogs_shown;
  if (open_answers.empty()) return std::nullopt;
  auto answer = open_answers.front();
  open_answers.pop_front();
  return answer;
}

std::optional<OleColor> HeadlessPlatform::color_dialog(Form& owner, OleColor initial) {
  (void)owner;
  color_dialogs_initial.push_back(initial);
  if (color_answers.empty()) return std::nullopt;
  auto answer = color_answers.front();
  color_answers.pop_front();
  return answer;
}

WindowHandle HeadlessPlatform::find_window(const std::string& title) {
  for (const auto& [handle, r] : m_windows) {
    if (!r.destroyed && r.title == title) return handle;
  }
  return 0;
}

bool HeadlessPlatform::get_client_rect(WindowHandle handle, Rect& rect) {
  log.push_back("GetClientRect " + std::to_string(handle));
  const WindowRecord* r = window(handle);
  if (r == nullptr || r->destroyed) {
    rect = {};
    return false;
  }
  rect = {0, 0, r->rect.width(), r->rect.height()};
  return true;
}

std::int32_t HeadlessPlatform::get_window_long(WindowHandle handle, int index) {
  log.push_back("GetWindowLongA " + std::to_string(handle) + " " + std::to_string(index));
  const WindowRecord* r = window(handle);
  return r != nullptr && index == user32::kGwlStyle ? r->style : 0;
}

std::intptr_t HeadlessPlatform::set_window_long(WindowHandle handle, int index, std::intptr_t value) {
  log.push_back("SetWindowLongA " + std::to_string(handle) + " " + std::to_string(index) + " " + std::to_string(value));
  WindowRecord* r = record(handle);
  if (r == nullptr) return 0;
  if (index == user32::kGwlStyle) {
    const std::int32_t old = r->style;
    r->style = static_cast<std::int32_t>(value);
    return old;
  }
  if (index == user32::kGwlHwndParent) {
    const auto old = static_cast<std::intptr_t>(r->owner);
    r->owner = static_cast<WindowHandle>(value);
    return old;
  }
  return 0;
}

WindowHandle HeadlessPlatform::set_parent(WindowHandle child, WindowHandle parent) {
  log.push_back("SetParent " + std::to_string(child) + " " + std::to_string(parent));
  WindowRecord* c = record(child);
  const WindowRecord* p = window(parent);
  if (c == nullptr || p == nullptr || p->destroyed) return 0;
  const WindowHandle old = c->parent;
  c->parent = parent;
  return old;
}

bool HeadlessPlatform::set_window_pos(WindowHandle handle, WindowHandle insert_after, int x, int y, int cx, int cy,
                                      unsigned flags) {
  log.push_back("SetWindowPos " + std::to_string(handle) + " " +
                std::to_string(static_cast<std::intptr_t>(insert_after)) + " " + std::to_string(x) + " " +
                std::to_string(y) + " " + std::to_string(cx) + " " + std::to_string(cy) + " " + std::to_string(flags));
  WindowRecord* r = record(handle);
  if (r == nullptr || r->destroyed) return false;
  if ((flags & user32::kSwpNoMove) == 0) r->rect = {x, y, x + r->rect.width(), y + r->rect.height()};
  if ((flags & user32::kSwpNoSize) == 0) {
    r->rect.right = r->rect.left + std::max(cx, 0);
    r->rect.bottom = r->rect.top + std::max(cy, 0);
    if (r->form != nullptr) r->form->client_resized({r->rect.width(), r->rect.height()});
  }
  if ((flags & user32::kSwpShowWindow) != 0) r->visible = true;
  return true;
}

int HeadlessPlatform::show_cursor(bool show) {
  log.emplace_back(show ? "ShowCursor 1" : "ShowCursor 0");
  cursor_count += show ? 1 : -1;
  return cursor_count;
}

Result<PictureRef> HeadlessPlatform::load_picture(const std::string& picture_path, Size bound) {
  pictures_loaded.push_back(picture_path);
  return Platform::load_picture(picture_path, bound);
}

std::vector<Pixel> HeadlessPlatform::snapshot(Form& form, Size& size) {
  const WindowRecord* r = window_of(form);
  size = r ? Size{r->rect.width(), r->rect.height()} : form.client_size();
  const Pixel back = to_pixel(form.def().back_color.value_or(0xF0F0F0));
  std::vector<Pixel> image(static_cast<std::size_t>(size.width) * static_cast<std::size_t>(size.height), back);
  for (const auto& control : form.controls()) {
    auto* box = dynamic_cast<PictureBox*>(control.get());
    if (box == nullptr || box->container() != nullptr || !box->Visible() || box->bounds().empty()) continue;
    const Rect at = box->bounds_in_form();
    const FrameBuffer& frame = box->pixels();
    const Rect area = intersect(at, {0, 0, size.width, size.height});
    for (int y = area.top; y < area.bottom; ++y) {
      const Pixel* src = frame.row(y - at.top) + (area.left - at.left);
      std::copy(src, src + area.width(), image.begin() + static_cast<std::ptrdiff_t>(y) * size.width + area.left);
    }
  }
  return image;
}

}  // namespace forms::headless
