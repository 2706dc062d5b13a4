#include "platform/output_place.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <string_view>
#include <vector>

namespace kav {
namespace {

// The rule the kernel applies with fs.protected_symlinks, applied whatever that setting is:
// in a folder that has the sticky bit and that anyone may write in, only links of the user
// running the program or of the folder's owner are followed, since anyone else could have
// planted theirs to lead a privileged program onto a file they cannot write themselves.
enum class LinkTrust { kTrusted, kUntrusted, kUnknown };

LinkTrust TrustOf(int folder, const struct stat& link) {
  if (link.st_uid == geteuid()) {
    return LinkTrust::kTrusted;
  }
  struct stat holder {};
  if (fstat(folder, &holder) != 0) {
    return LinkTrust::kUnknown;
  }
  const bool shared = (holder.st_mode & S_ISVTX) != 0 && (holder.st_mode & S_IWOTH) != 0;
  return !shared || holder.st_uid == link.st_uid ? LinkTrust::kTrusted : LinkTrust::kUntrusted;
}

// Most links the walk of one path follows, as the kernel's own limit.
constexpr int kMaxLinksFollowed = 40;

// Walks a path one part at a time from an open folder: each folder is opened from the one
// before without following links, and a link is read through a descriptor of the link
// itself, checked and then walked in its place. Nothing is looked up twice by name, so what
// was checked is what is used.
class PathWalk {
 public:
  // False (with error() set) when `path` cannot be walked at all.
  bool Start(const std::string& path) {
    if (path.empty() || path.back() == '/') {
      error_ = EISDIR;  // a folder, never an output file
      return false;
    }
    if (OpenFolderWithoutLinks(path)) {
      return true;
    }
    if (!Restart(path.front() == '/' ? "/" : ".")) {
      return false;
    }
    Push(path);
    return true;
  }

  // The folder that holds the last part, reached by walking every part before it.
  bool WalkFolders() {
    while (pending_.size() > 1) {
      std::string part = std::move(pending_.back());
      pending_.pop_back();
      if (!EnterFolder(part)) {
        return false;
      }
    }
    return true;
  }

  // The last part, which WalkFolders() leaves, taken for the caller. A link to "/" leaves
  // none, and stands for the root folder itself.
  std::string TakeName() {
    if (pending_.empty()) {
      return ".";
    }
    std::string name = std::move(pending_.back());
    pending_.pop_back();
    return name;
  }

