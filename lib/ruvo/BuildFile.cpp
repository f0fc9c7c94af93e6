#include "ruvo/BuildFile.h"

#include <cstring>
#include <fstream>
#include <iostream>

#include "ruvo/ByteOrder.h"
#include "ruvo/Ruvo.h"
#include "ruvo/Tables.h"
#include "ruvo/XipContainer.h"

namespace Ruvo {
namespace detail {
namespace {

using FlowResult = qmx::Error::Result<qmx::Error::None, Error>;

bool isHexName(const char* name) {
  const std::size_t size = std::strlen(name);
  return size > 4 && std::strcmp(name + size - 4, ".hex") == 0;
}

constexpr long kUnreadable = -2;

// Reads the whole file into buffer (kMaxSourceBytes bytes of room); returns
// its byte count, -1 when it is longer, kUnreadable when reading fails (a
// directory, for instance).
long readFile(std::ifstream& in, Buffer<std::uint16_t>& buffer) {
  auto* bytes = reinterpret_cast<std::uint8_t*>(buffer.get());
  in.read(reinterpret_cast<char*>(bytes), kMaxSourceBytes);
  const long count = static_cast<long>(in.gcount());
  if (in.bad()) return kUnreadable;
  if (in.peek() != std::char_traits<char>::eof()) return -1;
  for (long i = 0; i < (count + 1) / 2; ++i) buffer[i] = loadLe16(bytes, i);
  return count;
}

}  // namespace

FlowResult getBuildSpec(std::vector<std::string> names) {
  if (names.size() > static_cast<std::size_t>(kMaxBuildFiles)) return Error(149);
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::size_t size = names[i].size() + 1;
    if (size > static_cast<std::size_t>(kPoolBytes - strP)) return Error(1);
    char* copy = reinterpret_cast<char*>(g.pool.get() + strP);
    std::memcpy(copy, names[i].c_str(), size);
    g.files[i].name = copy;
    strP += static_cast<int>(size);
  }
  return qmx::Error::None{};
}

FlowResult loadFiles() {
  for (int k = 0; k < kFileCount; ++k) {
    FileEntry& entry = g.files[k];
    if (entry.name == nullptr) continue;
    std::ifstream in(entry.name, std::ios::binary);
    if (!in) return Error(152);
    auto buffer = allocZeroed<std::uint16_t>(kSpaceWords);
    if (!buffer) {
      std::cout << "newSpc out of memory\n";
      return Error(1);
    }
    const long bytes = readFile(in, buffer);
    if (bytes == kUnreadable) return Error(152);
    if (bytes < 0) return Error(153);
    if (isHexName(entry.name)) {
      entry.spc = std::move(buffer);
      entry.len = 0;
    } else {
      entry.len = static_cast<std::int32_t>((bytes + 1) / 2);
      if (entry.len > kMaxRawWords) return Error(153);
      entry.bin = std::move(buffer);
    }
  }
  return qmx::Error::None{};
}

}  // namespace detail

qmx::Result<std::vector<std::string>, Error> BuildFileToFilenames(const std::string& path) {
  std::ifstream in(path);
  if (!in) return Error(152);
  std::vector<std::string> names;
  std::string line;
  while (in.good()) {
    std::getline(in, line);
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos) names.push_back(line.substr(equals + 1));
  }
  if (in.bad()) return Error(152);  // opened but unreadable, a directory for instance
  return names;
}

qmx::Error::Result<qmx::Error::None, Error> FilesToXip(const std::vector<std::string>& names,
                                                       const std::string& outPath, int pageSize) {
  using namespace detail;
  if (pageSize <= 0 || (pageSize & (pageSize - 1)) != 0) return Error(1);
  MemoryPageSize = pageSize;
  TablesScope tables;
  if (tables.failed()) return Error(1);
  FlowResult result = getBuildSpec(names);
  if (!result.failed()) result = loadFiles();
  if (!result.failed()) result = putXIP(outPath.c_str());
  return result;
}

}  // namespace Ruvo
