#include "convert/output_path.h"

namespace kav {

std::string MakeOutputPath(std::string_view sourcePath, std::string_view extension) {
  const std::size_t slash = sourcePath.find_last_of('/');
  const std::size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
  const std::size_t dot = sourcePath.find_last_of('.');
  std::string output;
  // A dot that begins the name marks a hidden file, not an extension.
  if (dot != std::string_view::npos && dot > nameStart) {
    output = sourcePath.substr(0, dot + 1);
  } else {
    output = sourcePath;
    output += '.';
  }
  output += extension;
  return output;
}

}  // namespace kav
