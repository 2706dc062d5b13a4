#pragma once
// What the user is told of a conversion, as lines a front end shows in order: the status line
// of each file written (or found up to date), then why the conversion failed, in a message box
// (the reader's without an owner, the writers' owned by the main dialog), a status line, or
// both, box first. An output abandoned because the batch stopped is not told. A note on what
// was left out of the source comes first.

#include <string>
#include <vector>

#include "convert/converter_host.h"

namespace kav {

struct ReportLine {
  enum class Kind : std::uint8_t {
    kStatus,         // a file written or up to date
    kFailureStatus,  // a status line saying the conversion failed
    kBox,            // an error box
    kNote,           // something the user may want to know, said on the command line only
  };
  Kind kind = Kind::kStatus;
  MessageOwner owner = MessageOwner::kNone;  // of a box
  std::string text;
  std::string cause;  // of a box: what the system said, or empty
};

std::vector<ReportLine> ReportOf(const Conversion& conversion);

}  // namespace kav
