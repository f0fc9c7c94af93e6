#include "file/serializer.h"

namespace qmx {
namespace {

constexpr std::size_t kMaxCount = 65535;

}  // namespace

void Serializer::write_next(unsigned value) {
  *out << value << ' ';
}

void Serializer::write_next(std::string text) {
  if (text.find(' ') != std::string::npos) {
    out->setstate(std::ios::failbit);
    return;
  }
  write_next(static_cast<unsigned>(text.size()));
  *out << text << ' ';
}

void Serializer::write_n_blanks(unsigned n) {
  for (unsigned i = 0; i < n; ++i) *out << "x ";
}

void Serializer::save_generic_header() {
  *out << "22 serialization::archive 0 ";
}

void Serializer::save_tbf_header() {
  save_generic_header();
}

void Serializer::save_tcf_header(unsigned count) {
  save_generic_header();
  write_n_blanks(4);
  write_next(count);
  write_n_blanks(4);
}

void Serializer::save_vector(std::vector<std::uint8_t> bytes) {
  write_next(static_cast<unsigned>(bytes.size()));
  write_n_blanks(1);
  for (const std::uint8_t byte : bytes) write_next(unsigned{byte});
}

void Serializer::save_payload(bool& seen, const std::vector<std::uint8_t>& bytes) {
  if (!seen) write_n_blanks(2);
  seen = true;
  save_vector(bytes);
}

void Serializer::save_hex(File::Hex hex) {
  save_payload(seen.hex, hex.GetRaw());
}

void Serializer::save_xip(File::Xip xip) {
  save_payload(seen.xip, xip.GetRaw());
}

void Serializer::save_img(File::Img img) {
  save_payload(seen.img, img.GetRaw());
}

void Serializer::save_IS2023(File::IS2023 firmware) {
  if (!seen.is2023) write_n_blanks(2);
  write_next(unsigned{firmware.GetOffset()});
  save_vector(firmware.GetData());
  seen.is2023 = true;
}

void Serializer::save_entry(TBF::Entry entry) {
  if (!seen.entry) write_n_blanks(4);
  write_next(unsigned{entry.GetAddress().value()});
  save_img(entry.GetImage());
  seen.entry = true;
}

void Serializer::save_tbf(TBF::Table table) {
  if (!seen.tbf) write_n_blanks(4);
  if (const auto& hex = table.MaybeGetHexEntry()) {
    write_next(1u);
    save_hex(*hex);
  } else {
    write_next(0u);
  }
  if (!seen.tbf) write_n_blanks(2);
  const auto& entries = table.GetBinaryEntries();
  write_next(static_cast<unsigned>(entries.size()));
  write_n_blanks(1);
  for (const TBF::Entry& entry : entries) save_entry(entry);
  seen.tbf = true;
}

void Serializer::save_tbf_file(TBF::Table table) {
  save_tbf_header();
  save_tbf(std::move(table));
}

bool Serializer::countable(std::size_t count) {
  if (count <= kMaxCount) return true;
  out->setstate(std::ios::failbit);
  return false;
}

void Serializer::save_metadata(TCF::Metadata metadata) {
  if (!countable(metadata.size())) return;
  write_n_blanks(2);
  write_next(static_cast<unsigned>(metadata.size()));
  write_n_blanks(4);
  for (auto& [key, value] : metadata) {
    write_next(key);
    save_vector(std::move(value));
  }
}

void Serializer::save_firmware(TCF::FirmwareMap entries) {
  bool first = true;
  for (const auto& [label, file] : entries) {
    write_next(label);
    if (first) write_n_blanks(4);
    first = false;
    write_next(static_cast<unsigned>(file.firmware.which()));
    struct Payload : boost::static_visitor<> {
      Serializer& s;
      explicit Payload(Serializer& serializer) : s(serializer) {}
      void operator()(const File::Hex& hex) const { s.save_hex(hex); }
      void operator()(const File::Xip& xip) const { s.save_xip(xip); }
      void operator()(const File::Img& img) const { s.save_img(img); }
      void operator()(const TBF::Table& table) const { s.save_tbf(table); }
      void operator()(const File::IS2023& firmware) const { s.save_IS2023(firmware); }
    };
    boost::apply_visitor(Payload{*this}, file.firmware);
  }
}

void Serializer::save_tcf(TCF::Table table) {
  save_firmware(table.GetFirmwareEntries());
  save_metadata(table.GetMetadata());
}

void Serializer::save_tcf_file(TCF::Table table) {
  const std::size_t count = table.GetFirmwareEntries().size();
  if (!countable(count)) return;
  save_tcf_header(static_cast<unsigned>(count));
  save_tcf(std::move(table));
}

}  // namespace qmx
