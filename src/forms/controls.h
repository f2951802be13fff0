// The controls a form holds, built from its definition. A control keeps its geometry in device pixels
// relative to its container's client area and reports it in the container's user units. Setting a
// property the platform shows tells the form's native window; nothing else is pushed.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "forms/backend.h"
#include "forms/definition.h"
#include "graphics/surface.h"
#include "pictures/picture.h"

namespace forms {

class Form;

class Control {
 public:
  Control(Form& form, const ControlDef& def);
  virtual ~Control() = default;
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  const ControlDef& def() const { return m_def; }
  const char* name() const { return m_def.name; }
  ControlKind kind() const { return m_def.kind; }
  Form& form() const { return m_form; }
  // The control this one sits in, or nullptr when it sits on the form itself.
  Control* container() const { return m_container; }

  // Position and size in the container's user units.
  float Left() const;
  float Top() const;
  float Width() const;
  float Height() const;
  void Left(float value);
  void Top(float value);
  void Move(float left, float top, float width, float height);

  // Position and size in pixels, in the container's client area / in the form's client area.
  const Rect& bounds() const { return m_bounds; }
  Rect bounds_in_form() const;

  bool Visible() const { return m_visible; }
  void Visible(bool value);
  bool Enabled() const { return m_enabled; }
  void Enabled(bool value);
  const std::string& Caption() const { return m_caption; }
  void Caption(const std::string& value);

  // The engine places controls when the form is created (twips of the definition into pixels).
  void place(const Rect& bounds);

 protected:
  void changed();
  virtual void bounds_changed() {}

 private:
  friend class Form;
  Form& m_form;
  const ControlDef& m_def;
  Control* m_container = nullptr;
  Rect m_bounds;
  bool m_visible;
  bool m_enabled;
  std::string m_caption;
};

// A control's child area: its own user scale, used to place the controls inside it. The design-time
// picture stays encoded until Picture() is first read, so a window whose Form_Load replaces it (the clock
// windows) never decodes it.
class PictureBox : public Control, public Surface {
 public:
  PictureBox(Form& form, const ControlDef& def);
  const PictureRef& Picture() const;
  void Picture(PictureRef picture);

 protected:
  void bounds_changed() override;

 private:
  mutable PictureRef m_picture;
  mutable std::span<const std::byte> m_design_picture;  // not decoded yet; empty once decoded or replaced
};

class Timer : public Control {
 public:
  Timer(Form& form, const ControlDef& def);
  int Interval() const { return m_interval; }
  void Interval(int milliseconds);
  bool Enabled() const { return m_timer_enabled; }
  void Enabled(bool value);
  // Ticks are due: enabled, a non-zero interval, and its form loaded.
  bool running() const;
  // The back end delivers one tick; a tick that is no longer due is dropped.
  void tick();

 private:
  int m_interval;
  bool m_timer_enabled;
};

class Label : public Control {
 public:
  using Control::Control;
};

class CommandButton : public Control {
 public:
  using Control::Control;
};

class Frame : public Control {
 public:
  using Control::Control;
};

class CheckBox : public Control {
 public:
  CheckBox(Form& form, const ControlDef& def);
  int Value() const { return m_value; }
  // A change of value, by the user or by code, raises the Click event.
  void Value(int value);

 private:
  int m_value;
};

class Image : public Control {
 public:
  using Control::Control;
  const PictureRef& Picture() const { return m_picture; }
  void Picture(PictureRef picture);
  bool Stretch() const { return def().stretch; }

 private:
  PictureRef m_picture;
};

class Shape : public Control {
 public:
  Shape(Form& form, const ControlDef& def);
  OleColor FillColor() const { return m_fill_color; }
  void FillColor(OleColor color);
  OleColor BorderColor() const { return def().border_color.value_or(kBlack); }

 private:
  OleColor m_fill_color;
};

// The platform's file-open and colour dialogs. A cancelled dialog leaves FileName or Color as it was.
class CommonDialog : public Control {
 public:
  using Control::Control;
  std::string FileName;
  OleColor Color = kBlack;
  void ShowOpen();
  void ShowColor();
};

}  // namespace forms
