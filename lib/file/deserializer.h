#pragma once
#include <array>
#include <cstdint>
#include <istream>
#include <string>
#include <unordered_map>
#include <vector>

#include "file/TBF.h"
#include "file/TCF.h"
#include "file/TokenPlaceholders.h"

namespace qmx {

// Reads TBF tables and TCF containers of the token form, splitting on the space character
// only; placeholders and header tokens are skipped unexamined and the images and tables built
// are not validated. Bad input is reported only by throwing std::exception: std::invalid_argument
// or std::out_of_range ("stoi") for a bad number, qmx::Error::Exception for a bad optional flag,
// a negative byte or entry count or a TCF entry count above 65535. A read past the end of the
// input yields an empty token, so every item that needs a number fails there. Borrows the
// stream; one object reads exactly one file and is not used again after it threw.
class Deserializer {
 public:
  explicit Deserializer(std::istream& in);

  void jump_n_items(unsigned n);
  std::string load_next_item();
  void load_generic_header();
  void load_tbf_header();
  void load_tcf_header();
  bool load_optional();
  std::vector<std::uint8_t> load_vector();
  File::Hex load_hex();
  File::Xip load_xip();
  File::Img load_img();
  File::IS2023 load_IS2023();
  TBF::Entry load_entry();
  TBF::Table load_tbf();
  TBF::Table load_tbf_file();
  void load_metadatum(TCF::Metadata* map);
  TCF::Metadata load_metadata();
  TCF::FirmwareMap load_firmware();
  TCF::Table load_tcf();
  TCF::Table load_tcf_file();

 private:
  int load_int();
  // A byte or entry count; a negative one throws.
  int load_count();
  // The byte vector of a payload, after its two placeholders when it is the first of its kind.
  std::vector<std::uint8_t> load_payload(bool& seen);
  // The first `length` characters of text: all of it when it is shorter, none for length <= 0.
  static std::string cut_label(const std::string& text, int length);

  std::istream* in;
  std::string token;
  std::array<std::string, 3> header;
  std::string tcfCount;
  detail::SeenKinds seen;
};

}  // namespace qmx
