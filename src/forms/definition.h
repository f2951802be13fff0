// A window's definition: the window's own properties and its controls as data, in twips (1/1440 inch),
// measured in the container's client area. Every back end builds its windows from these records and
// none hard-codes a layout. The records describe the window as it stands before its load handler runs.
#pragma once

#include <cstddef>
#include <optional>
#include <span>

#include "values/color.h"
#include "values/geometry.h"

namespace forms {

enum class ControlKind { Timer, PictureBox, Frame, CommandButton, Label, CheckBox, Image, Shape, CommonDialog };

enum class BorderStyle { None = 0, FixedSingle = 1, Sizable = 2, FixedDialog = 3 };
enum class WindowStateKind { Normal = 0, Minimized = 1, Maximized = 2 };
enum class StartUpPosition { Manual = 0, CenterOwner = 1, CenterScreen = 2, WindowsDefault = 3 };
enum class ScaleMode { User = 0, Twips = 1, Pixels = 3 };
enum class Alignment { Left = 0, Right = 1, Center = 2 };

struct FontDef {
  const char* face;
  double size_points;
  int weight;  // 400 regular, 700 bold

  bool bold() const { return weight >= 600; }
};

struct ControlDef {
  ControlKind kind;
  const char* name;
  const char* container = nullptr;  // nullptr: the window itself
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  const char* caption = "";
  int tab_index = -1;  // -1: takes no place in the tab order
  bool enabled = true;
  bool visible = true;
  std::optional<OleColor> back_color{};
  std::optional<OleColor> fill_color{};    // shapes: solid fill
  std::optional<OleColor> border_color{};  // shapes: outline
  std::optional<FontDef> font{};
  Alignment alignment = Alignment::Left;
  bool is_default = false;  // command button activated by Enter
  bool is_cancel = false;   // command button activated by Esc
  bool stretch = false;     // image: stretch the picture to the control
  int interval = 0;         // timer: milliseconds
  ScaleMode scale_mode = ScaleMode::Twips;
  int value = 0;                         // check box: 0 unchecked, 1 checked
  std::span<const std::byte> picture{};  // picture box: the encoded design-time picture, if any
};

struct WindowDef {
  const char* name;
  const char* caption = "";
  BorderStyle border_style = BorderStyle::Sizable;
  bool max_button = true;
  bool min_button = true;
  bool show_in_taskbar = true;
  WindowStateKind window_state = WindowStateKind::Normal;
  StartUpPosition startup_position = StartUpPosition::WindowsDefault;
  std::optional<OleColor> back_color{};  // nullopt: the platform's button-face colour
  ScaleMode scale_mode = ScaleMode::Twips;
  int client_left = 0;
  int client_top = 0;
  int client_width = 0;
  int client_height = 0;
  std::optional<FontDef> font{};
  // The native title is the program file's base name once the window is shown (the window a second
  // saver start looks for); no other window bears that title.
  bool titled_by_program = false;
  std::span<const std::byte> icon{};  // an .ico file's bytes; empty: the platform's default icon
  std::span<const ControlDef> controls;
};

// Where a window in its normal state puts its client area on a monitor: the definition's position and
// size, in pixels of that monitor, offset by the monitor's origin.
Rect client_rect_on(const WindowDef& def, const Rect& monitor_bounds, double dpi);

}  // namespace forms
