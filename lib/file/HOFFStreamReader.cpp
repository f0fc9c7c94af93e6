// HOFF::FromStream: the JSON parser's events turned into a HOFF::File as they
// come, without a document of the text. The result and its error are those of
// the document conversions (from_json) of the whole value: a key given twice
// counts with its last value, unknown keys are ignored, and the first failure
// in the conversions' order of fields (not the order of the text) decides the
// code.
#include <cstdint>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <streambuf>
#include <string>
#include <vector>

#include "file/HOFF.h"
#include "file/HOFFNumber.h"

namespace HOFF {
namespace {

using json = nlohmann::json;
using Traits = std::char_traits<char>;

// The characters a parse may take from a stream buffer: at most left more,
// each taken only when the parser asks for it, so that what follows the value
// stays in the stream.
struct CharSource {
  std::streambuf* buffer;
  std::size_t left;
  bool met_end = false;  // the buffer was found without more characters

  // Whether the buffer holds another character.
  bool more() {
    if (buffer != nullptr && !Traits::eq_int_type(buffer->sgetc(), Traits::eof())) return true;
    met_end = true;
    return false;
  }
  bool exhausted() { return left == 0 || !more(); }
};

// An input iterator over a CharSource, for the parser's iterator input. Every
// iterator at the source's end equals the default one.
class SourceIterator {
 public:
  using iterator_category = std::input_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = char;

  SourceIterator() = default;
  explicit SourceIterator(CharSource* source) : source_(source) {}

  char operator*() const { return Traits::to_char_type(source_->buffer->sgetc()); }
  SourceIterator& operator++() {
    source_->buffer->sbumpc();
    --source_->left;
    return *this;
  }
  bool operator==(const SourceIterator& other) const { return AtEnd() == other.AtEnd(); }
  bool operator!=(const SourceIterator& other) const { return !(*this == other); }

 private:
  bool AtEnd() const { return source_ == nullptr || source_->exhausted(); }

  CharSource* source_ = nullptr;
};

// How one field converts: it does, its value has the wrong JSON type, or its
// key is absent.
enum class Verdict : std::uint8_t { kConverts, kWrongType, kAbsent };

Error ErrorOf(Verdict verdict) {
  return verdict == Verdict::kAbsent ? Error::kMissingField : Error::kParseError;
}

// The first of the fields, in their conversion order, that does not convert.
Verdict FirstFailure(std::initializer_list<Verdict> fields) {
  for (Verdict field : fields) {
    if (field != Verdict::kConverts) return field;
  }
  return Verdict::kConverts;
}

// An array's verdict takes the first failure among its elements.
void NoteElement(Verdict& array, Verdict element) {
  if (array == Verdict::kConverts) array = element;
}

// One scalar of the text as the conversions see it: null, a number (a
// boolean counts as 0 or 1; integers kept modulo 2^64, which wraps to the
// narrower fields as the library's cast does), a floating number or a string.
struct Scalar {
  enum class Kind { kNull, kInteger, kFloat, kString } kind = Kind::kNull;
  std::uint64_t integer = 0;
  double real = 0;
  std::string* text = nullptr;
};

template <typename Unsigned>
std::optional<Unsigned> AsUnsigned(const Scalar& scalar) {
  if (scalar.kind == Scalar::Kind::kInteger) return static_cast<Unsigned>(scalar.integer);
  if (scalar.kind == Scalar::Kind::kFloat && detail::FloatFits<Unsigned>(scalar.real))
    return static_cast<Unsigned>(scalar.real);
  return std::nullopt;
}

// What a value of the text is read as, from the container it stands in and
// its key.
enum class Target : std::uint8_t {
  kTop,
  kIgnored,
  kVersion,
  kEntries,
  kMetadata,
  kEntry,
  kEntryName,
  kEntryTarget,
  kSections,
  kSection,
  kSectionName,
  kSectionOffset,
  kBytes,
  kByte,
  kMetadataValue,
};

// The containers being read whose contents count; ignored values and values
// of the wrong type are skipped, whatever they hold.
enum class Frame : std::uint8_t { kFile, kEntries, kEntry, kSections, kSection, kBytes, kMetadata };

struct SectionRead {
  Section section;
  Verdict name = Verdict::kAbsent;
  Verdict offset = Verdict::kAbsent;
  Verdict bytes = Verdict::kAbsent;
};

struct EntryRead {
  Entry entry;
  Verdict name = Verdict::kAbsent;
  Verdict target = Verdict::kAbsent;
  Verdict sections = Verdict::kAbsent;
};

// The parser's event handler (the library's SAX interface).
class FileEvents {
 public:
  using number_integer_t = json::number_integer_t;
  using number_unsigned_t = json::number_unsigned_t;
  using number_float_t = json::number_float_t;
  using string_t = json::string_t;
  using binary_t = json::binary_t;

