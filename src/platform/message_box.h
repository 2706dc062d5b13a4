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
  virtual void ShowError(MessageOwner owner, std::string_view text) = 0;
};

}  // namespace kav