  // Reads the link `name` in the current folder and puts its parts in place of it. kNotALink
  // when `name` is not a link (any more).
  enum class Step { kFollowed, kNotALink, kFailed };
  Step Follow(const std::string& name) {
    const Descriptor link(openat(folder_.Get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (!link.IsOpen() || fstat(link.Get(), &info) != 0) {
      return Failed(errno);
    }
    // Counted even when it is no link, so that a name changing back and forth ends the walk.
    if (++linksFollowed_ > kMaxLinksFollowed) {
      return Failed(ELOOP);
    }
    if (!S_ISLNK(info.st_mode)) {
      return Step::kNotALink;
    }
    switch (TrustOf(folder_.Get(), info)) {
      case LinkTrust::kTrusted:
        break;
      case LinkTrust::kUntrusted:
        refused_ = true;
        return Failed(0);
      case LinkTrust::kUnknown:
        return Failed(errno);
    }
    std::array<char, PATH_MAX> text{};
    const ssize_t length = readlinkat(link.Get(), "", text.data(), text.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= text.size()) {
      return Failed(length < 0 ? errno : ENOENT);
    }
    const std::string_view destination(text.data(), static_cast<std::size_t>(length));
    folderPath_.clear();
    if (destination.front() == '/' && !Restart("/")) {
      return Step::kFailed;
    }
    Push(destination);
    return Step::kFollowed;
  }

  // The parts of `path` go on the pending list so that its first part is taken next; "//"
  // leaves an empty part, which names nothing.
  void Push(std::string_view path) {
    const std::size_t before = pending_.size();
    for (std::size_t start = 0; start <= path.size();) {
      const std::size_t slash = std::min(path.find('/', start), path.size());
      if (slash > start) {
        pending_.emplace_back(path.substr(start, slash - start));
      }
      start = slash + 1;
    }
    std::reverse(pending_.begin() + static_cast<std::ptrdiff_t>(before), pending_.end());
  }

  int folder() const { return folder_.Get(); }
  const std::string& folderPath() const { return folderPath_; }
  Descriptor TakeFolder() { return std::move(folder_); }
  // A second descriptor of the current folder, which stays where it is while the walk goes on.
  Descriptor CopyFolder() {
    Descriptor copy(fcntl(folder_.Get(), F_DUPFD_CLOEXEC, 0));
    if (!copy.IsOpen()) {
      error_ = errno;
    }
    return copy;
  }
  // Whether the walk met a link it must not follow.
  bool refused() const { return refused_; }
  int error() const { return error_; }

 private:
  bool EnterFolder(const std::string& part) {
    const int next =
        openat(folder_.Get(), part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next >= 0) {
      folder_.Reset(next);
      return true;
    }
    if (errno != ENOTDIR) {  // a link, as anything else but a folder, gives ENOTDIR
      error_ = errno;
      return false;
    }
    switch (Follow(part)) {
      case Step::kFollowed:  // its parts are walked next, as folders too
        return true;
      case Step::kNotALink:
        error_ = ENOTDIR;
        return false;
      case Step::kFailed:
        return false;
    }
    return false;
  }

  // Nearly always no link stands in the way, and the kernel opens the folder of `path` in one
  // call that fails rather than follow any; only then is the path walked part by part.
  bool OpenFolderWithoutLinks(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path.substr(0, slash);
    open_how how{};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS;
    const long fd = syscall(SYS_openat2, AT_FDCWD, folder.c_str(), &how, sizeof how);
    if (fd < 0) {
      return false;  // a link on the way, an older kernel, or a failure the walk meets again
    }
    folder_.Reset(static_cast<int>(fd));
    folderPath_ = folder;
    pending_.push_back(path.substr(slash + 1));
    return true;
  }

  bool Restart(const char* start) {
    folder_.Reset(open(start, O_PATH | O_DIRECTORY | O_CLOEXEC));
    error_ = folder_.IsOpen() ? 0 : errno;
    return folder_.IsOpen();
  }

  Step Failed(int error) {
    error_ = error;
    return Step::kFailed;
  }

  Descriptor folder_;
  std::string folderPath_;            // what the folder was opened by, while no link was met
  std::vector<std::string> pending_;  // the next part last
  int linksFollowed_ = 0;
  int error_ = 0;
  bool refused_ = false;
};

}  // namespace

bool IsReadOnly(int folder, const std::string& name, const struct stat& info) {
  // Write bits are checked as well as access(): the super-user may write anything, but a
  // file whose owner made it read-only must not be replaced behind their back.
  const mode_t writeBits = S_IWUSR | S_IWGRP | S_IWOTH;
  return (info.st_mode & writeBits) == 0 ||
         faccessat(folder, name.c_str(), W_OK, AT_SYMLINK_NOFOLLOW) != 0;
}

// Finds where the output `path` goes. A link at the end of the path leads to the file that
// is replaced; a link that leads nowhere (or round in a loop) is replaced itself, as a new
// file would be. nullopt when the path cannot be walked, with `error` set to the errno of the
// call that failed, or to 0 when a link was refused.
std::optional<OutputPlace> FindOutputPlace(const std::string& path, int& error) {
  PathWalk walk;
  std::optional<OutputPlace> linkAtTheEnd;
  bool walked = walk.Start(path) && walk.WalkFolders();
  while (walked) {
    OutputPlace place;
    place.name = walk.TakeName();
    // Whatever keeps the name from being looked at is met again when the file is created.
    place.exists =
        fstatat(walk.folder(), place.name.c_str(), &place.info, AT_SYMLINK_NOFOLLOW) == 0;
    if (!place.exists || !S_ISLNK(place.info.st_mode)) {
      if (!place.exists && linkAtTheEnd) {
        return linkAtTheEnd;
      }
      place.folderPath = walk.folderPath();
      place.folder = walk.TakeFolder();
      return place;
    }
    if (!linkAtTheEnd) {
      linkAtTheEnd.emplace();
      linkAtTheEnd->folder = walk.CopyFolder();
      linkAtTheEnd->name = place.name;
      if (!linkAtTheEnd->folder.IsOpen()) {
        break;
      }
    }
    switch (walk.Follow(place.name)) {
      case PathWalk::Step::kFollowed:
        walked = walk.WalkFolders();
        break;
      case PathWalk::Step::kNotALink:  // changed since it was looked at: look again
        walk.Push(place.name);
        break;
      case PathWalk::Step::kFailed:
        walked = false;
        break;
    }
  }
  error = walk.refused() ? 0 : walk.error();
  if (walk.refused() || !linkAtTheEnd || !linkAtTheEnd->folder.IsOpen()) {
    return std::nullopt;
  }
  return linkAtTheEnd;
}

}  // namespace kav
