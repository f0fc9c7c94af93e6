#pragma once
#include <sstream>
#include <string>

#include "console/VerboseStream.h"

namespace mrl_test {

// Collects what the verbose stream receives while it lives; the stream
// discards everything again afterwards.
class VerboseCapture {
 public:
  VerboseCapture() { qmx::AttachVerboseStream(text_); }
  ~VerboseCapture() { qmx::VerboseStream().rdbuf(nullptr); }
  VerboseCapture(const VerboseCapture&) = delete;
  VerboseCapture& operator=(const VerboseCapture&) = delete;

  std::string str() const { return text_.str(); }

 private:
  std::ostringstream text_;
};

}  // namespace mrl_test
