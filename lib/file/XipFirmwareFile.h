#pragma once
#include "file/HWID.h"
#include "file/ImgFirmwareFile.h"
#include "ruvo/RuvoError.h"

namespace qmx::File {

// An execute-in-place container, converted into an img image bound to a HWID. Its bytes are not
// checked.
class Xip {
 public:
  class Error final : public qmx::Error::Variant<Img::Error, Ruvo::Error> {
   public:
    using Variant::Variant;
  };

  Xip() = default;
  explicit Xip(Bytes raw) : raw_(std::move(raw)) {}

  // The longest container whose every word the image builder reads: the magic and size
  // (4 words), the last slot index, 257 slot words, 257 slots of at most 0x7FFF words each and
  // the check word.
  static constexpr std::size_t kMaxFileSize = 2 * (4 + 1 + 257 + 257 * 0x7FFF + 1);

  // Reads the whole stream; an empty stream is an empty container.
  static qmx::Result<Xip, Common::Error> FromStream(std::istream& is);
  // FromStream of the regular file at path; Cannot open file for anything else, Invalid file
  // format beyond kMaxFileSize bytes, unread.
  static qmx::Result<Xip, Common::Error> FromFile(const std::string& path);

  // The img image that the boot monitor loads, bound to hwid, padded to whole pages of pageSize
  // bytes (4096 for flash, 64 otherwise), and valid at address 0. The container is unchanged.
  qmx::Result<Img, Error> ToImg(const HWID::Raw& hwid, int pageSize) const;

  const Bytes& GetRaw() const { return raw_; }

 private:
  Bytes raw_;
};

}  // namespace qmx::File
