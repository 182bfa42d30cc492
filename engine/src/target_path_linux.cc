// The target's path walked with O_PATH descriptors: each name is opened
// without following it and then looked at through its descriptor, so a name
// swapped between the look and the use is caught instead of followed.
#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <system_error>

#include "quarnel/folder_tree.h"
#include "target_path.h"

#include "quarnel/target_start.h"

namespace quarnel {
namespace {

// The kernel's own limit on links followed in one path.
constexpr int kMostLinks = 40;

struct Step {
  std::string name;
  bool fromLink = false;  // a name out of a link's text, which may point nowhere
};

// Puts the names of `path` in front of `steps`; "." and empty names go.
void PushFront(const std::string& path, bool fromLink, std::deque<Step>& steps) {
  std::deque<Step> names;
  std::size_t at = 0;
  while (at <= path.size()) {
    const std::size_t slash = std::min(path.find('/', at), path.size());
    std::string name = path.substr(at, slash - at);
    if (!name.empty() && name != ".") names.push_back({std::move(name), fromLink});
    at = slash + 1;
  }
  steps.insert(steps.begin(), names.begin(), names.end());
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && (a.st_mode & S_IFMT) == (b.st_mode & S_IFMT);
}

class Walk {
 public:
  // `start`: the folder a relative path begins in (AT_FDCWD: the working
  // folder); `locate`: the walk ends at what the path names, unopened.
  Walk(int start, std::string shownAs, bool locate) : start_(start), walked_(std::move(shownAs)), locate_(locate) {
    if (!walked_.empty() && walked_.back() != '/') walked_ += '/';
  }
  ~Walk() {
    if (folder_ >= 0) close(folder_);
  }

  bool Run(const std::string& path, TargetPlace& place);

  FileFailure failure = FileFailure::None;
  int error = 0;  // the failed call's errno, where one failed
  std::string message;

