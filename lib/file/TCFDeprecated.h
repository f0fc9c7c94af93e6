#pragma once
// The TCF classes of the older archive form, read only to be converted into the current ones
// (see TBFDeprecated.h for how they are stored and loaded).

#include <string>
#include <unordered_map>
#include <vector>

#include <boost/serialization/string.hpp>
#include <boost/serialization/unordered_map.hpp>
#include <boost/serialization/utility.hpp>
#include <boost/serialization/variant.hpp>
#include <boost/serialization/version.hpp>
#include <boost/variant.hpp>

#include "file/TBFDeprecated.h"

namespace TCF::deprecated {

// The payload of an older entry: a hex image, the bytes of an xip or img, or a TBF table.
using Payload = boost::variant<qmx::File::Hex, qmx::File::Bytes, TBF::deprecated::Table>;

// Stands in the archive for a Payload (stored with class information, tracked).
class PayloadLoad {
 public:
  explicit PayloadLoad(Payload& payload) : payload_(payload) {}
  template <class Archive>
  void serialize(Archive& ar, unsigned /*version*/) {
    int which;
    ar >> which;
    switch (which) {
      case 0:
        payload_ = Load<qmx::File::Hex>(ar);
        break;
      case 1:
        payload_ = Load<qmx::File::Bytes>(ar);
        break;
      case 2:
        payload_ = Load<TBF::deprecated::Table>(ar);
        break;
      default:
        boost::serialization::throw_exception(boost::archive::archive_exception(
            boost::archive::archive_exception::unsupported_version));
    }
  }

 private:
  template <class T, class Archive>
  static T Load(Archive& ar) {
    T value;
    qmx::detail::LoadValue(ar, value);
    return value;
  }

  Payload& payload_;
};

class FirmwareFile {
 public:
  // 1 hex, 2 xip, 3 img, 4 TBF table.
  enum Type : int { kHex = 1, kXip = 2, kImg = 3, kTbf = 4 };

  FirmwareFile() = default;
  FirmwareFile(int type, Payload payload) : type_(type), payload_(std::move(payload)) {}

  int GetFirmwareType() const { return type_; }
  const Payload& GetVariant() const { return payload_; }

 private:
  friend class boost::serialization::access;
  template <class Archive>
  void save(Archive& ar, unsigned /*version*/) const {
    ar << type_;
    ar << payload_;
  }
  template <class Archive>
  void load(Archive& ar, unsigned /*version*/) {
    ar >> type_;
    PayloadLoad load{payload_};
    ar >> load;
  }
  BOOST_SERIALIZATION_SPLIT_MEMBER()

  int type_ = 0;
  Payload payload_;
};

using FirmwareMap = std::unordered_map<std::string, FirmwareFile>;
using Metadata = std::unordered_map<std::string, qmx::File::Bytes>;

class Table {
 public:
  Table() = default;
  Table(FirmwareMap firmware, Metadata metadata)
      : firmware_(std::move(firmware)), metadata_(std::move(metadata)) {}

  const FirmwareMap& GetFirmwareEntries() const { return firmware_; }
  const Metadata& GetMetadata() const { return metadata_; }

 private:
  friend class boost::serialization::access;
  template <class Archive>
  void save(Archive& ar, unsigned /*version*/) const {
    ar << firmware_;
    ar << metadata_;
  }
  template <class Archive>
  void load(Archive& ar, unsigned /*version*/) {
    qmx::detail::LoadMap(ar, firmware_);
    qmx::detail::LoadMap(ar, metadata_);
  }
  BOOST_SERIALIZATION_SPLIT_MEMBER()

  FirmwareMap firmware_;
  Metadata metadata_;
};

}  // namespace TCF::deprecated

BOOST_CLASS_VERSION(TCF::deprecated::Table, 1)
BOOST_CLASS_TRACKING(TCF::deprecated::PayloadLoad, boost::serialization::track_always)
