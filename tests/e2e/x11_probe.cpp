// A small X11 helper for the end-to-end tests, on the display in DISPLAY:
//
//   x11_probe host WIDTHxHEIGHT
//       A preview host: makes a grey top-level window of that size, prints its id in decimal on a line of
//       its own, then reads commands from standard input: "destroy" destroys the window (the program
//       keeps running and says "destroyed"), "children" prints the ids of the window's children on one
//       line, "quit" (or the end of input) ends it.
//   x11_probe pixel X Y
//       Prints the colour of the root window's pixel at (X, Y) as RRGGBB.
//   x11_probe capture WIDTHxHEIGHT+X+Y FILE.ppm
//       Writes that part of the root window as a binary PPM, in one XGetImage (a few milliseconds).
//   x11_probe close ID
//       Asks the window to close, as a window manager's close box does (WM_DELETE_WINDOW).
//   x11_probe send ID destroy | send ID configure WIDTHxHEIGHT
//       Sends the window's watchers (StructureNotifyMask) a DestroyNotify or a ConfigureNotify of that size
//       about the window, as any client can (XSendEvent): the window itself is left as it is.
//   x11_probe first-frame X Y RRGGBB TIMEOUT_MS -- PROGRAM [ARGS...]
//       Starts the program, then prints the milliseconds from its start until the root's pixel at (X, Y)
//       shows the colour, and the program's process id; exits 1 if it does not within the timeout. The
//       program is left running.
//   x11_probe first-frame-cpu X Y RRGGBB TIMEOUT_MS -- PROGRAM [ARGS...]
//       The same, but the program is killed as soon as the pixel shows, and what is printed is the
//       milliseconds and the CPU milliseconds all its threads used until then (from its rusage).
//   x11_probe xor-rows ROWS
//       A white window over the whole screen that, once a second until it is killed, flips one pixel in
//       each of ROWS rows (a column of them, XOR in one request) and flushes: the least a client can cost,
//       and make the X server do, to change that many rows a second. The benchmark's floor.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

Display* open_display() {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "x11_probe: cannot open the display\n");
    std::exit(2);
  }
  return display;
}

unsigned long root_pixel(Display* display, int x, int y) {
  XImage* image = XGetImage(display, DefaultRootWindow(display), x, y, 1, 1, AllPlanes, ZPixmap);
  if (image == nullptr) return ~0UL;
  const unsigned long pixel = XGetPixel(image, 0, 0) & 0xFFFFFF;
  XDestroyImage(image);
  return pixel;
}

int host(const char* size) {
  unsigned width = 0;
  unsigned height = 0;
  if (std::sscanf(size, "%ux%u", &width, &height) != 2 || width == 0 || height == 0) return 2;
  Display* display = open_display();
  const int screen = DefaultScreen(display);
  const Window window =
      XCreateSimpleWindow(display, RootWindow(display, screen), 10, 10, width, height, 0, 0, 0x808080);
  XStoreName(display, window, "x11_probe host");
  XMapWindow(display, window);
  XSync(display, False);
  std::printf("%lu\n", window);
  std::fflush(stdout);
  pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {ConnectionNumber(display), POLLIN, 0}};
  std::string line;
  bool alive = true;
  for (;;) {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
    }
    if (std::cin.rdbuf()->in_avail() <= 0) {
      if (poll(fds, 2, -1) < 0) continue;
      if ((fds[0].revents & (POLLIN | POLLHUP)) == 0) continue;
    }
    if (!std::getline(std::cin, line) || line == "quit") break;
    if (line == "destroy" && alive) {
      XDestroyWindow(display, window);
      XSync(display, False);
      alive = false;
      std::printf("destroyed\n");
    } else if (line == "children") {
      Window root = 0;
      Window parent = 0;
      Window* children = nullptr;
      unsigned count = 0;
      if (alive && XQueryTree(display, window, &root, &parent, &children, &count) != 0) {
        for (unsigned i = 0; i < count; ++i) std::printf("%s%lu", i == 0 ? "" : " ", children[i]);
        if (children != nullptr) XFree(children);
      }
      std::printf("\n");
    }
    std::fflush(stdout);
  }
  XCloseDisplay(display);
  return 0;
}

int pixel(int x, int y) {
  Display* display = open_display();
  std::printf("%06lX\n", root_pixel(display, x, y));
  XCloseDisplay(display);
  return 0;
}

int capture(const char* geometry, const char* path) {
  unsigned width = 0;
  unsigned height = 0;
  int x = 0;
  int y = 0;
  if (std::sscanf(geometry, "%ux%u+%d+%d", &width, &height, &x, &y) != 4 || width == 0 || height == 0) return 2;
  Display* display = open_display();
  XImage* image = XGetImage(display, DefaultRootWindow(display), x, y, width, height, AllPlanes, ZPixmap);
  if (image == nullptr) return 1;
  std::FILE* out = std::fopen(path, "wb");
  if (out == nullptr) return 1;
  std::fprintf(out, "P6\n%u %u\n255\n", width, height);
  for (unsigned row = 0; row < height; ++row) {
    for (unsigned column = 0; column < width; ++column) {
      const unsigned long p = XGetPixel(image, static_cast<int>(column), static_cast<int>(row));
      const unsigned char rgb[3] = {static_cast<unsigned char>(p >> 16), static_cast<unsigned char>(p >> 8),
                                    static_cast<unsigned char>(p)};
      std::fwrite(rgb, 1, 3, out);
    }
  }
  XDestroyImage(image);
  XCloseDisplay(display);
  return std::fclose(out) == 0 ? 0 : 1;
}

