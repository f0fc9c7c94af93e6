// Writes a target image folder of distinctive bytes: make_target_images DIR
// NAME SIZE [NAME SIZE ...], each file's bytes from TargetImagePatternByte.
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "TargetImagePattern.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc % 2 != 0) {
    std::cerr << "usage: make_target_images DIR NAME SIZE...\n";
    return 1;
  }
  for (int arg = 2, file = 0; arg + 1 < argc; arg += 2, ++file) {
    std::ofstream out(std::string(argv[1]) + "/" + argv[arg], std::ios::binary);
    const unsigned size = static_cast<unsigned>(std::strtoul(argv[arg + 1], nullptr, 10));
    for (unsigned i = 0; i < size; ++i) {
      out.put(static_cast<char>(mrl_test::TargetImagePatternByte(file, i)));
    }
    if (!out) return 1;
  }
  return 0;
}
