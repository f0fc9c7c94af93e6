#include "ruvo/RuvoError.h"

namespace Ruvo {

const std::string& Error::msg() const {
  static const std::string kTooManyFilesStr{"Too many files in build file"};
  static const std::string kRepeatedFileStr{"Filename repeated in build file"};
  static const std::string kSyntaxStr{"Syntax error in build file"};
  static const std::string kSourceFileOpenStr{"Unable to open file referenced in build file"};
  static const std::string kFileTooLargeStr{"Input file is too large"};
  static const std::string kBootmonNotFirstStr{"0=bootmon.hex is required in build file"};
  static const std::string kXipFileOpenStr{"Unable to open output xip file"};
  static const std::string kGenericFailureOfSupremeLazinessStr{"Generic unspecified error"};
  return qmx::Error::LookupText(code(),
                                {{149, kTooManyFilesStr},
                                 {150, kRepeatedFileStr},
                                 {151, kSyntaxStr},
                                 {152, kSourceFileOpenStr},
                                 {153, kFileTooLargeStr},
                                 {156, kBootmonNotFirstStr},
                                 {201, kXipFileOpenStr}},
                                kGenericFailureOfSupremeLazinessStr);
}

}  // namespace Ruvo
