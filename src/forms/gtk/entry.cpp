// The Linux program's entry: the GTK back end runs the start-up procedure.
#include "forms/gtk/gtk_platform.h"
#include "startup/startup.h"

int main(int argc, char** argv) {
  forms::gtk::GtkPlatform platform(argc, argv);
  return forms::run_program(platform, &startup::Main);
}
