#include "convert/output_path.h"

namespace kav {
namespace {

// Where the file name's extension begins (its '.'), or the path's end when it has none. A
// dot that begins the name marks a hidden file, not an extension.
std::size_t ExtensionStart(std::string_view path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
  const std::size_t dot = path.find_last_of('.');
  return dot != std::string_view::npos && dot > nameStart ? dot : path.size();
}

}  // namespace

std::string MakeOutputPath(std::string_view sourcePath, std::string_view extension) {
  std::string output(sourcePath.substr(0, ExtensionStart(sourcePath)));
  output += '.';
  output += extension;
  return output;
}

std::string FrameOutputPath(std::string_view outputPath, std::string_view suffix) {
  if (suffix.empty()) {
    return std::string(outputPath);
  }
  const std::size_t stemEnd = ExtensionStart(outputPath);
  std::string output(outputPath.substr(0, stemEnd));
  output += '_';
  output += suffix;
  output += outputPath.substr(stemEnd);
  return output;
}

}  // namespace kav
