#pragma once
// Result and error framework: every fallible operation returns a value that
// holds either its success value or an error, and every error answers with an
// integer code (0 = success) and a fixed message text.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <variant>

namespace qmx {

// A two-alternative variant: alternative 0 is the success value T, alternative
// 1 the error E.
template <typename T, typename E>
class [[nodiscard]] Result : public std::variant<T, E> {
 public:
  using std::variant<T, E>::variant;
};

namespace Error {

// The error interface. Errors are held by value and never deleted through it.
class Base {
 public:
  virtual operator int() const = 0;
  // The message lives until the program ends; callers may keep the reference.
  virtual const std::string& msg() const = 0;

 protected:
  Base() = default;
  Base(const Base&) = default;
  Base& operator=(const Base&) = default;
  ~Base() = default;
};

// The success value.
class None final : public Base {
 public:
  static const std::string kMsg;
  operator int() const override { return 0; }
  const std::string& msg() const override { return kMsg; }
};

// One entry of a code type's message table.
struct CodeText {
  std::uint8_t code;
  const std::string& text;
};

// Returns the text of the first entry listing code, else fallback.
const std::string& LookupText(std::uint8_t code, std::initializer_list<CodeText> table,
                              const std::string& fallback);

// Shape of a module's code error: one unsigned 8-bit code. A module derives
// from it, inherits the constructor and implements msg() with LookupText over
// function-local constant strings.
class Code : public Base {
 public:
  constexpr Code(std::uint8_t code) : code_(code) {}
  operator int() const override { return code_; }
  std::uint8_t code() const { return code_; }

 private:
  std::uint8_t code_;
};

// Shape of a module's variant error: code and message forward to the held
// alternative, through nested variants down to a code error. A valueless
// variant makes both throw std::bad_variant_access.
template <typename... Alternatives>
class Variant : public Base, public std::variant<Alternatives...> {
 public:
  using Alternatives_t = std::variant<Alternatives...>;
  using Alternatives_t::Alternatives_t;

  const Alternatives_t& alternatives() const { return *this; }
  operator int() const override {
    return std::visit([](const auto& e) { return static_cast<int>(e); }, alternatives());
  }
  const std::string& msg() const override {
    return std::visit([](const auto& e) -> const std::string& { return e.msg(); }, alternatives());
  }
};

// A result that is itself an error: code 0 and "No Error" while it holds the
// success value, the held error's code and message otherwise.
template <typename T, typename E>
class [[nodiscard]] Result final : public qmx::Result<T, E>, public Base {
 public:
  using qmx::Result<T, E>::Result;

  bool failed() const { return this->index() == 1; }
  const std::variant<T, E>& alternatives() const { return *this; }
  operator int() const override {
    return std::visit([](const auto& v) { return static_cast<int>(v); }, alternatives());
  }
  const std::string& msg() const override {
    return std::visit([](const auto& v) -> const std::string& { return v.msg(); }, alternatives());
  }
};

// Runs the steps (callables returning R, an Error::Result) one after another
// and stops at the first that fails: its result, or success when none failed.
template <typename R, typename... Steps>
R InOrder(Steps&&... steps) {
  R result = None{};
  static_cast<void>(((result = steps(), !result.failed()) && ...));
  return result;
}

// The shared library's exception: one message.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// Hashes an enumeration by its integer value, unchanged.
template <typename Key>
struct Hash {
  std::size_t operator()(Key key) const noexcept { return static_cast<std::size_t>(key); }
};

}  // namespace Error
}  // namespace qmx
