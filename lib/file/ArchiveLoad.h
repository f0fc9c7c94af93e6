#pragma once
// Loading of the older archive form (Boost.Serialization text archives) from untrusted files.
// Boost's own loaders of strings and standard containers size their storage by the counts
// written in the file; the loaders here read the very same layout but grow their containers
// only by the items actually read, so a hostile count never sizes an allocation, and every
// loop ends at the end of the input, where the archive throws.

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <boost/archive/archive_exception.hpp>
#include <boost/archive/text_iarchive.hpp>
#include <boost/optional.hpp>
#include <boost/serialization/collection_size_type.hpp>
#include <boost/serialization/item_version_type.hpp>
#include <boost/serialization/library_version_type.hpp>
#include <boost/serialization/throw_exception.hpp>

namespace qmx::detail {

// The stream an archive reads, registered with it so that strings can be read unsized.
struct ArchiveInput {
  std::istream* stream = nullptr;
};
inline char kArchiveInputId;

template <class Archive>
ArchiveInput& GetArchiveInput(Archive& ar) {
  return ar.template get_helper<ArchiveInput>(&kArchiveInputId);
}

[[noreturn]] inline void ThrowArchiveError() {
  boost::serialization::throw_exception(
      boost::archive::archive_exception(boost::archive::archive_exception::input_stream_error));
}

// The count and, from library version 4, the item version that open a stored collection.
template <class Archive>
std::size_t LoadCollectionCount(Archive& ar) {
  boost::serialization::collection_size_type count;
  ar >> count;
  if (boost::serialization::library_version_type(3) < ar.get_library_version()) {
    boost::serialization::item_version_type itemVersion(0);
    ar >> itemVersion;
  }
  return count;
}

// A std::vector of bytes (stored without class information).
template <class Archive>
void LoadBytes(Archive& ar, std::vector<std::uint8_t>& bytes) {
  const std::size_t count = LoadCollectionCount(ar);
  bytes.clear();
  for (std::size_t i = 0; i < count; ++i) {
    unsigned char byte;
    ar >> byte;
    bytes.push_back(byte);
  }
}

// A std::string: its length, one separator, then the characters as they stand.
template <class Archive>
void LoadString(Archive& ar, std::string& text) {
  std::istream* is = GetArchiveInput(ar).stream;
  if (is == nullptr) ThrowArchiveError();
  std::size_t length;
  ar >> length;
  is->get();
  text.clear();
  char chunk[256];
  while (length > 0) {
    const std::size_t n = std::min(length, sizeof chunk);
    if (!is->read(chunk, static_cast<std::streamsize>(n))) ThrowArchiveError();
    text.append(chunk, n);
    length -= n;
  }
}

template <class Archive, class T>
void LoadValue(Archive& ar, T& value) {
  ar >> value;
}
template <class Archive>
void LoadValue(Archive& ar, std::vector<std::uint8_t>& value) {
  LoadBytes(ar, value);
}

// Stands in the archive for a std::vector<T> of class type T (stored with class information).
template <class T>
class SequenceLoad {
 public:
  explicit SequenceLoad(std::vector<T>& items) : items_(items) {}
  template <class Archive>
  void serialize(Archive& ar, unsigned /*version*/) {
    const std::size_t count = LoadCollectionCount(ar);
    items_.clear();
    for (std::size_t i = 0; i < count; ++i) {
      T item;
      ar >> item;
      items_.push_back(std::move(item));
    }
  }

 private:
  std::vector<T>& items_;
};

// Stands in the archive for a std::pair<const std::string, V>, an item of a map.
template <class V>
struct MapItemLoad {
  std::string key;
  V value;
  template <class Archive>
  void serialize(Archive& ar, unsigned /*version*/) {
    LoadString(ar, key);
    LoadValue(ar, value);
  }
};

// Stands in the archive for a std::unordered_map<std::string, V>; of equal keys the first
// stays. The stored bucket count is read and ignored.
template <class V>
class MapLoad {
 public:
  explicit MapLoad(std::unordered_map<std::string, V>& map) : map_(map) {}
  template <class Archive>
  void serialize(Archive& ar, unsigned /*version*/) {
    boost::serialization::collection_size_type count;
    boost::serialization::collection_size_type bucketCount;
    ar >> count;
    ar >> bucketCount;
    if (boost::serialization::library_version_type(3) < ar.get_library_version()) {
      boost::serialization::item_version_type itemVersion(0);
      ar >> itemVersion;
    }
    map_.clear();
    for (std::size_t i = 0; i < count; ++i) {
      MapItemLoad<V> item;
      ar >> item;
      map_.emplace(std::move(item.key), std::move(item.value));
    }
  }

 private:
  std::unordered_map<std::string, V>& map_;
};

template <class Archive, class T>
void LoadSequence(Archive& ar, std::vector<T>& items) {
  SequenceLoad<T> load{items};
  ar >> load;
}

template <class Archive, class V>
void LoadMap(Archive& ar, std::unordered_map<std::string, V>& map) {
  MapLoad<V> load{map};
  ar >> load;
}

// Whether the older form is to be tried before the token form. The token form's writer puts
// "0" as the third header token where an archive holds Boost's library version, which is never
// 0; the token reader reads many archives without an error but into a wrong table, so an input
// whose third token is anything but "0" is tried as an archive first. Leaves is at start.
inline bool PrefersOlderForm(std::istream& is, std::streampos start) {
  std::string token;
  for (int i = 0; i < 3; ++i) std::getline(is, token, ' ');
  const bool older = !is.fail() && token != "0";
  is.clear();
  is.seekg(start);
  return older;
}

// Loads one object of the older form from position start of is, with a text archive opened
// with flags 0; throws std::exception for input it cannot read. The archive's own header read
// sizes a string by the first number of the input, so anything but the signature's length
// (22) is refused before the archive is opened.
template <class T>
void LoadArchive(std::istream& is, std::streampos start, T& object) {
  is.clear();
  is.seekg(start);
  std::size_t signatureLength = 0;
  if (!(is >> signatureLength) || signatureLength != 22) {
    boost::serialization::throw_exception(
        boost::archive::archive_exception(boost::archive::archive_exception::invalid_signature));
  }
  is.seekg(start);
  boost::archive::text_iarchive ar(is, 0);
  GetArchiveInput(ar).stream = &is;
  ar >> object;
}

// Reads an older-form archive of Older from start and converts it to Current;
// none when the input is not such an archive.
template <class Current, class Older>
boost::optional<Current> ReadOlderForm(std::istream& is, std::streampos start) {
  try {
    Older old;
    LoadArchive(is, start, old);
    return Current{old};
  } catch (const std::exception&) {
    return boost::none;
  }
}

}  // namespace qmx::detail
