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

std::error_code SystemError(int error) {
  return {error, std::system_category()};
}

// When a link may be followed.
enum class LinkTrust { kTrusted, kIfItsOwnerOwnsWhereItLeads, kUntrusted, kUnknown };

// The link rules. An ordinary user follows links as the kernel does with
// fs.protected_symlinks, whatever that setting is: in a folder that has the sticky bit and
// that anyone may write in, only its own links and those of the folder's owner, since anyone
// else could have planted theirs to lead it onto a file they cannot write themselves. The
// super-user may write anything, so it follows its own links, and another user's only where
// that user could write without the link: in a folder of that user's, onto a file or folder
// of that user's.
LinkTrust TrustOf(int folder, const struct stat& link) {
  const uid_t user = geteuid();
  if (link.st_uid == user) {
    return LinkTrust::kTrusted;
  }
  struct stat holder {};
  if (fstat(folder, &holder) != 0) {
    return LinkTrust::kUnknown;
  }
  const bool ownersLink = holder.st_uid == link.st_uid;
  if (user == 0) {
    return ownersLink ? LinkTrust::kIfItsOwnerOwnsWhereItLeads : LinkTrust::kUntrusted;
  }
  const bool shared = (holder.st_mode & S_ISVTX) != 0 && (holder.st_mode & S_IWOTH) != 0;
  return !shared || ownersLink ? LinkTrust::kTrusted : LinkTrust::kUntrusted;
}

// Most links the walk of one path follows, as the kernel's own limit.
constexpr int kMaxLinksFollowed = 40;

// Walks a path one part at a time from an open folder: each folder is opened from the one
// before without following links, and a link is read through a descriptor of the link
// itself, checked and then walked in its place. Nothing is looked up twice by name, so what
// was checked is what is used.
class PathWalk {
 public:
  // With `makeFolders`, a missing folder on the way is made.
  explicit PathWalk(bool makeFolders = false) : makeFolders_(makeFolders) {}

