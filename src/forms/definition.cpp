#include "forms/definition.h"

#include <cstring>

namespace forms {

const ControlDef* WindowDef::find(const char* control_name) const {
  for (const ControlDef& control : controls) {
    if (std::strcmp(control.name, control_name) == 0) return &control;
  }
  return nullptr;
}

}  // namespace forms
