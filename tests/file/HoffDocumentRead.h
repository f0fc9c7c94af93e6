#pragma once
// A HOFF text read the other way the library offers: parsed whole into a
// document, then converted. What the stream reader makes of a text must be
// what this makes of it.

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "file/HOFF.h"

namespace mrl_test {

using HoffRead = qmx::Result<HOFF::File, HOFF::Error>;

inline HoffRead DocumentRead(const std::string& text) {
  std::istringstream is(text);
  nlohmann::json j;
  try {
    is >> j;
  } catch (const std::exception&) {
    return HOFF::Error::kParseError;
  }
  try {
    return j.get<HOFF::File>();
  } catch (const nlohmann::json::out_of_range&) {
    return HOFF::Error::kMissingField;
  } catch (const std::exception&) {
    return HOFF::Error::kParseError;
  }
}

}  // namespace mrl_test
