// frmSetting: the settings dialog. It shows the current settings, lets the user change them through the
// platform's file-open and colour dialogs, and edits the process-wide values in place; OK writes all five
// to the store, and every way of closing it ends the program.
#pragma once

#include <cstdint>

#include "forms/form.h"

namespace settings_dialog {

class frmSetting : public forms::Form {
 public:
  explicit frmSetting(int monitor = 0);

  void Form_Load() override;
  void Form_Unload(int& Cancel) override;
  void cmdOpen_Click();
  void lblBackColor_Click();
  void lblColor1_Click();
  void lblColor2_Click();
  void chkStretch_Click();
  void cmdOK_Click();
  void cmdCancel_Click();

  forms::CommonDialog& cdl;
  forms::Frame& Frame1;
  forms::Image& Image1;
  forms::CommandButton& cmdOpen;
  forms::Label& lblBackColor;
  forms::Shape& ShapeBack;
  forms::Label& lblColor1;
  forms::Shape& ShapeColor1;
  forms::Label& lblColor2;
  forms::Shape& ShapeColor2;
  forms::CheckBox& chkStretch;
  forms::CommandButton& cmdOK;
  forms::CommandButton& cmdCancel;
  forms::CommonDialog& cdl2;

 private:
  void on_click(forms::Control& control) override;
  void choose_color(forms::Shape& swatch, std::int32_t& value);
};

}  // namespace settings_dialog
