#pragma once
// The TBF classes of the older archive form, read only to be converted into the current ones.
// Their serialize functions fix the stored fields, their order and the class versions; saving
// is Boost's own (tests write fixtures with it), loading reads the same layout with the bounded
// loaders of ArchiveLoad.h.

#include <cstdint>
#include <vector>

#include <boost/optional.hpp>
#include <boost/serialization/optional.hpp>
#include <boost/serialization/split_free.hpp>
#include <boost/serialization/split_member.hpp>
#include <boost/serialization/vector.hpp>

#include "file/ArchiveLoad.h"
#include "file/HexFirmwareFile.h"
#include "file/ImgFirmwareFile.h"

namespace TBF::deprecated {

class Entry {
 public:
  using Address = qmx::File::Img::Address;

  Entry() = default;
  Entry(Address address, qmx::File::Bytes data) : address_(address), data_(std::move(data)) {}

  Address GetAddress() const { return address_; }
  const qmx::File::Bytes& GetData() const { return data_; }

 private:
  friend class boost::serialization::access;
  template <class Archive>
  void save(Archive& ar, unsigned /*version*/) const {
    ar << address_;
    ar << data_;
  }
  template <class Archive>
  void load(Archive& ar, unsigned /*version*/) {
    ar >> address_;
    qmx::detail::LoadBytes(ar, data_);
  }
  BOOST_SERIALIZATION_SPLIT_MEMBER()

  Address address_;
  qmx::File::Bytes data_;
};

class Table {
 public:
  Table() = default;
  Table(std::vector<Entry> entries, boost::optional<qmx::File::Hex> hex)
      : entries_(std::move(entries)), hex_(std::move(hex)) {}

  const std::vector<Entry>& GetBinaryEntries() const { return entries_; }
  const boost::optional<qmx::File::Hex>& MaybeGetHexEntry() const { return hex_; }

 private:
  friend class boost::serialization::access;
  template <class Archive>
  void save(Archive& ar, unsigned /*version*/) const {
    ar << hex_;
    ar << entries_;
  }
  template <class Archive>
  void load(Archive& ar, unsigned /*version*/) {
    ar >> hex_;
    qmx::detail::LoadSequence(ar, entries_);
  }
  BOOST_SERIALIZATION_SPLIT_MEMBER()

  std::vector<Entry> entries_;
  boost::optional<qmx::File::Hex> hex_;
};

}  // namespace TBF::deprecated

namespace boost::serialization {

// An EEPROM address: one unsigned 16-bit integer.
template <class Archive>
void save(Archive& ar, const qmx::File::Img::Address& address, unsigned /*version*/) {
  const std::uint16_t value = address.value();
  ar << value;
}
template <class Archive>
void load(Archive& ar, qmx::File::Img::Address& address, unsigned /*version*/) {
  std::uint16_t value;
  ar >> value;
  address = qmx::File::Img::Address{value};
}
template <class Archive>
void serialize(Archive& ar, qmx::File::Img::Address& address, unsigned version) {
  split_free(ar, address, version);
}

// A hex image: its bytes.
template <class Archive>
void save(Archive& ar, const qmx::File::Hex& hex, unsigned /*version*/) {
  ar << hex.GetRaw();
}
template <class Archive>
void load(Archive& ar, qmx::File::Hex& hex, unsigned /*version*/) {
  qmx::File::Bytes raw;
  qmx::detail::LoadBytes(ar, raw);
  hex = qmx::File::Hex{std::move(raw)};
}
template <class Archive>
void serialize(Archive& ar, qmx::File::Hex& hex, unsigned version) {
  split_free(ar, hex, version);
}

}  // namespace boost::serialization
