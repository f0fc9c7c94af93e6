#include "cli/EntrySelection.h"

#include <ostream>

namespace mrl {
namespace {

void PrintTcfFwLabels(const TCF::FirmwareMap& entries, std::ostream& os) {
  os << "Available entries are:\n";
  for (const auto& [label, file] : entries) os << label << "\n";
}

void PrintHOFFFwLabels(const HOFF::File& file, std::ostream& os) {
  os << "Available HOFF entries are:\n";
  for (const HOFF::Entry& entry : file.GetEntries()) os << entry.name << "\n";
}

}  // namespace

bool SelectTcfEntry(RunState& state, const boost::program_options::variables_map& vm) {
  std::ostream& err = state.console.err;
  const auto read = TCF::FromFile(state.input_file);
  if (read.index() == 1) {
    err << std::get<1>(read).msg() << "\n";
    return false;
  }
  const TCF::FirmwareMap& entries = std::get<0>(read).GetFirmwareEntries();
  if (entries.empty()) {
    err << "Input TCF file does not contain any firmware files.\n";
    return false;
  }
  if (!vm.count("tcf_entry")) {
    if (entries.size() != 1) {
      err << "Input TCF file contains multiple firmware files, but tcf_entry was not supplied to "
             "select one.\n";
      PrintTcfFwLabels(entries, err);
      return false;
    }
    const auto& [label, only] = *entries.begin();
    state.console.out << "Input TCF file only contains one firmware file labeled \"" << label
                      << "\". Selecting this despite tcf_entry not being supplied.\n";
    state.firmware = only.firmware;
    return true;
  }
  const auto found = entries.find(state.tcf_entry);
  if (found == entries.end()) {
    err << "No firmware with label \"" << state.tcf_entry
        << "\" found within the input TCF file.\n";
    PrintTcfFwLabels(entries, err);
    return false;
  }
  state.firmware = found->second.firmware;
  return true;
}

bool SelectHoffEntry(RunState& state, const boost::program_options::variables_map& vm,
                     std::string* target) {
  std::ostream& err = state.console.err;
  auto read = HOFF::FromFile(state.input_file);
  if (read.index() == 1) {
    err << std::get<1>(read).msg() << "\n";
    return false;
  }
  state.hoff_file = std::move(std::get<0>(read));
  const std::vector<HOFF::Entry>& entries = state.hoff_file.GetEntries();
  if (entries.empty()) {
    err << "HOFF file does not contain any firmware files.\n";
    return false;
  }
  if (!vm.count("hoff_entry")) {
    if (entries.size() != 1) {
      err << "HOFF file contains multiple firmware files, but hoff_entry was not supplied to "
             "select one.\n";
      PrintHOFFFwLabels(state.hoff_file, err);
      return false;
    }
    state.hoff_entry = entries.front().name;
    state.console.out << "HOFF file only contains one firmware file labeled \"" << state.hoff_entry
                      << "\". Selecting this despite hoff_entry not being supplied.\n";
  }
  for (const HOFF::Entry& entry : entries) {
    if (entry.name == state.hoff_entry) {
      *target = entry.target;
      return true;
    }
  }
  err << "No HOFF entry with label \"" << state.hoff_entry
      << "\" found within the input HOFF file.\n";
  PrintHOFFFwLabels(state.hoff_file, err);
  return false;
}

}  // namespace mrl
