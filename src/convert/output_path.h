#pragma once
// Output names: the source path with its file name's extension replaced.

#include <string>
#include <string_view>

namespace kav {

// "/art/hero.bmp" + "MZR" gives "/art/hero.MZR"; "/art/Tree.Old.BMP" gives "/art/Tree.Old.MZR".
// Only the file name's own extension is replaced: a '.' in a folder name never cuts the
// path, and a name without one ("/art/hero", or a hidden ".hero") gets "." and the
// extension appended.
std::string MakeOutputPath(std::string_view sourcePath, std::string_view extension);

}  // namespace kav
