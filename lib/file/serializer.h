#pragma once
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "file/TBF.h"
#include "file/TCF.h"
#include "file/TokenPlaceholders.h"

namespace qmx {

// Writes TBF tables and TCF containers in the token form: every token followed by one space,
// nothing else. Placeholder tokens "x" stand where the first item of a kind in the file needs
// them, so one object writes exactly one file. Borrows the stream and never flushes it. The
// writer returns nothing; a label or key that the form cannot carry (one holding a space), or
// more than 65535 entries or metadata keys, sets the stream's failbit instead.
class Serializer {
 public:
  explicit Serializer(std::ostream& out) : out(&out) {}

  void write_next(unsigned value);
  // The length, then the characters.
  void write_next(std::string text);
  void write_n_blanks(unsigned n);

  void save_generic_header();
  void save_tbf_header();
  void save_tcf_header(unsigned count);
  void save_vector(std::vector<std::uint8_t> bytes);
  void save_hex(File::Hex hex);
  void save_xip(File::Xip xip);
  void save_img(File::Img img);
  void save_IS2023(File::IS2023 firmware);
  void save_entry(TBF::Entry entry);
  void save_tbf(TBF::Table table);
  void save_tbf_file(TBF::Table table);
  void save_metadata(TCF::Metadata metadata);
  void save_firmware(TCF::FirmwareMap entries);
  void save_tcf(TCF::Table table);
  void save_tcf_file(TCF::Table table);

 private:
  // Writes the byte vector of a payload, after its two placeholders when it is the first of
  // its kind.
  void save_payload(bool& seen, const std::vector<std::uint8_t>& bytes);
  // False, with the stream failed, when count exceeds what a reader can count.
  bool countable(std::size_t count);

  std::ostream* out;
  detail::SeenKinds seen;
};

}  // namespace qmx
