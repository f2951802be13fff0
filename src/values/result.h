// Result<T>: a value, or the reason it could not be made. The reason is a sentence a user can read
// ("cannot open /x/y.gif: No such file or directory"); callers show it as it stands.
#pragma once

#include <cassert>
#include <string>
#include <utility>
#include <variant>

namespace forms {

// Whether a failure says something lasting about what was asked for (the file is not there, it is not a
// picture) or only about this attempt (a timeout, an I/O or permission error, a folder not mounted yet).
// A caller may act on a lasting failure, such as forgetting a choice; a passing one only reports.
enum class Failure { Lasting, Passing };

struct Error {
  std::string reason;
  Failure kind = Failure::Lasting;
};

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : m_state(std::move(value)) {}      // NOLINT(google-explicit-constructor)
  Result(Error error) : m_state(std::move(error)) {}  // NOLINT(google-explicit-constructor)

  bool ok() const { return std::holds_alternative<T>(m_state); }
  explicit operator bool() const { return ok(); }

  T& value() & {
    assert(ok());
    return std::get<T>(m_state);
  }
  const T& value() const& {
    assert(ok());
    return std::get<T>(m_state);
  }
  T&& value() && {
    assert(ok());
    return std::get<T>(std::move(m_state));
  }
  const std::string& reason() const {
    assert(!ok());
    return std::get<Error>(m_state).reason;
  }
  Failure failure() const {
    assert(!ok());
    return std::get<Error>(m_state).kind;
  }

 private:
  std::variant<T, Error> m_state;
};

// The result of an operation that yields nothing but can fail.
struct Done {};
using Status = Result<Done>;

inline Status ok_status() { return Done{}; }

}  // namespace forms
