#pragma once
#include <istream>
#include <ostream>
#include <vector>

#include <boost/optional.hpp>

#include "file/CommonFirmwareFile.h"
#include "file/HexFirmwareFile.h"
#include "file/ImgFirmwareFile.h"

// What a board's EEPROM should hold: an optional hex program for the boot monitor and any
// number of EEPROM images, each at its EEPROM byte address.
namespace TBF {

namespace deprecated {
class Entry;
class Table;
}  // namespace deprecated

// Every code reads as overlapping entries; the system makes it with code 1.
class SpecificError final : public qmx::Error::Code {
 public:
  using Code::Code;
  const std::string& msg() const override;
};

class Error final : public qmx::Error::Variant<qmx::File::Common::Error, qmx::File::Hex::Error,
                                               qmx::File::Img::Error, SpecificError> {
 public:
  using Variant::Variant;
};
using Check = qmx::Error::Result<qmx::Error::None, Error>;

// One EEPROM image at its address.
class Entry {
 public:
  using Address = qmx::File::Img::Address;

  Entry(Address address, const qmx::File::Img& image) : address_(address), image_(image) {}
  // The same address; the data bytes become the image.
  explicit Entry(const deprecated::Entry& old);

  Address GetAddress() const { return address_; }
  const qmx::File::Img& GetImage() const { return image_; }

 private:
  Address address_;
  qmx::File::Img image_;
};

class Table {
 public:
  // The entries in the given order.
  explicit Table(std::vector<Entry> entries) : entries_(std::move(entries)) {}
  Table(std::vector<Entry> entries, qmx::File::Hex hex)
      : entries_(std::move(entries)), hex_(std::move(hex)) {}
  Table(std::vector<Entry> entries, boost::optional<qmx::File::Hex> hex)
      : entries_(std::move(entries)), hex_(std::move(hex)) {}
  // Copies the hex program and converts the entries in their stored order, unsorted.
  explicit Table(const deprecated::Table& old);

  // Inserts e before the first entry with a greater address, after any with the same one.
  // Always succeeds.
  Check AddBinEntry(const Entry& e);

  const std::vector<Entry>& GetBinaryEntries() const { return entries_; }
  const boost::optional<qmx::File::Hex>& MaybeGetHexEntry() const { return hex_; }

  // The hex program and every image valid, and each entry starting at or after the end of the
  // one before it (the first one at or after the end of the hex program's EEPROM area).
  Check IsValid() const;

  // Writes the token form; the stream's state after writing is the caller's to examine.
  void ToStream(std::ostream& os) const;

 private:
  std::vector<Entry> entries_;
  boost::optional<qmx::File::Hex> hex_;
};

// Reads the token form, else the older archive form, and validates the table. Never throws:
// error 1 of qmx::File::Common::Error for an unreadable stream, 2 for contents that neither
// form reads, else the validation error.
qmx::Result<Table, Error> FromStream(std::istream& is);

// The longest file FromFile reads. A table holds at most 32768 bytes of hex program and 65536
// bytes of images, which may neither overlap nor pass the end of the EEPROM; both forms write a
// byte as at most three digits and a space, so the fullest table takes some 384 KiB of text.
// This leaves well over twice that.
inline constexpr std::size_t kMaxFileSize = 1024 * 1024;

// FromStream of the regular file at path; Cannot open file for anything else, Invalid file
// format beyond kMaxFileSize bytes, unread.
qmx::Result<Table, Error> FromFile(const std::string& path);

}  // namespace TBF