  bool null() { return OnScalar(Scalar{}); }
  bool boolean(bool value) { return OnInteger(value ? 1 : 0); }
  bool number_integer(number_integer_t value) {
    return OnInteger(static_cast<std::uint64_t>(value));
  }
  bool number_unsigned(number_unsigned_t value) { return OnInteger(value); }
  bool number_float(number_float_t value, const string_t&) {
    Scalar scalar;
    scalar.kind = Scalar::Kind::kFloat;
    scalar.real = value;
    return OnScalar(scalar);
  }
  bool string(string_t& value) {
    Scalar scalar;
    scalar.kind = Scalar::Kind::kString;
    scalar.text = &value;
    return OnScalar(scalar);
  }
  bool binary(binary_t&) { return OnScalar(Scalar{}); }  // never in JSON text

  bool start_object(std::size_t) {
    if (skipping_ > 0) return Nest();
    const Target target = NextTarget();
    switch (target) {
      case Target::kTop:
        top_ = Verdict::kConverts;
        return Open(Frame::kFile);
      case Target::kMetadata:
        metadata_ = Verdict::kConverts;
        file_.metadata.clear();
        not_text_.clear();
        return Open(Frame::kMetadata);
      case Target::kEntry:
        entry_ = EntryRead{};
        return Open(Frame::kEntry);
      case Target::kSection:
        section_ = SectionRead{};
        return Open(Frame::kSection);
      default:
        return SkipWrong(target);
    }
  }

  bool key(string_t& key) {
    if (skipping_ > 0) return true;
    pending_ = KeyTarget(frames_.back(), key);
    if (pending_ == Target::kMetadataValue) metadata_key_ = std::move(key);
    return true;
  }

  bool end_object() {
    if (skipping_ > 0) return Unnest();
    const Frame frame = frames_.back();
    frames_.pop_back();
    if (frame == Frame::kEntry) {
      EntryDone(FirstFailure({entry_.name, entry_.target, entry_.sections}));
    } else if (frame == Frame::kSection) {
      SectionDone(FirstFailure({section_.name, section_.offset, section_.bytes}));
    }
    return true;
  }

  bool start_array(std::size_t) {
    if (skipping_ > 0) return Nest();
    const Target target = NextTarget();
    switch (target) {
      case Target::kEntries:
        entries_ = Verdict::kConverts;
        file_.entries.clear();
        return Open(Frame::kEntries);
      case Target::kSections:
        entry_.sections = Verdict::kConverts;
        entry_.entry.sections.clear();
        return Open(Frame::kSections);
      case Target::kBytes:
        section_.bytes = Verdict::kConverts;
        section_.section.bytes.clear();
        return Open(Frame::kBytes);
      default:
        return SkipWrong(target);
    }
  }

  bool end_array() {
    if (skipping_ > 0) return Unnest();
    frames_.pop_back();
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
    return false;
  }

  // The file, or the first failure of the conversions, once the parser has
  // delivered a whole value.
  qmx::Result<File, Error> Result() && {
    if (top_ != Verdict::kConverts) return Error::kParseError;  // not an object
    if (metadata_ == Verdict::kConverts && !not_text_.empty()) metadata_ = Verdict::kWrongType;
    const Verdict failure = FirstFailure({version_, entries_, metadata_});
    if (failure != Verdict::kConverts) return ErrorOf(failure);
    return std::move(file_);
  }

 private:
  bool OnInteger(std::uint64_t value) {
    Scalar scalar;
    scalar.kind = Scalar::Kind::kInteger;
    scalar.integer = value;
    return OnScalar(scalar);
  }

  bool OnScalar(const Scalar& scalar) {
    if (skipping_ > 0) return true;
    const Target target = NextTarget();
    switch (target) {
      case Target::kByte:
        if (section_.bytes == Verdict::kConverts) {
          if (const auto byte = AsUnsigned<std::uint8_t>(scalar)) {
            section_.section.bytes.push_back(*byte);
          } else {
            Wrong(target);
          }
        }
        return true;
      case Target::kVersion:
        if (const auto version = AsUnsigned<unsigned int>(scalar)) {
          file_.version = *version;
          version_ = Verdict::kConverts;
          return true;
        }
        break;
      case Target::kSectionOffset:
        if (const auto offset = AsUnsigned<unsigned int>(scalar)) {
          section_.section.offset = *offset;
          section_.offset = Verdict::kConverts;
          return true;
        }
        break;
      case Target::kEntryName:
      case Target::kEntryTarget:
      case Target::kSectionName:
      case Target::kMetadataValue:
        if (scalar.kind == Scalar::Kind::kString) {
          TakeText(target, std::move(*scalar.text));
          return true;
        }
        break;
      default:
        break;
    }
    Wrong(target);
    return true;
  }

  void TakeText(Target target, std::string text) {
    switch (target) {
      case Target::kEntryName:
        entry_.entry.name = std::move(text);
        entry_.name = Verdict::kConverts;
        break;
      case Target::kEntryTarget:
        entry_.entry.target = std::move(text);
        entry_.target = Verdict::kConverts;
        break;
      case Target::kSectionName:
        section_.section.name = std::move(text);
        section_.name = Verdict::kConverts;
        break;
      default:
        if (!not_text_.empty()) not_text_.erase(metadata_key_);
        // Keys that come in order go to the end of the map without a search.
        file_.metadata.insert_or_assign(file_.metadata.end(), std::move(metadata_key_),
                                        std::move(text));
        break;
    }
  }

