// Owners for the Win32 objects the back end makes: GDI objects, device contexts, COM interfaces. Each
// releases its object exactly once, when it goes out of scope.
#pragma once

#include <windows.h>

#include <utility>

namespace forms::win32 {

// A GDI object (font, bitmap, brush, pen) deleted with DeleteObject.
template <class H>
class GdiObject {
 public:
  GdiObject() = default;
  explicit GdiObject(H handle) : m_handle(handle) {}
  ~GdiObject() { reset(); }
  GdiObject(GdiObject&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}
  GdiObject& operator=(GdiObject&& other) noexcept {
    if (this != &other) {
      reset();
      m_handle = std::exchange(other.m_handle, nullptr);
    }
    return *this;
  }
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;

  H get() const { return m_handle; }
  explicit operator bool() const { return m_handle != nullptr; }
  void reset(H handle = nullptr) {
    if (m_handle != nullptr) DeleteObject(m_handle);
    m_handle = handle;
  }

 private:
  H m_handle = nullptr;
};

// An icon made at run time, destroyed with DestroyIcon.
class Icon {
 public:
  Icon() = default;
  explicit Icon(HICON icon) : m_icon(icon) {}
  ~Icon() { reset(); }
  Icon(const Icon&) = delete;
  Icon& operator=(const Icon&) = delete;
  HICON get() const { return m_icon; }
  void reset(HICON icon = nullptr) {
    if (m_icon != nullptr) DestroyIcon(m_icon);
    m_icon = icon;
  }

 private:
  HICON m_icon = nullptr;
};

// A kernel file handle, closed with CloseHandle; false when CreateFile failed.
class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : m_handle(handle) {}
  ~FileHandle() {
    if (m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr) CloseHandle(m_handle);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  HANDLE get() const { return m_handle; }
  explicit operator bool() const { return m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr; }

 private:
  HANDLE m_handle;
};

// A memory device context, deleted with DeleteDC.
class MemoryDc {
 public:
  MemoryDc() : m_dc(CreateCompatibleDC(nullptr)) {}
  ~MemoryDc() {
    if (m_dc != nullptr) DeleteDC(m_dc);
  }
  MemoryDc(const MemoryDc&) = delete;
  MemoryDc& operator=(const MemoryDc&) = delete;
  HDC get() const { return m_dc; }

 private:
  HDC m_dc;
};

// Selects an object into a device context for one scope.
class Selection {
 public:
  Selection(HDC dc, HGDIOBJ object) : m_dc(dc), m_old(SelectObject(dc, object)) {}
  ~Selection() { SelectObject(m_dc, m_old); }
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;

 private:
  HDC m_dc;
  HGDIOBJ m_old;
};

// A window's device context for one scope (GetDC / ReleaseDC).
class WindowDc {
 public:
  explicit WindowDc(HWND hwnd) : m_hwnd(hwnd), m_dc(GetDC(hwnd)) {}
  ~WindowDc() {
    if (m_dc != nullptr) ReleaseDC(m_hwnd, m_dc);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC get() const { return m_dc; }

 private:
  HWND m_hwnd;
  HDC m_dc;
};

// A COM interface pointer that releases its reference.
template <class T>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() { reset(); }
  ComRef(ComRef&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
  ComRef& operator=(ComRef&& other) noexcept {
    if (this != &other) {
      reset();
      m_p = std::exchange(other.m_p, nullptr);
    }
    return *this;
  }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;

  T* get() const { return m_p; }
  T* operator->() const { return m_p; }
  explicit operator bool() const { return m_p != nullptr; }
  // For the functions that hand out a new reference through a T** argument.
  T** put() {
    reset();
    return &m_p;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }
  void reset() {
    if (m_p != nullptr) m_p->Release();
    m_p = nullptr;
  }

 private:
  T* m_p = nullptr;
};

// Looks up a function that not every Windows version exports; nullptr when it is missing.
template <class Fn>
Fn optional_function(const wchar_t* module, const char* name) {
  HMODULE handle = GetModuleHandleW(module);
  if (handle == nullptr) handle = LoadLibraryExW(module, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (handle == nullptr) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(handle, name)));
}

}  // namespace forms::win32
