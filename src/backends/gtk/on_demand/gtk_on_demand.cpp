// GTK on demand: the program links GDK, and GTK itself is loaded when one of its functions is first
// called (the settings dialog, a message box). The saver and the preview, which call none, never load,
// map and relocate GTK and the libraries only GTK needs, which took a quarter of their start-up's
// dynamic linking. Each GTK function the back end calls is a stub (made by make_stubs.sh from the back
// end's library) that jumps through a slot; every slot starts at the resolver below, which loads GTK,
// fills them all and hands back the function called.
#include <dlfcn.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>

extern "C" {
extern void* dialsaver_gtk_slots[];
extern const char* const dialsaver_gtk_names[];
extern const int dialsaver_gtk_count;
void* dialsaver_gtk_resolve(int index);
}

namespace {

[[noreturn]] void cannot(const char* what, const char* detail) {
  std::fprintf(stderr, "%s: cannot load GTK (%s): %s\n", program_invocation_short_name, what,
               detail != nullptr ? detail : "unknown error");
  std::exit(1);
}

}  // namespace

void* dialsaver_gtk_resolve(int index) {
  static std::once_flag loaded;
  std::call_once(loaded, [] {
    void* gtk = dlopen("libgtk-3.so.0", RTLD_NOW | RTLD_GLOBAL);
    if (gtk == nullptr) cannot("libgtk-3.so.0", dlerror());
    for (int i = 0; i < dialsaver_gtk_count; ++i) {
      void* function = dlsym(gtk, dialsaver_gtk_names[i]);
      if (function == nullptr) cannot(dialsaver_gtk_names[i], dlerror());
      dialsaver_gtk_slots[i] = function;
    }
  });
  return dialsaver_gtk_slots[index];
}
