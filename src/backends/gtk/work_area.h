// Keeping the program's dialogs (message boxes, the file and colour choosers) on the screen: a dialog is
// never larger than the work area of its monitor, frame included, and opens wholly on it. The monitor is
// the owner's, else the primary one.
#pragma once

#include <gtk/gtk.h>

namespace forms::gtk {

// Call before the dialog is shown. Caps its size now, guessing its frame from the owner's, and once it
// is mapped moves and shrinks it by its real frame if it still reaches beyond the work area.
void keep_within_work_area(GtkWindow* dialog, GdkWindow* owner);

}  // namespace forms::gtk
