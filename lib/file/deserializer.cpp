#include "file/deserializer.h"

#include <algorithm>

namespace qmx {
namespace {

// Tokens of ordinary length are read into the one buffer without reallocation.
constexpr std::size_t kTokenReserve = 128;
constexpr int kMaxTcfEntries = 0xFFFF;

}  // namespace

Deserializer::Deserializer(std::istream& in) : in(&in) {
  token.reserve(kTokenReserve);
}

void Deserializer::jump_n_items(unsigned n) {
  for (unsigned i = 0; i < n; ++i) load_next_item();
}

std::string Deserializer::load_next_item() {
  if (!std::getline(*in, token, ' ')) token.clear();
  return token;
}

int Deserializer::load_int() {
  return std::stoi(load_next_item());
}

int Deserializer::load_count() {
  const int count = load_int();
  if (count < 0) throw Error::Exception("Negative count");
  return count;
}

void Deserializer::load_generic_header() {
  for (std::string& item : header) item = load_next_item();
}

void Deserializer::load_tbf_header() {
  load_generic_header();
}

void Deserializer::load_tcf_header() {
  load_generic_header();
  jump_n_items(4);
  tcfCount = load_next_item();
  jump_n_items(4);
}

bool Deserializer::load_optional() {
  switch (load_int()) {
    case 0:
      return false;
    case 1:
      return true;
    default:
      throw Error::Exception("Invalid optional type detected");
  }
}

std::vector<std::uint8_t> Deserializer::load_vector() {
  const int count = load_count();
  jump_n_items(1);
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < count; ++i) bytes.push_back(static_cast<std::uint8_t>(load_int()));
  return bytes;
}

std::vector<std::uint8_t> Deserializer::load_payload(bool& seen) {
  if (!seen) jump_n_items(2);
  seen = true;
  return load_vector();
}

File::Hex Deserializer::load_hex() {
  return File::Hex{load_payload(seen.hex)};
}

File::Xip Deserializer::load_xip() {
  return File::Xip{load_payload(seen.xip)};
}

File::Img Deserializer::load_img() {
  return File::Img{load_payload(seen.img)};
}

File::IS2023 Deserializer::load_IS2023() {
  if (!seen.is2023) jump_n_items(2);
  const auto offset = static_cast<std::uint16_t>(load_int());
  File::IS2023 firmware{offset, load_vector()};
  seen.is2023 = true;
  return firmware;
}

TBF::Entry Deserializer::load_entry() {
  if (!seen.entry) jump_n_items(4);
  const TBF::Entry::Address address{static_cast<std::uint16_t>(load_int())};
  TBF::Entry entry{address, load_img()};
  seen.entry = true;
  return entry;
}

TBF::Table Deserializer::load_tbf() {
  if (!seen.tbf) jump_n_items(4);
  boost::optional<File::Hex> hex;
  if (load_optional()) hex = load_hex();
  if (!seen.tbf) jump_n_items(2);
  const int count = load_count();
  jump_n_items(1);
  std::vector<TBF::Entry> entries;
  for (int i = 0; i != count; ++i) entries.push_back(load_entry());
  // The order that inserting each entry with TBF::Table::AddBinEntry gives, in n log n time
  // rather than quadratic: ascending addresses, equal ones in file order.
  std::stable_sort(entries.begin(), entries.end(), [](const TBF::Entry& a, const TBF::Entry& b) {
    return a.GetAddress().value() < b.GetAddress().value();
  });
  seen.tbf = true;
  return TBF::Table{std::move(entries), std::move(hex)};
}

TBF::Table Deserializer::load_tbf_file() {
  load_tbf_header();
  return load_tbf();
}

void Deserializer::load_metadatum(TCF::Metadata* map) {
  load_int();  // the key length: checked as a number, the key is the whole token
  std::string key = load_next_item();
  std::vector<std::uint8_t> value = load_vector();
  map->emplace(std::move(key), std::move(value));
}

TCF::Metadata Deserializer::load_metadata() {
  jump_n_items(2);
  const auto count = static_cast<std::uint16_t>(load_int());
  jump_n_items(4);
  TCF::Metadata metadata;
  for (unsigned i = 0; i < count; ++i) load_metadatum(&metadata);
  return metadata;
}

std::string Deserializer::cut_label(const std::string& text, int length) {
  if (length <= 0) return {};
  return text.substr(0, static_cast<std::size_t>(length));
}

TCF::FirmwareMap Deserializer::load_firmware() {
  const int count = std::stoi(tcfCount);
  if (count > kMaxTcfEntries) throw Error::Exception("Too many entries");
  TCF::FirmwareMap entries;
  for (std::uint16_t i = 0; static_cast<int>(i) < count; ++i) {
    const std::string lengthToken = load_next_item();
    const std::string labelToken = load_next_item();
    std::string label = cut_label(labelToken, std::stoi(lengthToken));
    if (i == 0) jump_n_items(4);
    const auto type = static_cast<std::uint16_t>(load_int());
    TCF::Firmware firmware;
    switch (type) {
      case 0:
        firmware = load_hex();
        break;
      case 1:
        firmware = load_xip();
        break;
      case 2:
        firmware = load_img();
        break;
      case 3:
        firmware = load_tbf();
        break;
      case 4:
        firmware = load_IS2023();
        break;
      default:
        continue;  // no payload: the next token is the next entry's label length
    }
    entries.emplace(std::move(label), TCF::FirmwareFile{std::move(firmware)});
  }
  return entries;
}

TCF::Table Deserializer::load_tcf() {
  TCF::FirmwareMap firmware = load_firmware();
  TCF::Metadata metadata = load_metadata();
  return TCF::Table{std::move(firmware), std::move(metadata)};
}

TCF::Table Deserializer::load_tcf_file() {
  load_tcf_header();
  return load_tcf();
}

}  // namespace qmx
