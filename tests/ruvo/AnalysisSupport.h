#pragma once
// Runs the boot monitor analysis on a fixture's boot monitor, as the
// conversion does, inside tables that the caller's scope owns.

#include "ruvo/Bootmon.h"
#include "ruvo/Tables.h"
#include "support/XipFixture.h"

namespace ruvo_test {

// Puts the boot monitor into slot 0 and analyses it; returns the analysis result.
inline int analyse(const Bootmon& bootmon) {
  using namespace Ruvo::detail;
  g.files[0].spc = allocZeroed<std::uint16_t>(kSpaceWords);
  std::copy(bootmon.space.begin(), bootmon.space.end(), g.files[0].spc.get());
  g.files[0].aux = bootmon.tlTarget();
  return bootmonParser(g.files[0].spc.get());
}

}  // namespace ruvo_test
