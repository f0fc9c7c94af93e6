#include "file/TBF.h"

#include <algorithm>
#include <exception>

#include "file/ArchiveLoad.h"
#include "file/InputFile.h"
#include "file/TBFDeprecated.h"
#include "file/deserializer.h"
#include "file/serializer.h"

namespace TBF {
namespace {

boost::optional<Table> ReadCurrentForm(std::istream& is, std::streampos start) {
  try {
    is.clear();
    is.seekg(start);
    return qmx::Deserializer{is}.load_tbf_file();
  } catch (const std::exception&) {
    return boost::none;
  }
}

}  // namespace

Entry::Entry(const deprecated::Entry& old)
    : address_(old.GetAddress()), image_(qmx::File::Img{old.GetData()}) {}

Table::Table(const deprecated::Table& old) : hex_(old.MaybeGetHexEntry()) {
  for (const deprecated::Entry& entry : old.GetBinaryEntries()) entries_.emplace_back(entry);
}

Check Table::AddBinEntry(const Entry& e) {
  const auto greater = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& entry) {
    return entry.GetAddress().value() > e.GetAddress().value();
  });
  entries_.insert(greater, e);
  return qmx::Error::None{};
}

Check Table::IsValid() const {
  std::size_t end = 0;
  if (hex_) {
    if (const auto valid = hex_->IsValid(); valid.failed()) return Error{std::get<1>(valid)};
    end = hex_->EepromSize();
  }
  for (const Entry& entry : entries_) {
    const auto address = entry.GetAddress();
    if (const auto valid = entry.GetImage().IsValid(address); valid.failed()) {
      return Error{std::get<1>(valid)};
    }
    if (address.value() < end) return Error{SpecificError{1}};
    end = address.value() + entry.GetImage().GetRaw().size();
  }
  return qmx::Error::None{};
}

void Table::ToStream(std::ostream& os) const {
  qmx::Serializer{os}.save_tbf_file(*this);
}

qmx::Result<Table, Error> FromStream(std::istream& is) {
  if (!is.good()) return Error{qmx::File::Common::Error{1}};
  // Both forms may be tried, from the same start.
  const std::streampos start = is.tellg();
  if (start == std::streampos(-1)) return Error{qmx::File::Common::Error{1}};
  const bool olderFirst = qmx::detail::PrefersOlderForm(is, start);
  const auto readOlder = qmx::detail::ReadOlderForm<Table, deprecated::Table>;
  auto table = olderFirst ? readOlder(is, start) : ReadCurrentForm(is, start);
  if (!table) table = olderFirst ? ReadCurrentForm(is, start) : readOlder(is, start);
  if (!table) return Error{qmx::File::Common::Error{2}};
  if (const Check valid = table->IsValid(); valid.failed()) return std::get<1>(valid);
  return std::move(*table);
}

qmx::Result<Table, Error> FromFile(const std::string& path) {
  return qmx::File::ReadInputFile(path, kMaxFileSize,
                                  Error{qmx::File::Common::Error::kInvalidFormat}, FromStream);
}

}  // namespace TBF
