#pragma once
// Message boxes, supplied by the front end (dialog, command line, tests).
//
// Every box the core asks for is an error box: caption "Error", one OK button and the
// warning icon. The call returns when the user has closed it.

#include <string_view>

namespace kav {

// Who owns a box: the BMP reader's boxes have no owner window, the writers' belong to the
// main dialog (modal to it).
enum class MessageOwner { kNone, kMainDialog };

inline constexpr std::string_view kErrorCaption = "Error";

class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // `cause` is what the system said of a failed call ("No such file or directory"), or empty:
  // the command line prints it after the text, the dialog's boxes show the text alone.
  virtual void ShowError(MessageOwner owner, std::string_view text,
                         std::string_view cause = {}) = 0;
};

}  // namespace kav
