// The Linux program's entry: the GTK back end runs the start-up procedure. A failure that no handler
// traps ends the program with a one-line message that starts with the program's name.
#include <cstdio>
#include <exception>

#include "backends/gtk/gtk_platform.h"
#include "startup/startup.h"
#include "values/printable.h"

int main(int argc, char** argv) {
  forms::gtk::GtkPlatform platform(argc, argv);
  try {
    return forms::run_program(platform, &startup::Main);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", forms::printable(platform.app_exe_name()).c_str(),
                 forms::printable(e.what()).c_str());
  }
  platform.end_program(1);
}
