#pragma once
// The value of an option that holds an unsigned number: a negative token is
// refused as an invalid option value instead of wrapping around to a large
// number. Every other token is parsed as the value type parses it.

#include <boost/program_options/errors.hpp>
#include <boost/program_options/value_semantic.hpp>
#include <string>
#include <vector>

namespace mrl {

// True when the token, past leading white space, starts with a minus sign.
[[nodiscard]] bool IsNegativeToken(const std::string& token);

template <typename T>
class UnsignedOptionValue final : public boost::program_options::typed_value<T> {
 public:
  explicit UnsignedOptionValue(T* store) : boost::program_options::typed_value<T>(store) {}

  void xparse(boost::any& value, const std::vector<std::string>& tokens) const override {
    for (const std::string& token : tokens) {
      if (IsNegativeToken(token)) throw boost::program_options::invalid_option_value(token);
    }
    boost::program_options::typed_value<T>::xparse(value, tokens);
  }
};

// Declares an unsigned option bound to store, as boost::program_options::value does.
template <typename T>
UnsignedOptionValue<T>* UnsignedValue(T* store) {
  return new UnsignedOptionValue<T>(store);
}

}  // namespace mrl
