#include "forms/form.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "values/twips.h"

namespace forms {
namespace {

std::unique_ptr<Control> make_control(Form& form, const ControlDef& def) {
  switch (def.kind) {
    case ControlKind::Timer:
      return std::make_unique<Timer>(form, def);
    case ControlKind::PictureBox:
      return std::make_unique<PictureBox>(form, def);
    case ControlKind::Frame:
      return std::make_unique<Frame>(form, def);
    case ControlKind::CommandButton:
      return std::make_unique<CommandButton>(form, def);
    case ControlKind::Label:
      return std::make_unique<Label>(form, def);
    case ControlKind::CheckBox:
      return std::make_unique<CheckBox>(form, def);
    case ControlKind::Image:
      return std::make_unique<Image>(form, def);
    case ControlKind::Shape:
      return std::make_unique<Shape>(form, def);
    case ControlKind::CommonDialog:
      return std::make_unique<CommonDialog>(form, def);
  }
  return nullptr;
}

Monitor monitor_at(int index) {
  const std::vector<Monitor> monitors = platform().monitors();
  if (index < 0 || index >= static_cast<int>(monitors.size())) return monitors.front();
  return monitors[static_cast<std::size_t>(index)];
}

}  // namespace

Form::Form(const WindowDef& def, int monitor)
    : m_def(def),
      m_name(def.name),
      m_monitor_info(monitor_at(monitor)),
      m_caption(def.caption),
      m_window_state(def.window_state) {
  m_scale.set_default_unit_pixels(def.scale_mode == ScaleMode::Twips ? dpi() / kTwipsPerInch : 1.0);
  build_controls();
}

Form::~Form() = default;

void Form::build_controls() {
  for (const ControlDef& def : m_def.controls) m_controls.push_back(make_control(*this, def));
  for (auto& control : m_controls) {
    if (control->def().container != nullptr) control->m_container = find_control(control->def().container);
  }
}

Control* Form::find_control(std::string_view control_name) const {
  for (const auto& control : m_controls) {
    if (control_name == control->name()) return control.get();
  }
  return nullptr;
}

void Form::place_controls() {
  const double dots = dpi();
  for (auto& control : m_controls) {
    const ControlDef& d = control->def();
    const int x = twips_to_pixels(d.left, dots);
    const int y = twips_to_pixels(d.top, dots);
    control->place({x, y, x + twips_to_pixels(d.width, dots), y + twips_to_pixels(d.height, dots)});
  }
}

void Form::Load() {
  if (m_loaded || m_loading) return;
  m_loading = true;
  m_native = platform().create_window(*this);
  m_scale.set_area(m_native->client_size());
  place_controls();
  arm_timers();
  Form_Load();
  m_loading = false;
  m_loaded = true;
  present_surfaces();
}

void Form::Show(int modal) {
  Load();
  if (!m_loaded) return;
  m_visible = true;
  m_native->set_visible(true);
  present_surfaces();
  if (modal == vbModal) platform().run_modal(*this);
}

void Form::Hide() {
  Load();
  if (!m_loaded) return;
  m_visible = false;
  m_native->set_visible(false);
}

void Form::Unload() {
  if (!m_loaded && !m_loading) return;
  int cancel = 0;
  Form_Unload(cancel);
  if (cancel != 0) return;
  m_loaded = false;
  m_loading = false;
  m_visible = false;
  disarm_timers();
  if (auto native = std::move(m_native)) native->destroy();
}

void Form::Caption(const std::string& value) {
  m_caption = value;
  if (m_native) m_native->set_caption(value);
}

WindowHandle Form::hWnd() {
  Load();
  return m_native ? m_native->handle() : 0;
}

void Form::WindowState(WindowStateKind value) {
  m_window_state = value;
  if (m_native) m_native->set_window_state(value);
}

Rect Form::initial_client_rect() const {
  if (m_window_state == WindowStateKind::Maximized) return m_monitor_info.bounds;
  return client_rect_on(m_def, m_monitor_info.bounds, m_monitor_info.dpi);
}

float Form::Top() const {
  if (m_window_state == WindowStateKind::Maximized) return 0;
  return static_cast<float>(m_def.client_top);
}

float Form::Left() const {
  if (m_window_state == WindowStateKind::Maximized) return 0;
  return static_cast<float>(m_def.client_left);
}

ScreenObject Form::Screen() const {
  const auto tpp = static_cast<float>(m_monitor_info.twips_per_pixel());
  return {static_cast<float>(m_monitor_info.bounds.width()) * tpp,
          static_cast<float>(m_monitor_info.bounds.height()) * tpp, tpp, tpp};
}

double Form::units_to_pixels_x(const Control* container, double units) const {
  if (const auto* box = dynamic_cast<const PictureBox*>(container)) return box->to_pixel_x(units);
  if (container != nullptr) return units * dpi() / kTwipsPerInch;
  return m_scale.to_pixel_x(units);
}

double Form::units_to_pixels_y(const Control* container, double units) const {
  if (const auto* box = dynamic_cast<const PictureBox*>(container)) return box->to_pixel_y(units);
  if (container != nullptr) return units * dpi() / kTwipsPerInch;
  return m_scale.to_pixel_y(units);
}

double Form::pixels_to_units_x(const Control* container, double pixels) const {
  if (const auto* box = dynamic_cast<const PictureBox*>(container)) return box->scale().to_unit_x(pixels);
  if (container != nullptr) return pixels * kTwipsPerInch / dpi();
  return m_scale.to_unit_x(pixels);
}

double Form::pixels_to_units_y(const Control* container, double pixels) const {
  if (const auto* box = dynamic_cast<const PictureBox*>(container)) return box->scale().to_unit_y(pixels);
  if (container != nullptr) return pixels * kTwipsPerInch / dpi();
  return m_scale.to_unit_y(pixels);
}

void Form::key_press(int char_code) {
  if (!m_loaded) return;
  int key = char_code;
  Form_KeyPress(key);
  present_surfaces();
}

void Form::mouse_move(int button, int shift, float x_pixels, float y_pixels) {
  if (!m_loaded) return;
  Form_MouseMove(button, shift, static_cast<float>(pixels_to_units_x(nullptr, x_pixels)),
                 static_cast<float>(pixels_to_units_y(nullptr, y_pixels)));
  present_surfaces();
}

void Form::click(Control& control) {
  if (!m_loaded || !control.Enabled()) return;
  if (auto* check = dynamic_cast<CheckBox*>(&control)) {
    check->Value(check->Value() == 1 ? 0 : 1);
  } else {
    on_click(control);
  }
  present_surfaces();
}

void Form::close_request() { Unload(); }

void Form::deliver_tick(Timer& timer) {
  if (!timer.running()) return;
  on_timer(timer);
  present_surfaces();
}

void Form::native_destroyed() {
  if (!m_loaded) return;
  Unload();
}

void Form::present_surfaces() {
  for (auto& control : m_controls) {
    auto* box = dynamic_cast<PictureBox*>(control.get());
    if (box == nullptr) continue;
    const std::span<const Rect> dirty = box->dirty();
    if (dirty.empty() && !box->flipped()) continue;
    if (m_native) m_native->present(*box, dirty);
    box->clear_dirty();
  }
}

void Form::arm_timers() {
  for (auto& control : m_controls) {
    if (auto* timer = dynamic_cast<Timer*>(control.get())) platform().timer_changed(*timer);
  }
}

void Form::disarm_timers() { arm_timers(); }

// ---- Application ----

Application& Application::get() {
  static Application application;
  return application;
}

Form* Application::find_default(std::type_index key) const {
  for (const auto& [type, form] : m_defaults) {
    if (type == key) return form.get();
  }
  return nullptr;
}

Form& Application::adopt_default(std::type_index key, std::unique_ptr<Form> form) {
  m_defaults.emplace_back(key, std::move(form));
  return *m_defaults.back().second;
}

Form& Application::adopt_extra(std::unique_ptr<Form> form) {
  m_extras.push_back(std::move(form));
  return *m_extras.back();
}

// An unloaded default instance may still be on the stack (a handler that unloaded its own form), so it
// is kept until reset rather than destroyed here.
void Application::retire_default(std::type_index key) {
  auto it = std::find_if(m_defaults.begin(), m_defaults.end(), [&](const auto& entry) { return entry.first == key; });
  if (it == m_defaults.end()) return;
  m_retired.push_back(std::move(it->second));
  m_defaults.erase(it);
}

std::vector<Form*> Application::forms() const {
  std::vector<Form*> all;
  for_each_form([&](Form* form) { all.push_back(form); });
  return all;
}

// Counted in place: the timers' thread asks before and after every tick, which allocates nothing.
int Application::loaded_count() const {
  int count = 0;
  for_each_form([&](const Form* form) { count += form->loaded() || form->loading() ? 1 : 0; });
  return count;
}

void Application::reset() {
  m_defaults.clear();
  m_extras.clear();
  m_retired.clear();
}

}  // namespace forms
