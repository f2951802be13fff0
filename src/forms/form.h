// Forms: windows made from their definitions, with the life the windows rely on.
//  - A form's default instance is created the first time anything refers to it (instance<F>()), and its
//    Form_Load runs to its end before that reference returns.
//  - Show(vbModal) returns once the form is unloaded; Show() returns at once.
//  - Unload runs Form_Unload; End stops the program at once, and no handler runs after it.
//  - Events run one at a time on the one GUI thread; after each, the surfaces present what changed.
#pragma once

#include <memory>
#include <string>
#include <typeindex>
#include <vector>

#include "forms/backend.h"
#include "forms/controls.h"
#include "forms/definition.h"
#include "forms/services.h"
#include "graphics/user_scale.h"

namespace forms {

// The screen a form lies on, in twips.
struct ScreenObject {
  float Width = 0;
  float Height = 0;
  float TwipsPerPixelX = 15;
  float TwipsPerPixelY = 15;
};

// A form has a user scale over its client area (ScaleLeft, ScaleWidth...: see UserScale).
class Form : public UserScaled {
 public:
  // `monitor` indexes platform().monitors(): the screen the form is made on.
  explicit Form(const WindowDef& def, int monitor = 0);
  virtual ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  // ---- Handlers (none by default). ----
  virtual void Form_Load() {}
  virtual void Form_Unload(int& Cancel) { (void)Cancel; }
  virtual void Form_KeyPress(int& KeyAscii) { (void)KeyAscii; }
  virtual void Form_MouseMove(int Button, int Shift, float X, float Y) { (void)Button, (void)Shift, (void)X, (void)Y; }
  virtual void on_click(Control& control) { (void)control; }
  virtual void on_timer(Timer& timer) { (void)timer; }

  // ---- Window life. ----
  void Load();
  void Show(int modal = 0);
  void Hide();
  void Unload();
  bool loaded() const { return m_loaded; }
  bool loading() const { return m_loading; }

  // ---- Window properties. ----
  const std::string& Caption() const { return m_caption; }
  void Caption(const std::string& value);
  WindowHandle hWnd();
  WindowStateKind WindowState() const { return m_window_state; }
  void WindowState(WindowStateKind value);
  bool Visible() const { return m_visible; }
  // The window's position on its screen, in twips.
  float Top() const;
  float Left() const;
  ScreenObject Screen() const;

  // ---- For the engine, the back ends and tests. ----
  const WindowDef& def() const { return m_def; }
  const std::string& name() const { return m_name; }
  const Monitor& monitor() const { return m_monitor_info; }
  // Where the client area lies in the virtual screen as the window opens, in pixels: the whole monitor
  // when maximised, else the place and size the definition gives.
  Rect initial_client_rect() const;
  double dpi() const { return m_monitor_info.dpi; }
  NativeWindow* native() const { return m_native.get(); }
  Size client_size() const { return m_scale.area(); }
  const std::vector<std::unique_ptr<Control>>& controls() const { return m_controls; }
  Control* find_control(std::string_view name) const;
  template <class C>
  C& control(const char* control_name) {
    return dynamic_cast<C&>(*find_control(control_name));
  }
  // Converts between a container's units and pixels: `container` nullptr is the form.
  double units_to_pixels_x(const Control* container, double units) const;
  double units_to_pixels_y(const Control* container, double units) const;
  double pixels_to_units_x(const Control* container, double pixels) const;
  double pixels_to_units_y(const Control* container, double pixels) const;

  // Events from the back end. Each runs its handler, then presents what the surfaces changed.
  void key_press(int char_code);
  void mouse_move(int button, int shift, float x_pixels, float y_pixels);
  void click(Control& control);
  void close_request();
  void deliver_tick(Timer& timer);
  // The native window went away without an Unload (its parent destroyed it): unload the form.
  void native_destroyed();
  // Presents every surface's dirty rectangles through the native window.
  void present_surfaces();
  // The back end resized the client area (pixels).
  void client_resized(Size size) { m_scale.set_area(size); }

 private:
  void build_controls();
  void place_controls();
  void arm_timers();
  void disarm_timers();

  const WindowDef& m_def;
  std::string m_name;
  Monitor m_monitor_info;
  std::vector<std::unique_ptr<Control>> m_controls;
  std::unique_ptr<NativeWindow> m_native;
  bool m_loaded = false;
  bool m_loading = false;
  bool m_visible = false;
  std::string m_caption;
  WindowStateKind m_window_state;
};

// Every form of the program: default instances by type, and further instances (one per extra monitor).
class Application {
 public:
  static Application& get();

  template <class F>
  F& default_instance() {
    const std::type_index key(typeid(F));
    if (Form* existing = find_default(key)) {
      if (existing->loaded() || existing->loading()) return static_cast<F&>(*existing);
      retire_default(key);
    }
    auto& form = static_cast<F&>(adopt_default(key, std::make_unique<F>()));
    form.Load();
    return form;
  }

  // A new instance on another monitor; not loaded until Load or Show.
  template <class F>
  F& add_instance(int monitor) {
    return static_cast<F&>(adopt_extra(std::make_unique<F>(monitor)));
  }

  // The default instances first, then the further ones.
  std::vector<Form*> forms() const;
  std::size_t default_count() const { return m_defaults.size(); }
  int loaded_count() const;
  // Forgets every form (tests; the back end's windows must be gone already).
  void reset();

 private:
  Form* find_default(std::type_index key) const;
  Form& adopt_default(std::type_index key, std::unique_ptr<Form> form);
  Form& adopt_extra(std::unique_ptr<Form> form);
  void retire_default(std::type_index key);
  // Calls fn with every form, in forms()'s order, without gathering them.
  template <class Fn>
  void for_each_form(Fn&& fn) const {
    for (const auto& entry : m_defaults) fn(entry.second.get());
    for (const auto& form : m_extras) fn(form.get());
  }

  std::vector<std::pair<std::type_index, std::unique_ptr<Form>>> m_defaults;
  std::vector<std::unique_ptr<Form>> m_extras;
  std::vector<std::unique_ptr<Form>> m_retired;
};

// The default instance of a form, created and loaded on first use.
template <class F>
F& instance() {
  return Application::get().default_instance<F>();
}

}  // namespace forms
