#include "resources/definitions.h"

#include <string>

#include "resources/embedded.h"

namespace resources {
namespace {

using forms::Alignment;
using forms::BorderStyle;
using forms::ControlDef;
using forms::ControlKind;
using forms::FontDef;
using forms::ScaleMode;
using forms::StartUpPosition;
using forms::WindowDef;
using forms::WindowStateKind;

constexpr FontDef kSansBold{"MS Sans Serif", 8.25, 700};
constexpr FontDef kSans{"MS Sans Serif", 8.25, 400};
constexpr FontDef kCaptionFont{"Verdana", 9.75, 700};
constexpr forms::OleColor kSwatchDesignColor = 0xC0E0FF;  // red 255, green 224, blue 192

}  // namespace

std::span<const std::byte> default_picture() {
  return std::as_bytes(std::span(embedded::default_picture_jpg, embedded::default_picture_jpg_size));
}

std::span<const std::byte> clock_icon() {
  return std::as_bytes(std::span(embedded::clock_ico, embedded::clock_ico_size));
}

// Controls are listed bottom to top: where two overlap, the later one is drawn over the earlier.

const WindowDef& frmmain_definition() {
  static const ControlDef controls[] = {
      {.kind = ControlKind::Timer, .name = "Timer1", .interval = 1000},
      {.kind = ControlKind::PictureBox,
       .name = "Picture1",
       .left = 0,
       .top = 0,
       .width = 15315,
       .height = 11520,
       .tab_index = 0,
       .enabled = false,
       .back_color = forms::kWhite,
       .font = kSans,
       .scale_mode = ScaleMode::Pixels},
      {.kind = ControlKind::PictureBox,
       .name = "Picture2",
       .container = "Picture1",
       .left = 600,
       .top = 840,
       .width = 1575,
       .height = 1215,
       .tab_index = 1,
       .scale_mode = ScaleMode::Pixels,
       .picture = default_picture()},
  };
  static const WindowDef window{
      .name = "frmmain",
      .caption = "",
      .border_style = BorderStyle::None,
      .max_button = false,
      .min_button = false,
      .show_in_taskbar = false,
      .window_state = WindowStateKind::Maximized,
      .startup_position = StartUpPosition::CenterScreen,
      .back_color = forms::kBlack,
      .scale_mode = ScaleMode::Pixels,
      .client_left = 0,
      .client_top = 30,
      .client_width = 15360,
      .client_height = 11520,
      .font = kSansBold,
      .titled_by_program = true,
      .controls = controls,
  };
  return window;
}

const WindowDef& frmprev_definition() {
  static const ControlDef controls[] = {
      {.kind = ControlKind::PictureBox,
       .name = "Picture1",
       .left = 0,
       .top = 0,
       .width = 2400,
       .height = 1695,
       .tab_index = 0,
       .back_color = forms::kWhite,
       .scale_mode = ScaleMode::Pixels},
      {.kind = ControlKind::Timer, .name = "Timer1", .container = "Picture1", .enabled = false, .interval = 1000},
      {.kind = ControlKind::PictureBox,
       .name = "Picture2",
       .container = "Picture1",
       .left = 360,
       .top = 240,
       .width = 1575,
       .height = 1215,
       .tab_index = 1,
       .scale_mode = ScaleMode::Pixels,
       .picture = default_picture()},
  };
  static const WindowDef window{
      .name = "frmprev",
      .caption = "",
      .border_style = BorderStyle::None,
      .show_in_taskbar = false,
      .window_state = WindowStateKind::Normal,
      .startup_position = StartUpPosition::CenterOwner,
      .back_color = forms::kBlack,
      .scale_mode = ScaleMode::Pixels,
      .client_left = 0,
      .client_top = 0,
      .client_width = 2325,
      .client_height = 1695,
      .controls = controls,
  };
  return window;
}

const WindowDef& frmSetting_definition() {
  static const ControlDef controls[] = {
      {.kind = ControlKind::CommonDialog, .name = "cdl"},
      {.kind = ControlKind::Frame,
       .name = "Frame1",
       .left = 80,
       .top = 0,
       .width = 4695,
       .height = 3135,
       .tab_index = 0},
      {.kind = ControlKind::Image,
       .name = "Image1",
       .container = "Frame1",
       .left = 120,
       .top = 240,
       .width = 1815,
       .height = 1695,
       .stretch = true},
      {.kind = ControlKind::CommandButton,
       .name = "cmdOpen",
       .container = "Frame1",
       .left = 120,
       .top = 2040,
       .width = 1815,
       .height = 375,
       .caption = "Change Picture",
       .tab_index = 1,
       .font = kCaptionFont},
      {.kind = ControlKind::Label,
       .name = "lblBackColor",
       .container = "Frame1",
       .left = 2280,
       .top = 240,
       .width = 1575,
       .height = 375,
       .caption = "Back Color",
       .tab_index = 4,
       .font = kCaptionFont,
       .alignment = Alignment::Right},
      {.kind = ControlKind::Shape,
       .name = "ShapeBack",
       .container = "Frame1",
       .left = 2280,
       .top = 240,
       .width = 255,
       .height = 255,
       .fill_color = forms::kWhite,
       .border_color = forms::kBlack},
      {.kind = ControlKind::Label,
       .name = "lblColor1",
       .container = "Frame1",
       .left = 2280,
       .top = 720,
       .width = 1095,
       .height = 375,
       .caption = "Color1",
       .tab_index = 5,
       .font = kCaptionFont,
       .alignment = Alignment::Right},
      {.kind = ControlKind::Shape,
       .name = "ShapeColor1",
       .container = "Frame1",
       .left = 2280,
       .top = 720,
       .width = 255,
       .height = 255,
       .fill_color = kSwatchDesignColor,
       .border_color = forms::kBlack},
      {.kind = ControlKind::Label,
       .name = "lblColor2",
       .container = "Frame1",
       .left = 2280,
       .top = 1200,
       .width = 1095,
       .height = 375,
       .caption = "Color2",
       .tab_index = 6,
       .font = kCaptionFont,
       .alignment = Alignment::Right},
      {.kind = ControlKind::Shape,
       .name = "ShapeColor2",
       .container = "Frame1",
       .left = 2280,
       .top = 1200,
       .width = 255,
       .height = 255,
       .fill_color = kSwatchDesignColor,
       .border_color = forms::kBlack},
      {.kind = ControlKind::CheckBox,
       .name = "chkStretch",
       .container = "Frame1",
       .left = 2280,
       .top = 1680,
       .width = 2055,
       .height = 495,
       .caption = "Stretch Picture",
       .tab_index = 7,
       .font = kCaptionFont,
       .value = 0},
      {.kind = ControlKind::CommandButton,
       .name = "cmdOK",
       .container = "Frame1",
       .left = 2520,
       .top = 2640,
       .width = 975,
       .height = 375,
       .caption = "OK",
       .tab_index = 3,
       .font = kCaptionFont,
       .is_default = true},
      {.kind = ControlKind::CommandButton,
       .name = "cmdCancel",
       .container = "Frame1",
       .left = 3600,
       .top = 2640,
       .width = 975,
       .height = 375,
       .caption = "Cancel",
       .tab_index = 2,
       .font = kCaptionFont,
       .is_cancel = true},
      {.kind = ControlKind::CommonDialog, .name = "cdl2", .container = "Frame1"},
  };
  static const std::string caption = std::string("dialsaver-Created by ") + kMakerAddress;
  static const WindowDef window{
      .name = "frmSetting",
      .caption = caption.c_str(),
      .border_style = BorderStyle::FixedDialog,
      .max_button = false,
      .min_button = false,
      .show_in_taskbar = false,
      .window_state = WindowStateKind::Normal,
      .startup_position = StartUpPosition::CenterOwner,
      .scale_mode = ScaleMode::Twips,
      .client_left = 45,
      .client_top = 330,
      .client_width = 4815,
      .client_height = 3195,
      .icon = clock_icon(),
      .controls = controls,
  };
  return window;
}

}  // namespace resources
