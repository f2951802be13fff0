#include "forms/controls.h"

#include <cmath>

#include "forms/form.h"
#include "values/twips.h"

namespace forms {

Control::Control(Form& form, const ControlDef& def)
    : m_form(form), m_def(def), m_visible(def.visible), m_enabled(def.enabled), m_caption(def.caption) {}

float Control::Left() const { return static_cast<float>(m_form.pixels_to_units_x(m_container, m_bounds.left)); }
float Control::Top() const { return static_cast<float>(m_form.pixels_to_units_y(m_container, m_bounds.top)); }
float Control::Width() const {
  return static_cast<float>(m_form.pixels_to_units_x(m_container, m_bounds.width()) -
                            m_form.pixels_to_units_x(m_container, 0));
}
float Control::Height() const {
  return static_cast<float>(m_form.pixels_to_units_y(m_container, m_bounds.height()) -
                            m_form.pixels_to_units_y(m_container, 0));
}

void Control::Left(float value) { Move(value, Top(), Width(), Height()); }
void Control::Top(float value) { Move(Left(), value, Width(), Height()); }

void Control::Move(float left, float top, float width, float height) {
  const auto px = [](double v) { return static_cast<int>(std::lround(v)); };
  const int x = px(m_form.units_to_pixels_x(m_container, left));
  const int y = px(m_form.units_to_pixels_y(m_container, top));
  const int w = px(m_form.units_to_pixels_x(m_container, left + width)) - x;
  const int h = px(m_form.units_to_pixels_y(m_container, top + height)) - y;
  place({x, y, x + std::max(0, w), y + std::max(0, h)});
}

Rect Control::bounds_in_form() const {
  Rect r = m_bounds;
  for (const Control* c = m_container; c != nullptr; c = c->m_container) {
    r.left += c->m_bounds.left;
    r.right += c->m_bounds.left;
    r.top += c->m_bounds.top;
    r.bottom += c->m_bounds.top;
  }
  return r;
}

void Control::place(const Rect& bounds) {
  const bool resized = bounds.width() != m_bounds.width() || bounds.height() != m_bounds.height();
  m_bounds = bounds;
  if (resized) bounds_changed();
  changed();
}

void Control::Visible(bool value) {
  if (m_visible == value) return;
  m_visible = value;
  changed();
}

void Control::Enabled(bool value) {
  if (m_enabled == value) return;
  m_enabled = value;
  changed();
}

void Control::Caption(const std::string& value) {
  m_caption = value;
  changed();
}

void Control::changed() {
  if (NativeWindow* native = m_form.native()) native->control_changed(*this);
}

PictureBox::PictureBox(Form& form, const ControlDef& def)
    : Control(form, def), Surface(platform().services(), platform().services()) {
  Surface::BackColor = def.back_color.value_or(kWhite);
  if (def.scale_mode == ScaleMode::Twips) set_default_unit_pixels(form.dpi() / kTwipsPerInch);
  m_design_picture = def.picture;
}

const PictureRef& PictureBox::Picture() const {
  if (!m_design_picture.empty()) {
    if (auto decoded = platform().services().decode_picture(m_design_picture, {}))
      m_picture = std::move(decoded).value();
    m_design_picture = {};
  }
  return m_picture;
}

void PictureBox::Picture(PictureRef picture) {
  m_design_picture = {};
  m_picture = std::move(picture);
  changed();
}

void PictureBox::bounds_changed() {
  resize(bounds().empty() ? Size{} : Size{bounds().width(), bounds().height()}, form().dpi());
}

Timer::Timer(Form& form, const ControlDef& def)
    : Control(form, def), m_interval(def.interval), m_timer_enabled(def.enabled) {}

void Timer::Interval(int milliseconds) {
  m_interval = std::max(0, milliseconds);
  platform().timer_changed(*this);
}

void Timer::Enabled(bool value) {
  m_timer_enabled = value;
  platform().timer_changed(*this);
}

bool Timer::running() const { return m_timer_enabled && m_interval > 0 && (form().loaded() || form().loading()); }

void Timer::tick() { form().deliver_tick(*this); }

CheckBox::CheckBox(Form& form, const ControlDef& def) : Control(form, def), m_value(def.value) {}

void CheckBox::Value(int value) {
  if (value == m_value) return;
  m_value = value;
  changed();
  form().on_click(*this);
}

void Image::Picture(PictureRef picture) {
  m_picture = std::move(picture);
  changed();
}

Shape::Shape(Form& form, const ControlDef& def) : Control(form, def), m_fill_color(def.fill_color.value_or(kWhite)) {}

void Shape::FillColor(OleColor color) {
  m_fill_color = color;
  changed();
}

void CommonDialog::ShowOpen() {
  if (auto chosen = platform().open_file_dialog(form())) FileName = *chosen;
}

void CommonDialog::ShowColor() {
  if (auto chosen = platform().color_dialog(form(), Color)) Color = *chosen;
}

}  // namespace forms
