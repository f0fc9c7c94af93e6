#pragma once

namespace qmx::detail {

// Which kinds of item a token-form file has already held. Only the first item of
// each kind in a file carries its placeholder tokens, so writer and reader track
// the same flags.
struct SeenKinds {
  bool hex = false;
  bool xip = false;
  bool img = false;
  bool tbf = false;
  bool entry = false;
  bool is2023 = false;
};

}  // namespace qmx::detail
