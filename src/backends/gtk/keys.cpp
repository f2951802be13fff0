#include "backends/gtk/keys.h"

#include <gdk/gdk.h>

namespace forms::gtk {

int char_code_of(unsigned keyval, unsigned state) {
  switch (keyval) {
    case GDK_KEY_KP_Enter:
      return '\r';
    case GDK_KEY_ISO_Left_Tab:
      return '\t';
    case GDK_KEY_Delete:
    case GDK_KEY_KP_Delete:
      return 0;
    default:
      break;
  }
  const gunichar typed = gdk_keyval_to_unicode(keyval);
  if (typed == 0) return 0;
  if ((state & GDK_CONTROL_MASK) != 0) {
    if (typed >= 'a' && typed <= 'z') return static_cast<int>(typed - 'a' + 1);
    if (typed >= 'A' && typed <= 'Z') return static_cast<int>(typed - 'A' + 1);
  }
  return static_cast<int>(typed);
}

}  // namespace forms::gtk