  // Starts the path of an output file, every part of which but the last is a folder. False
  // (with error() set) when `path` cannot be walked at all.
  bool Start(const std::string& path) {
    if (path.empty() || path.back() == '/') {
      Failed(EISDIR);  // a folder, never an output file
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

  // Starts the path of a folder, every part of which is a folder.
  bool StartFolder(const std::string& path) {
    if (!Restart(path.starts_with('/') ? "/" : ".")) {
      return false;
    }
    Push(path);
    return true;
  }

  // Walks the parts before the last `left` (1 for an output's name, 0 for a folder's path).
  bool WalkFolders(std::size_t left) {
    for (;;) {
      if (!SettleOwners()) {
        return false;
      }
      if (pending_.size() <= left) {
        return true;
      }
      std::string part = std::move(pending_.back());
      pending_.pop_back();
      if (!EnterFolder(part)) {
        return false;
      }
    }
  }

  // The last part, which WalkFolders(1) leaves, taken for the caller. A link to "/" leaves
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
  // when `name` is not a link (any more). A link `atTheEnd` of an output's path must lead to
  // a regular file or to nothing.
  enum class Step { kFollowed, kNotALink, kFailed };
  Step Follow(const std::string& name, bool atTheEnd) {
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
    const LinkTrust trust = TrustOf(folder_.Get(), info);
    if (trust == LinkTrust::kUnknown) {
      return Failed(errno);
    }
    if (trust == LinkTrust::kUntrusted) {
      return Refused(OutputRefusal::kLinkOfAnotherUser);
    }
    if (atTheEnd && !LeadsToAFileOrNothing(name)) {
      return Refused(OutputRefusal::kNotARegularFile);
    }
    std::array<char, PATH_MAX> text{};
    const ssize_t length = readlinkat(link.Get(), "", text.data(), text.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= text.size()) {
      return Failed(length < 0 ? errno : ENOENT);
    }
    if (trust == LinkTrust::kIfItsOwnerOwnsWhereItLeads) {
      owners_.push_back({.depth = pending_.size(), .owner = info.st_uid});
    }
    const std::string_view destination(text.data(), static_cast<std::size_t>(length));
    folderPath_.clear();
    if (destination.front() == '/' && !Restart("/")) {
      return Step::kFailed;
    }
    Push(destination);
    return Step::kFollowed;
  }

  // Checks the output `place` that the walk has reached against the links at the end of the
  // path that were followed on their owner's condition: it must be that owner's file.
  bool SettleTarget(const OutputPlace& place) {
    for (const Owner& link : owners_) {
      if (!place.exists || place.info.st_uid != link.owner) {
        Refused(OutputRefusal::kLinkOfAnotherUser);
        return false;
      }
    }
    owners_.clear();
    return true;
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
  const std::error_code& error() const { return error_; }

 private:
  // A link followed on the condition that its owner owns where it leads, decided once the
  // walk is back to `depth` parts pending, so that its destination has been walked.
  struct Owner {
    std::size_t depth;
    uid_t owner;
  };

  bool EnterFolder(const std::string& part) {
    int next = OpenFolder(part);
    if (next < 0 && errno == ENOENT && makeFolders_) {
      if (!MakeFolder(part)) {
        return false;
      }
      next = OpenFolder(part);
    }
    if (next >= 0) {
      folder_.Reset(next);
      return true;
    }
    if (errno != ENOTDIR) {  // a link, as anything else but a folder, gives ENOTDIR
      Failed(errno);
      return false;
    }
    switch (Follow(part, false)) {
      case Step::kFollowed:  // its parts are walked next, as folders too
        return true;
      case Step::kNotALink:
        Failed(ENOTDIR);
        return false;
      case Step::kFailed:
        return false;
    }
    return false;
  }

  int OpenFolder(const std::string& part) const {
    return openat(folder_.Get(), part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  }

  // Makes the missing folder `part`; one that another made meanwhile does as well. Nothing is
  // made beyond a link followed on its owner's condition: the folder would not be theirs.
  bool MakeFolder(const std::string& part) {
    if (!owners_.empty()) {
      Refused(OutputRefusal::kLinkOfAnotherUser);
      return false;
    }
    if (mkdirat(folder_.Get(), part.c_str(), 0777) != 0 && errno != EEXIST) {
      Failed(errno);
      return false;
    }
    return true;
  }

  // What the kernel finds through the link `name`: a stream, a device or a folder is no
  // output, even where the link's text leads nowhere, as /proc/self/fd's do for a pipe
  // ("pipe:[N]").
  bool LeadsToAFileOrNothing(const std::string& name) const {
    struct stat target {};
    return fstatat(folder_.Get(), name.c_str(), &target, 0) != 0 || S_ISREG(target.st_mode);
  }

  // Decides the links whose destination the walk has reached: each must lead to a folder of
  // its owner's.
  bool SettleOwners() {
    while (!owners_.empty() && pending_.size() <= owners_.back().depth) {
      struct stat reached {};
      if (fstat(folder_.Get(), &reached) != 0) {
        Failed(errno);
        return false;
      }
      if (reached.st_uid != owners_.back().owner) {
        Refused(OutputRefusal::kLinkOfAnotherUser);
        return false;
      }
      owners_.pop_back();
    }
    return true;
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
    if (!folder_.IsOpen()) {
      Failed(errno);
    }
    return folder_.IsOpen();
  }

  Step Failed(int error) {
    error_ = SystemError(error);
    return Step::kFailed;
  }

  Step Refused(OutputRefusal refusal) {
    error_ = refusal;
    return Step::kFailed;
  }

  bool makeFolders_;
  Descriptor folder_;
  std::string folderPath_;            // what the folder was opened by, while no link was met
  std::vector<std::string> pending_;  // the next part last
  std::vector<Owner> owners_;         // the latest last
  int linksFollowed_ = 0;
  std::error_code error_;
};

}  // namespace

std::error_code WhyNotReplaceable(const OutputPlace& place, const std::string& protectedPath) {
  const struct stat& existing = place.info;
  struct stat source {};
  if (stat(protectedPath.c_str(), &source) == 0 && source.st_dev == existing.st_dev &&
      source.st_ino == existing.st_ino) {
    return OutputRefusal::kInput;
  }
  if (!S_ISREG(existing.st_mode)) {
    return OutputRefusal::kNotARegularFile;
  }
  // Write bits are checked as well as access(): the super-user may write anything, but a
  // file whose owner made it read-only must not be replaced behind their back.
  if ((existing.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    return OutputRefusal::kReadOnly;
  }
  if (faccessat(place.folder.Get(), place.name.c_str(), W_OK, AT_SYMLINK_NOFOLLOW) != 0) {
    return SystemError(errno);
  }
  return {};
}

// Finds where the output `path` goes. A link at the end of the path leads to the file that
// is replaced, or to the name in an existing folder where the new file is made; a link that
// leads anywhere else, or into a missing folder or round in a loop, refuses the output and is
// never replaced itself.
std::optional<OutputPlace> FindOutputPlace(const std::string& path, std::error_code& error) {
  PathWalk walk;
  bool walked = walk.Start(path) && walk.WalkFolders(1);
  while (walked) {
    OutputPlace place;
    place.name = walk.TakeName();
    // Whatever keeps the name from being looked at is met again when the file is created.
    place.exists =
        fstatat(walk.folder(), place.name.c_str(), &place.info, AT_SYMLINK_NOFOLLOW) == 0;
    if (!place.exists || !S_ISLNK(place.info.st_mode)) {
      if (!walk.SettleTarget(place)) {
        break;
      }
      place.folderPath = walk.folderPath();
      place.folder = walk.TakeFolder();
      return place;
    }
    switch (walk.Follow(place.name, true)) {
      case PathWalk::Step::kFollowed:
        walked = walk.WalkFolders(1);
        break;
      case PathWalk::Step::kNotALink:  // changed since it was looked at: look again
        walk.Push(place.name);
        break;
      case PathWalk::Step::kFailed:
        walked = false;
        break;
    }
  }
  error = walk.error();
  return std::nullopt;
}

std::error_code MakeFolders(const std::string& path) {
  PathWalk walk(true);
  if (walk.StartFolder(path) && walk.WalkFolders(0)) {
    return {};
  }
  return walk.error();
}

std::optional<std::string> OutputIdentity(const std::string& path) {
  std::error_code ignored;
  const std::optional<OutputPlace> place = FindOutputPlace(path, ignored);
  struct stat folder {};
  if (!place || fstat(place->folder.Get(), &folder) != 0) {
    return std::nullopt;
  }
  return std::to_string(folder.st_dev) + ":" + std::to_string(folder.st_ino) + "/" + place->name;
}

}  // namespace kav
