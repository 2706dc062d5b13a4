#pragma once
// What a front end (the dialog, the command line, a test) offers the batch: the settings, read
// back from its controls before every file; the status line; message boxes; and, for long
// batches, progress and a way to stop.
//
// Nothing below the front ends shows anything: a reader returns a failure value
// (input/read_picture.h), a writer what its conversion came to (formats/conversion.h), and a
// decoder of converted files an error holding the file offset of the fault and why, which
// kavconv info prints. The system's own code throws nothing.

#include <cstdint>
#include <string>
#include <string_view>

#include "formats/conversion.h"

namespace kav {

// Who owns a message box: the reader's boxes have no owner window, the writers' belong to the
// main dialog (modal to it).
enum class MessageOwner { kNone, kMainDialog };

// Every box is an error box: caption "Error", one OK button and the warning icon.
inline constexpr std::string_view kErrorCaption = "Error";

class ConverterHost {
 public:
  virtual ~ConverterHost() = default;

  // The settings as they stood after the last read back.
  virtual ConversionSettings Settings() const = 0;
  // Reads the controls back into the settings, with validation; false when a value failed
  // (the front end has then told the user which).
  virtual bool ReadBack() = 0;
  // Sets the status line and publishes it at once.
  virtual void SetStatusText(const std::string& text) = 0;
  // Shows an error box and returns once the user has closed it. `cause` is what the system
  // said of a failed call ("No such file or directory"), or empty: the command line prints it
  // after the text, the dialog's boxes show the text alone.
  virtual void ShowError(MessageOwner owner, std::string_view text,
                         std::string_view cause = {}) = 0;
  // Tells the user what a conversion came to: by default each line of ReportOf
  // (convert/report.h) as a status line or a message box, in order.
  virtual void Report(const Conversion& conversion);

  // Called by the batch before each file (index counts from 0).
  virtual void OnFileStarting(std::size_t /*index*/, std::size_t /*total*/,
                              const std::string& /*path*/) {}
  // Asked by the batch after each file: true stops it before the next one.
  virtual bool StopRequested() { return false; }
  // Asked once a file's output is complete, just before it is put in place: false abandons it
  // unseen, because the batch has stopped before this file.
  virtual bool OutputStillWanted() { return true; }
};

}  // namespace kav
