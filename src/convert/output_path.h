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

// The output of one frame: "/art/hero.RLE" with the frame's suffix "walk_0" gives
// "/art/hero_walk_0.RLE", the suffix joined to the file name's stem with a '_' (a name
// without an extension, or a hidden ".hero", takes it at its end); an empty suffix leaves
// the path as it is.
std::string FrameOutputPath(std::string_view outputPath, std::string_view suffix);

}  // namespace kav
