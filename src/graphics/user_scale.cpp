#include "graphics/user_scale.h"

namespace forms {

float UserScale::width() const { return m_fixed ? m_width : static_cast<float>(m_area.width / m_default_unit_pixels); }

float UserScale::height() const {
  return m_fixed ? m_height : static_cast<float>(m_area.height / m_default_unit_pixels);
}

void UserScale::fix() {
  if (m_fixed) return;
  m_width = width();
  m_height = height();
  m_fixed = true;
}

void UserScale::set_left(float value) {
  fix();
  m_left = value;
}

void UserScale::set_top(float value) {
  fix();
  m_top = value;
}

void UserScale::set_width(float value) {
  fix();
  m_width = value;
}

void UserScale::set_height(float value) {
  fix();
  m_height = value;
}

double UserScale::to_pixel_x(double x) const {
  const double w = width();
  return w == 0 ? 0 : (x - m_left) * m_area.width / w;
}

double UserScale::to_pixel_y(double y) const {
  const double h = height();
  return h == 0 ? 0 : (y - m_top) * m_area.height / h;
}

double UserScale::to_unit_x(double pixels) const {
  return m_area.width == 0 ? m_left : m_left + pixels * width() / m_area.width;
}

double UserScale::to_unit_y(double pixels) const {
  return m_area.height == 0 ? m_top : m_top + pixels * height() / m_area.height;
}

}  // namespace forms