  // The target of a value in the innermost container being read.
  Target NextTarget() const {
    if (frames_.empty()) return Target::kTop;
    switch (frames_.back()) {
      case Frame::kEntries:
        return Target::kEntry;
      case Frame::kSections:
        return Target::kSection;
      case Frame::kBytes:
        return Target::kByte;
      default:
        return pending_;  // set by the key
    }
  }

  static Target KeyTarget(Frame frame, const std::string& key) {
    switch (frame) {
      case Frame::kFile:
        if (key == "version") return Target::kVersion;
        if (key == "entries") return Target::kEntries;
        if (key == "metadata") return Target::kMetadata;
        return Target::kIgnored;
      case Frame::kEntry:
        if (key == "name") return Target::kEntryName;
        if (key == "target") return Target::kEntryTarget;
        if (key == "sections") return Target::kSections;
        return Target::kIgnored;
      case Frame::kSection:
        if (key == "name") return Target::kSectionName;
        if (key == "offset") return Target::kSectionOffset;
        if (key == "bytes") return Target::kBytes;
        return Target::kIgnored;
      default:
        return Target::kMetadataValue;
    }
  }

  // A value of the wrong JSON type for its target.
  void Wrong(Target target) {
    switch (target) {
      case Target::kTop:
        top_ = Verdict::kWrongType;
        break;
      case Target::kVersion:
        version_ = Verdict::kWrongType;
        break;
      case Target::kEntries:
        entries_ = Verdict::kWrongType;
        file_.entries.clear();
        break;
      case Target::kMetadata:
        metadata_ = Verdict::kWrongType;
        break;
      case Target::kEntry:
        EntryDone(Verdict::kWrongType);
        break;
      case Target::kEntryName:
        entry_.name = Verdict::kWrongType;
        break;
      case Target::kEntryTarget:
        entry_.target = Verdict::kWrongType;
        break;
      case Target::kSections:
        entry_.sections = Verdict::kWrongType;
        entry_.entry.sections.clear();
        break;
      case Target::kSection:
        SectionDone(Verdict::kWrongType);
        break;
      case Target::kSectionName:
        section_.name = Verdict::kWrongType;
        break;
      case Target::kSectionOffset:
        section_.offset = Verdict::kWrongType;
        break;
      case Target::kBytes:
      case Target::kByte:
        section_.bytes = Verdict::kWrongType;
        section_.section.bytes = {};
        break;
      case Target::kMetadataValue:
        file_.metadata.erase(metadata_key_);
        not_text_.insert(std::move(metadata_key_));
        break;
      case Target::kIgnored:
        break;
    }
  }

  // An element of the entries ends; it is kept while the entries convert.
  void EntryDone(Verdict verdict) {
    NoteElement(entries_, verdict);
    if (entries_ == Verdict::kConverts) file_.entries.push_back(std::move(entry_.entry));
    entry_ = EntryRead{};
  }

  void SectionDone(Verdict verdict) {
    NoteElement(entry_.sections, verdict);
    if (entry_.sections == Verdict::kConverts) {
      entry_.entry.sections.push_back(std::move(section_.section));
    }
    section_ = SectionRead{};
  }

  bool Open(Frame frame) {
    frames_.push_back(frame);
    return true;
  }
  bool SkipWrong(Target target) {
    Wrong(target);
    return Nest();
  }
  bool Nest() {
    ++skipping_;
    return true;
  }
  bool Unnest() {
    --skipping_;
    return true;
  }

  File file_;
  Verdict top_ = Verdict::kAbsent;
  Verdict version_ = Verdict::kAbsent;
  Verdict entries_ = Verdict::kAbsent;
  Verdict metadata_ = Verdict::kConverts;  // optional
  // The metadata's keys whose last value is no text; those whose last value is
  // text are in the file's metadata, and in nothing else.
  std::set<std::string> not_text_;
  std::string metadata_key_;
  EntryRead entry_;
  SectionRead section_;
  std::vector<Frame> frames_;  // at most six deep
  Target pending_ = Target::kIgnored;
  std::size_t skipping_ = 0;  // the depth within a skipped container
};

}  // namespace

qmx::Result<File, Error> FromStream(std::istream& is) {
  CharSource source{is.rdbuf(), kMaxFileSize};
  std::optional<qmx::Result<File, Error>> result;
  try {
    FileEvents events;
    if (json::sax_parse(SourceIterator(&source), SourceIterator(), &events,
                        json::input_format_t::json, /*strict=*/false)) {
      result = std::move(events).Result();
    }
  } catch (const std::exception&) {
    result = Error::kParseError;  // out of memory
  }
  // As the library's stream input does: the end of the stream shows, other states are cleared.
  is.clear((is.rdstate() | (source.met_end ? std::ios::eofbit : std::ios::goodbit)) &
           std::ios::eofbit);
  if (result) return std::move(*result);
  if (source.left == 0 && source.more()) return Error::kTooLarge;
  return Error::kParseError;
}

}  // namespace HOFF
