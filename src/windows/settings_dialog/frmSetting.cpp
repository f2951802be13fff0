#include "windows/settings_dialog/frmSetting.h"

#include "forms/user32.h"
#include "resources/definitions.h"
#include "settings/settings.h"

namespace settings_dialog {

using settings::gBackColor;
using settings::gColor1;
using settings::gColor2;
using settings::gPicturePath;
using settings::gStretchPic;

frmSetting::frmSetting(int monitor)
    : forms::Form(resources::frmSetting_definition(), monitor),
      cdl(control<forms::CommonDialog>("cdl")),
      Frame1(control<forms::Frame>("Frame1")),
      Image1(control<forms::Image>("Image1")),
      cmdOpen(control<forms::CommandButton>("cmdOpen")),
      lblBackColor(control<forms::Label>("lblBackColor")),
      ShapeBack(control<forms::Shape>("ShapeBack")),
      lblColor1(control<forms::Label>("lblColor1")),
      ShapeColor1(control<forms::Shape>("ShapeColor1")),
      lblColor2(control<forms::Label>("lblColor2")),
      ShapeColor2(control<forms::Shape>("ShapeColor2")),
      chkStretch(control<forms::CheckBox>("chkStretch")),
      cmdOK(control<forms::CommandButton>("cmdOK")),
      cmdCancel(control<forms::CommandButton>("cmdCancel")),
      cdl2(control<forms::CommonDialog>("cdl2")) {}

void frmSetting::Form_Load() {
  forms::user32::ShowCursor(true);
  ShapeBack.FillColor(gBackColor);
  ShapeColor1.FillColor(gColor1);
  ShapeColor2.FillColor(gColor2);
  chkStretch.Value(gStretchPic ? 1 : 0);
  // A picture that does not load leaves the thumbnail empty, silently.
  if (auto picture = forms::LoadPicture(gPicturePath)) Image1.Picture(std::move(picture).value());
}

void frmSetting::on_click(forms::Control& control) {
  if (&control == &cmdOpen) cmdOpen_Click();
  if (&control == &lblBackColor) lblBackColor_Click();
  if (&control == &lblColor1) lblColor1_Click();
  if (&control == &lblColor2) lblColor2_Click();
  if (&control == &chkStretch) chkStretch_Click();
  if (&control == &cmdOK) cmdOK_Click();
  if (&control == &cmdCancel) cmdCancel_Click();
}

void frmSetting::cmdOpen_Click() {
  cdl.ShowOpen();
  if (cdl.FileName.empty()) return;
  auto picture = forms::LoadPicture(cdl.FileName);
  if (!picture) {
    // Not a picture: the thumbnail and the path stay as they were, and a later cancelled chooser
    // does not bring the same file back.
    cdl.FileName.clear();
    forms::MsgBox("Image Not Found", forms::vbOKOnly);
    return;
  }
  Image1.Picture(std::move(picture).value());
  gPicturePath = cdl.FileName;
}

void frmSetting::lblBackColor_Click() { choose_color(ShapeBack, gBackColor); }
void frmSetting::lblColor1_Click() { choose_color(ShapeColor1, gColor1); }
void frmSetting::lblColor2_Click() { choose_color(ShapeColor2, gColor2); }

// The colour dialog opens on the value's colour, so a cancelled dialog leaves the value as it was.
void frmSetting::choose_color(forms::Shape& swatch, std::int32_t& value) {
  cdl2.Color = value;
  cdl2.ShowColor();
  swatch.FillColor(cdl2.Color);
  value = cdl2.Color;
}

void frmSetting::chkStretch_Click() { gStretchPic = chkStretch.Value() == 1; }

void frmSetting::cmdOK_Click() {
  // A store that cannot be written keeps the dialog open with the reason, so nothing is lost silently.
  if (forms::Status saved = settings::SaveSettings(); !saved) {
    forms::MsgBox("The settings could not be saved: " + saved.reason(), forms::vbOKOnly);
    return;
  }
  Unload();
}

void frmSetting::cmdCancel_Click() { Unload(); }

void frmSetting::Form_Unload(int& Cancel) {
  (void)Cancel;
  forms::End();
}

}  // namespace settings_dialog
