#include "forms/backend.h"

#include <cassert>

namespace forms {
namespace {

Platform* g_platform = nullptr;

}  // namespace

Platform::Platform(std::unique_ptr<NativeServices> services) : m_services(std::move(services)) {}

Platform::~Platform() = default;

Result<PictureRef> Platform::load_picture(const std::string& path, Size bound) {
  return m_services->load_picture(path, bound);
}

SettingsStore& Platform::settings() {
  if (!m_store) m_store = m_services->user_settings_store();
  return *m_store;
}

Platform& platform() {
  assert(g_platform != nullptr && "no back end installed");
  return *g_platform;
}

void install_platform(Platform* p) { g_platform = p; }

int run_program(Platform& p, void (*main)()) {
  install_platform(&p);
  main();
  p.run();
  return 0;
}

}  // namespace forms