 private:
  bool Fail(FileFailure why, int error) {
    failure = why;
    this->error = error;
    message = error != 0 ? std::generic_category().message(error) : std::string();
    return false;
  }
  void Enter(int next, const std::string& name) {
    close(folder_);
    folder_ = next;
    walked_ += name + "/";
  }
  bool Restart(bool atRoot) {
    const int next = atRoot ? open("/", O_PATH | O_DIRECTORY | O_CLOEXEC)
                            : openat(start_, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (next < 0) return Fail(FileFailure::OpenTarget, errno);
    if (folder_ >= 0) close(folder_);
    folder_ = next;
    if (atRoot) walked_.assign(1, '/');  // not = "/": GCC 12 at -O3 warns falsely of overlap
    return true;
  }
  bool FollowLink(int link, const struct stat& info, const Step& step, std::deque<Step>& steps, TargetPlace& place);
  bool Finish(int file, const struct stat& info, const Step& step, TargetPlace& place);
  bool OpenStream(const std::string& name, const struct stat& checked, bool follow, TargetPlace& place);

  const int start_;
  int folder_ = -1;  // where the walk stands, an O_PATH descriptor
  std::string walked_;  // that folder's path as the walk spelled it, for messages
  const bool locate_;
  int links_ = 0;
};

bool Walk::Run(const std::string& path, TargetPlace& place) {
  std::deque<Step> steps;
  PushFront(path, false, steps);
  // "out/", "." and ".." name folders whatever they hold.
  if (steps.empty() || path.back() == '/' || steps.back().name == ".." ||
      (path.size() >= 2 && path.compare(path.size() - 2, 2, "/.") == 0))
    return Fail(FileFailure::TargetIsFolder, EISDIR);
  if (!Restart(path[0] == '/')) return false;
  while (!steps.empty()) {
    const Step step = steps.front();
    steps.pop_front();
    const bool last = steps.empty();
    const int file = openat(folder_, step.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (file < 0) {
      const int error = errno;
      if (error != ENOENT) return Fail(FileFailure::OpenTarget, error);
      if (step.fromLink) return Fail(FileFailure::DanglingLink, error);
      if (!last || locate_) return Fail(FileFailure::OpenTarget, error);
      place.kind = TargetKind::New;
      return Finish(-1, {}, step, place);
    }
    struct stat info {};
    if (fstat(file, &info) != 0) {
      const int error = errno;
      close(file);
      return Fail(FileFailure::OpenTarget, error);
    }
    if (S_ISLNK(info.st_mode)) {
      const bool followed = FollowLink(file, info, step, steps, place);
      close(file);
      if (!followed) return false;
      // A kernel link to a stream has been opened as the target itself.
      if (place.stream >= 0) return true;
      continue;
    }
    if (last && locate_) {
      close(file);
      place.folder = folder_;
      folder_ = -1;
      place.name = step.name;
      place.existing = info;
      return true;
    }
    if (last) return Finish(file, info, step, place);
    if (!S_ISDIR(info.st_mode)) {
      close(file);
      return Fail(FileFailure::OpenTarget, ENOTDIR);
    }
    Enter(file, step.name);
  }
  return Fail(FileFailure::TargetIsFolder, EISDIR);
}

bool Walk::FollowLink(int link, const struct stat& info, const Step& step, std::deque<Step>& steps,
                      TargetPlace& place) {
  if (std::optional<std::string> reason = UntrustedLinkReason(walked_ + step.name, info.st_uid)) {
    failure = FileFailure::UnsafeLink;
    message = std::move(*reason);
    return false;
  }
  if (++links_ > kMostLinks) return Fail(FileFailure::LinkLoop, ELOOP);
  char text[4096];
  const ssize_t length = readlinkat(link, "", text, sizeof text);
  if (length < 0) return Fail(FileFailure::OpenTarget, errno);
  if (static_cast<std::size_t>(length) == sizeof text) return Fail(FileFailure::OpenTarget, ENAMETOOLONG);
  const std::string linkText(text, static_cast<std::size_t>(length));
  if (steps.empty() && !locate_) {
    // The kernel's links to an open pipe or socket (/dev/stdout in a
    // pipeline, /proc/self/fd/N) name no path ("pipe:[N]"); only the kernel
    // can lead them to the stream, which is written as such.
    struct stat led {};
    struct stat named {};
    if (fstatat(folder_, step.name.c_str(), &led, 0) == 0 && !S_ISREG(led.st_mode) && !S_ISDIR(led.st_mode) &&
        fstatat(folder_, linkText.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT) {
      return OpenStream(step.name, led, true, place);
    }
  }
  PushFront(linkText, true, steps);
  if (!linkText.empty() && linkText[0] == '/') return Restart(true);
  return true;
}

bool Walk::Finish(int file, const struct stat& info, const Step& step, TargetPlace& place) {
  if (file >= 0 && S_ISDIR(info.st_mode)) {
    close(file);
    return Fail(FileFailure::TargetIsFolder, EISDIR);
  }
  if (file >= 0) close(file);
  place.name = step.name;
  if (file >= 0 && !S_ISREG(info.st_mode)) return OpenStream(step.name, info, false, place);
  // The temporary file is made and renamed through this descriptor.
  place.folder = openat(folder_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (place.folder < 0) return Fail(FileFailure::OpenTarget, errno);
  if (file < 0) return true;
  if (faccessat(place.folder, step.name.c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == EACCES ? Fail(FileFailure::TargetReadOnly, EACCES) : Fail(FileFailure::OpenTarget, errno);
  }
  place.kind = TargetKind::Existing;
  place.existing = info;
  return true;
}

// Opens a device, FIFO or socket as checked. Without O_TRUNC: the descriptor
// is compared before anything is done to the file.
bool Walk::OpenStream(const std::string& name, const struct stat& checked, bool follow, TargetPlace& place) {
  const int stream =
      openat(folder_, name.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | (follow ? 0 : O_NOFOLLOW));
  if (stream < 0) {
    // A link where the check saw a stream.
    if (errno == ELOOP && !follow) return Fail(FileFailure::TargetChanged, 0);
    return Fail(FileFailure::OpenTarget, errno);
  }
  struct stat opened {};
  if (fstat(stream, &opened) != 0 || !SameFile(opened, checked)) {
    close(stream);
    return Fail(FileFailure::TargetChanged, 0);
  }
  place.kind = TargetKind::Stream;
  place.stream = stream;
  place.name = name;
  return true;
}

}  // namespace

int CopyAccessAcl(int folder, const std::string& name, int descriptor) {
  static constexpr char kAttribute[] = "system.posix_acl_access";
  // The name is read through the folder's descriptor, the last name not followed.
  const std::string path = "/proc/self/fd/" + std::to_string(folder) + "/" + name;
  std::string acl(256, '\0');
  for (;;) {
    const ssize_t length = lgetxattr(path.c_str(), kAttribute, acl.data(), acl.size());
    if (length >= 0) {
      acl.resize(static_cast<std::size_t>(length));
      break;
    }
    if (errno == ENODATA || errno == ENOTSUP || errno == ENOENT) return 0;
    if (errno != ERANGE) return errno;
    const ssize_t needed = lgetxattr(path.c_str(), kAttribute, nullptr, 0);
    if (needed < 0) return errno;
    acl.resize(static_cast<std::size_t>(needed) + 64);
  }
  return fsetxattr(descriptor, kAttribute, acl.data(), acl.size(), 0) == 0 ? 0 : errno;
}

bool ResolveTarget(const std::string& path, TargetPlace& place, FileFailure& failure, std::string& message) {
  return ResolveTargetIn(AT_FDCWD, {}, path, place, failure, message);
}

bool ResolveTargetIn(int start, const std::string& shownAs, const std::string& path, TargetPlace& place,
                     FileFailure& failure, std::string& message) {
  Walk walk(start, shownAs, false);
  const bool resolved = walk.Run(path, place);
  failure = walk.failure;
  message = std::move(walk.message);
  return resolved;
}

bool LocateIn(int start, const std::string& shownAs, const std::string& path, TargetPlace& place,
              FileFailure& failure, std::string& message) {
  Walk walk(start, shownAs, true);
  const bool located = walk.Run(path, place);
  failure = walk.failure;
  message = std::move(walk.message);
  return located;
}

TargetStart ReadTargetStart(const std::filesystem::path& target, std::string& text, std::string& message) {
  TargetPlace place;
  Walk walk(AT_FDCWD, {}, true);
  if (!walk.Run(target.native(), place)) {
    switch (walk.failure) {
      case FileFailure::TargetIsFolder: return TargetStart::NotRegular;
      case FileFailure::OpenTarget:
        if (walk.error == ENOENT || walk.error == ENOTDIR || walk.error == ENAMETOOLONG) return TargetStart::Absent;
        message = std::move(walk.message);
        return TargetStart::Unreadable;
      default: return TargetStart::Absent;  // the conversion refuses such a link with its own message
    }
  }
  const int folder = place.folder;
  if (!S_ISREG(place.existing.st_mode)) {
    close(folder);
    return TargetStart::NotRegular;
  }
  const int descriptor = openat(folder, place.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  const int openError = errno;
  close(folder);
  if (descriptor < 0) {
    message = std::generic_category().message(openError);
    return TargetStart::Unreadable;
  }
  struct stat opened {};
  TargetStart start = TargetStart::Read;
  if (fstat(descriptor, &opened) != 0) {
    message = std::generic_category().message(errno);
    start = TargetStart::Unreadable;
  } else if (!SameFile(opened, place.existing)) {
    message = "it changed while it was read";
    start = TargetStart::Unreadable;
  }
  text.resize(kTargetLookLength);
  std::size_t filled = 0;
  while (start == TargetStart::Read && filled < text.size()) {
    const ssize_t count = read(descriptor, text.data() + filled, text.size() - filled);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) {
      message = std::generic_category().message(errno);
      start = TargetStart::Unreadable;
    }
    if (count <= 0) break;
    filled += static_cast<std::size_t>(count);
  }
  text.resize(filled);
  close(descriptor);
  return start;
}

}  // namespace quarnel