int close_window(unsigned long window) {
  Display* display = open_display();
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, window, False, NoEventMask, &event);
  XSync(display, False);
  XCloseDisplay(display);
  return 0;
}

int send_structure_event(unsigned long window, const std::string& kind, const char* size) {
  XEvent event{};
  if (kind == "destroy") {
    event.xdestroywindow.type = DestroyNotify;
    event.xdestroywindow.event = window;
    event.xdestroywindow.window = window;
  } else if (kind == "configure") {
    unsigned width = 0;
    unsigned height = 0;
    if (size == nullptr || std::sscanf(size, "%ux%u", &width, &height) != 2) return 2;
    event.xconfigure.type = ConfigureNotify;
    event.xconfigure.event = window;
    event.xconfigure.window = window;
    event.xconfigure.width = static_cast<int>(width);
    event.xconfigure.height = static_cast<int>(height);
  } else {
    return 2;
  }
  Display* display = open_display();
  const Status sent = XSendEvent(display, window, False, StructureNotifyMask, &event);
  XSync(display, False);
  XCloseDisplay(display);
  return sent != 0 ? 0 : 1;
}

int first_frame(int x, int y, const char* color, int timeout_ms, char** program, bool cpu) {
  const unsigned long wanted = std::strtoul(color, nullptr, 16);
  Display* display = open_display();
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    execvp(program[0], program);
    std::_Exit(127);
  }
  for (;;) {
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    const bool shown = root_pixel(display, x, y) == wanted;
    if (shown && cpu) {
      kill(child, SIGKILL);
      int status = 0;
      rusage used{};
      wait4(child, &status, 0, &used);
      const double cpu_ms = static_cast<double>(used.ru_utime.tv_sec + used.ru_stime.tv_sec) * 1e3 +
                            static_cast<double>(used.ru_utime.tv_usec + used.ru_stime.tv_usec) / 1e3;
      std::printf("%lld %.1f\n", static_cast<long long>(elapsed), cpu_ms);
      return 0;
    }
    if (shown) {
      std::printf("%lld %d\n", static_cast<long long>(elapsed), static_cast<int>(child));
      return 0;
    }
    if (elapsed > timeout_ms || waitpid(child, nullptr, WNOHANG) == child) return 1;
    usleep(1000);
  }
}

int xor_rows(int rows) {
  Display* display = open_display();
  const int screen = DefaultScreen(display);
  const int width = DisplayWidth(display, screen);
  const int height = DisplayHeight(display, screen);
  const Window window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, static_cast<unsigned>(width),
                                            static_cast<unsigned>(height), 0, 0, WhitePixel(display, screen));
  XMapWindow(display, window);
  XGCValues values{};
  values.function = GXxor;
  values.foreground = 0xFFFFFF;
  values.graphics_exposures = False;
  GC gc = XCreateGC(display, window, GCFunction | GCForeground | GCGraphicsExposures, &values);
  // Columns of the screen's height, side by side, for more rows than the screen has.
  std::vector<XRectangle> columns;
  for (int left = rows, x = width / 2; left > 0 && x < width; left -= height, x += 2) {
    columns.push_back({static_cast<short>(x), 0, 1, static_cast<unsigned short>(std::min(left, height))});
  }
  XSync(display, False);
  for (;;) {
    XFillRectangles(display, window, gc, columns.data(), static_cast<int>(columns.size()));
    XFlush(display);
    sleep(1);
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "host" && argc == 3) return host(argv[2]);
  if (command == "pixel" && argc == 4) return pixel(std::atoi(argv[2]), std::atoi(argv[3]));
  if (command == "capture" && argc == 4) return capture(argv[2], argv[3]);
  if (command == "close" && argc == 3) return close_window(std::strtoul(argv[2], nullptr, 0));
  if (command == "send" && (argc == 4 || argc == 5)) {
    return send_structure_event(std::strtoul(argv[2], nullptr, 0), argv[3], argc == 5 ? argv[4] : nullptr);
  }
  if ((command == "first-frame" || command == "first-frame-cpu") && argc > 7 && std::strcmp(argv[6], "--") == 0) {
    return first_frame(std::atoi(argv[2]), std::atoi(argv[3]), argv[4], std::atoi(argv[5]), argv + 7,
                       command == "first-frame-cpu");
  }
  if (command == "xor-rows" && argc == 3) return xor_rows(std::atoi(argv[2]));
  std::fprintf(
      stderr,
      "usage: x11_probe host WxH | pixel X Y | capture WxH+X+Y FILE.ppm | close ID | send ID destroy | send ID "
      "configure WxH | first-frame[-cpu] X Y RRGGBB TIMEOUT_MS -- PROGRAM... | xor-rows ROWS\n");
  return 2;
}
