#pragma once
#include <istream>
#include <ostream>
#include <string>
#include <unordered_map>

#include <boost/variant.hpp>

#include "file/CommonFirmwareFile.h"
#include "file/HexFirmwareFile.h"
#include "file/IS2023FirmwareFile.h"
#include "file/ImgFirmwareFile.h"
#include "file/TBF.h"
#include "file/XipFirmwareFile.h"

// A container of firmware files under text labels, with named metadata byte strings.
namespace TCF {

namespace deprecated {
class FirmwareFile;
class Table;
}  // namespace deprecated

// Every code reads as a bundled file of the wrong type; the system makes it with code 1.
class SpecificError final : public qmx::Error::Code {
 public:
  using Code::Code;
  const std::string& msg() const override;
};

// The error in which every file, container and image-builder failure reaches the front end.
class Error final
    : public qmx::Error::Variant<qmx::File::Common::Error, qmx::File::Hex::Error,
                                 qmx::File::Img::Error, qmx::File::Xip::Error,
                                 qmx::File::IS2023::Error, TBF::Error, SpecificError> {
 public:
  using Variant::Variant;
};
using Check = qmx::Error::Result<qmx::Error::None, Error>;

// The firmware variant; its alternative index is the type index of the token form.
using Firmware =
    boost::variant<qmx::File::Hex, qmx::File::Xip, qmx::File::Img, TBF::Table, qmx::File::IS2023>;

class FirmwareFile {
 public:
  FirmwareFile() = default;
  explicit FirmwareFile(Firmware file) : firmware(std::move(file)) {}
  // By the older type: 1 hex, 2 xip, 3 img, 4 TBF table. Throws boost::bad_get when the payload
  // is not of that type and qmx::Error::Exception for any other type.
  explicit FirmwareFile(const deprecated::FirmwareFile& old);

  // The held file's own validation; an img is validated at address 0, an xip always passes.
  Check IsValid() const;

  Firmware firmware;
};

using FirmwareMap = std::unordered_map<std::string, FirmwareFile>;
using Metadata = std::unordered_map<std::string, qmx::File::Bytes>;

class Table {
 public:
  explicit Table(FirmwareMap firmware) : firmware_(std::move(firmware)) {}
  Table(FirmwareMap firmware, Metadata metadata)
      : firmware_(std::move(firmware)), metadata_(std::move(metadata)) {}
  // Copies the metadata and converts every entry; throws as the entry conversion does.
  explicit Table(const deprecated::Table& old);

  const FirmwareMap& GetFirmwareEntries() const { return firmware_; }
  const Metadata& GetMetadata() const { return metadata_; }

  // The first failing entry's error, in the map's order; labels and metadata are not examined.
  Check IsValid() const;

  // Writes the token form; the stream's state after writing is the caller's to examine.
  void ToStream(std::ostream& os) const;

 private:
  FirmwareMap firmware_;
  Metadata metadata_;
};

// Reads the token form, else the older archive form, and validates the table. Never throws:
// error 1 of qmx::File::Common::Error for an unreadable stream, 2 for contents that neither form
// reads (a token-form file that fails validation is tried as the older form), else the
// validation error of the older form.
qmx::Result<Table, Error> FromStream(std::istream& is);

// The longest file FromFile reads. An entry holds what one download takes: at most 32768
// bytes of hex program, 65536 of img image, 98304 in a TBF table, 8192 of IS2023 firmware, or
// an xip container of some 32 KiB spaces and raw slots for an image of at most 65536 bytes.
// The token form writes a byte as at most three digits and a space, so 8 MiB of text carries
// 2 MiB of payload: a bundle of some twenty of the fullest entries. The tables read from it
// hold up to some ten times the text (an empty TBF entry of six characters, for one).
inline constexpr std::size_t kMaxFileSize = 8 * 1024 * 1024;

// FromStream of the regular file at path; Cannot open file for anything else, Invalid file
// format beyond kMaxFileSize bytes, unread.
qmx::Result<Table, Error> FromFile(const std::string& path);

}  // namespace TCF
