# Writes OUTPUT, a C++ source defining the embedded target images, from the
# files in DIR (checked first), or zero-filled stand-ins of the same sizes
# when DIR is empty. Run with cmake -DDIR=... -DOUTPUT=... -P this file.
include(${CMAKE_CURRENT_LIST_DIR}/TargetImages.cmake)

# Sets var to the bytes of file as a C initialiser list, 16 per line.
function(bytes_of file var)
  file(READ "${file}" hex HEX)
  string(REGEX REPLACE "(..)" "0x\\1," hex "${hex}")
  string(REGEX REPLACE "((0x..,){16})" "\\1\n    " hex "${hex}")
  set(${var} "${hex}" PARENT_SCOPE)
endfunction()

set(supplied false)
if(DIR)
  mrl_check_target_images("${DIR}")
  set(supplied true)
endif()
set(names kLoader12 kLoader24 kRfLoader kPassthrough kNotice)
set(arrays "")
foreach(name file size IN ZIP_LISTS names MRL_TARGET_IMAGE_FILES MRL_TARGET_IMAGE_SIZES)
  set(bytes "")
  if(DIR)
    bytes_of("${DIR}/${file}" bytes)
  endif()
  string(APPEND arrays "// ${file}\nconst std::uint8_t ${name}[${size}] = {\n    ${bytes}};\n\n")
endforeach()

file(WRITE "${OUTPUT}.tmp" "// Generated from the target image folder; do not edit.
#include \"link/XipImageLoader.h\"

#include <algorithm>

namespace {

${arrays}template <std::size_t N>
std::vector<std::uint8_t> Vector(const std::uint8_t (&bytes)[N]) {
  return std::vector<std::uint8_t>(bytes, bytes + N);
}

}  // namespace

const std::unordered_map<ImgProtocol::CrystalFrequency, const std::vector<std::uint8_t>,
                         qmx::Error::Hash<ImgProtocol::CrystalFrequency>>
    xip_loader_hexes{{ImgProtocol::CrystalFrequency::k12_288MHz, Vector(kLoader12)},
                     {ImgProtocol::CrystalFrequency::k24_576MHz, Vector(kLoader24)}};
const bool kTargetImagesSupplied = ${supplied};
const std::vector<std::uint8_t> rf_loader_hex = Vector(kRfLoader);
const std::vector<std::uint8_t> belto_ls_gx2_passthrough_hex = Vector(kPassthrough);
const std::array<std::uint8_t, 104> kBootMonitorNotice = [] {
  std::array<std::uint8_t, 104> notice{};
  std::copy(kNotice, kNotice + notice.size(), notice.begin());
  return notice;
}();
")
# Replacing the file only when it changed keeps dependants from rebuilding.
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
