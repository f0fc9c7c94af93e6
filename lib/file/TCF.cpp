#include "file/TCF.h"

#include <exception>

#include "file/ArchiveLoad.h"
#include "file/InputFile.h"
#include "file/TCFDeprecated.h"
#include "file/deserializer.h"
#include "file/serializer.h"

namespace TCF {
namespace {

struct Validate : boost::static_visitor<Check> {
  template <class Result>
  static Check Wrap(const Result& valid) {
    if (valid.failed()) return Error{std::get<1>(valid)};
    return qmx::Error::None{};
  }
  Check operator()(const qmx::File::Hex& hex) const { return Wrap(hex.IsValid()); }
  Check operator()(const qmx::File::Xip&) const { return qmx::Error::None{}; }
  Check operator()(const qmx::File::Img& img) const {
    return Wrap(img.IsValid(qmx::File::Img::Address{0}));
  }
  Check operator()(const TBF::Table& table) const { return Wrap(table.IsValid()); }
  Check operator()(const qmx::File::IS2023& firmware) const { return Wrap(firmware.IsValid()); }
};

Firmware Convert(const deprecated::FirmwareFile& old) {
  const deprecated::Payload& payload = old.GetVariant();
  switch (old.GetFirmwareType()) {
    case deprecated::FirmwareFile::kHex:
      return boost::get<qmx::File::Hex>(payload);
    case deprecated::FirmwareFile::kXip:
      return qmx::File::Xip{boost::get<qmx::File::Bytes>(payload)};
    case deprecated::FirmwareFile::kImg:
      return qmx::File::Img{boost::get<qmx::File::Bytes>(payload)};
    case deprecated::FirmwareFile::kTbf:
      return TBF::Table{boost::get<TBF::deprecated::Table>(payload)};
    default:
      throw qmx::Error::Exception("");
  }
}

// The table of the token form when it reads and validates.
boost::optional<Table> ReadCurrentForm(std::istream& is, std::streampos start) {
  try {
    is.clear();
    is.seekg(start);
    Table table = qmx::Deserializer{is}.load_tcf_file();
    if (!table.IsValid().failed()) return table;
  } catch (const std::exception&) {
  }
  return boost::none;
}

}  // namespace

FirmwareFile::FirmwareFile(const deprecated::FirmwareFile& old) : firmware(Convert(old)) {}

Check FirmwareFile::IsValid() const {
  return boost::apply_visitor(Validate{}, firmware);
}

Table::Table(const deprecated::Table& old) : metadata_(old.GetMetadata()) {
  for (const auto& [label, file] : old.GetFirmwareEntries()) {
    firmware_.emplace(label, FirmwareFile{file});
  }
}

Check Table::IsValid() const {
  for (const auto& [label, file] : firmware_) {
    if (Check valid = file.IsValid(); valid.failed()) return valid;
  }
  return qmx::Error::None{};
}

void Table::ToStream(std::ostream& os) const {
  qmx::Serializer{os}.save_tcf_file(*this);
}

qmx::Result<Table, Error> FromStream(std::istream& is) {
  if (!is.good()) return Error{qmx::File::Common::Error{1}};
  // Both forms may be tried, from the same start.
  const std::streampos start = is.tellg();
  if (start == std::streampos(-1)) return Error{qmx::File::Common::Error{1}};
  const bool olderFirst = qmx::detail::PrefersOlderForm(is, start);
  if (!olderFirst) {
    if (auto table = ReadCurrentForm(is, start)) return std::move(*table);
  }
  if (auto old = qmx::detail::ReadOlderForm<Table, deprecated::Table>(is, start)) {
    if (const Check valid = old->IsValid(); valid.failed()) return std::get<1>(valid);
    return std::move(*old);
  }
  if (olderFirst) {
    if (auto table = ReadCurrentForm(is, start)) return std::move(*table);
  }
  return Error{qmx::File::Common::Error{2}};
}

qmx::Result<Table, Error> FromFile(const std::string& path) {
  return qmx::File::ReadInputFile(path, kMaxFileSize,
                                  Error{qmx::File::Common::Error::kInvalidFormat}, FromStream);
}

}  // namespace TCF
