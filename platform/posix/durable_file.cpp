#include "platform/durable_file.h"

#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace velmar::platform {

namespace {

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::string Reason(std::string_view what, const std::string& path, int error) {
  std::string text(what);
  text += ' ';
  text += path;
  text += ": ";
  text += std::strerror(error);
  return text;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The folder's entry of a renamed file reaches the disk only with the
// folder itself; a failure here loses nothing that was there before.
void SyncFolder(const std::string& path) {
  const int fd = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

NewFileResult WriteNewFile(const std::filesystem::path& path, std::string_view data) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return errno == EEXIST ? NewFileResult::kNameTaken : NewFileResult::kFailed;
  const bool ok = WriteAll(fd, data) && ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  if (!ok || !closed) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
    return NewFileResult::kFailed;
  }
  return NewFileResult::kWritten;
}

bool CreatePrivateFolder(const std::filesystem::path& folder) {
  std::error_code ec;
  if (folder.has_parent_path() && folder.parent_path() != folder) {
    std::filesystem::create_directories(folder.parent_path(), ec);
  }
  if (::mkdir(folder.c_str(), 0700) == 0) return true;
  return std::filesystem::is_directory(folder, ec);
}

bool OwnFolder(const std::filesystem::path& folder, std::string& reason) {
  CreatePrivateFolder(folder);
  struct stat st;
  if (::lstat(folder.c_str(), &st) != 0) {
    reason = std::strerror(errno);
    return false;
  }
  if (S_ISLNK(st.st_mode)) {
    reason = "it is a symbolic link";
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    reason = std::strerror(ENOTDIR);
    return false;
  }
  return true;
}

std::string WriteTarget(const std::string& path, bool followLink) {
  if (!followLink) return path;
  std::string current = path;
  // As many links as the system itself follows in one lookup.
  for (int depth = 0; depth < 40; ++depth) {
    struct stat st;
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    std::string link(static_cast<std::size_t>(PATH_MAX), '\0');
    const ssize_t n = ::readlink(current.c_str(), link.data(), link.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= link.size()) return current;
    link.resize(static_cast<std::size_t>(n));
    current = link.front() == '/' ? link : FolderOf(current) + "/" + link;
  }
  return current;
}

bool ReplacingFile::Open(const std::string& path, const FileWriteOptions& options,
                         std::string& reason) {
  Abandon();
  failed_ = false;
  mustNotExist_ = options.mustNotExist;
  target_ = WriteTarget(path, options.followLink);
  struct stat old;
  const bool exists = ::lstat(target_.c_str(), &old) == 0;
  if (exists && options.mustNotExist) {
    reason = Reason("cannot create", path, EEXIST);
    return false;
  }
  // Only a regular file (or a link the new file takes the place of) is
  // replaced: a folder, a pipe or a device is nothing a text belongs in.
  if (exists && !S_ISREG(old.st_mode) && !S_ISLNK(old.st_mode)) {
    reason = "cannot write " + path + ": not a regular file";
    return false;
  }
  static std::atomic<unsigned> counter{0};
  const mode_t mode = options.privateFile ? 0600 : 0666;
  for (int attempt = 0; attempt < 100; ++attempt) {
    // The form "<name>.tmp.<pid>.<number>" lets the cookie store recognise
    // the leftovers of a killed writer.
    temp_ = target_ + ".tmp." + std::to_string(::getpid()) + "." +
            std::to_string(counter.fetch_add(1));
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd_ >= 0 || errno != EEXIST) break;
  }
  if (fd_ < 0) {
    reason = Reason("cannot create a temporary file for", path, errno);
    temp_.clear();
    return false;
  }
  // A file that is replaced keeps who may read it; a private file never
  // becomes readable by others that way.
  if (exists && S_ISREG(old.st_mode) && !options.privateFile) {
    ::fchmod(fd_, old.st_mode & 07777);
  }
  return true;
}

bool ReplacingFile::Write(std::string_view data, std::string& reason) {
  if (fd_ < 0 || failed_) return false;
  if (!WriteAll(fd_, data)) {
    failed_ = true;
    reason = Reason("cannot write", target_, errno);
    return false;
  }
  return true;
}

bool ReplacingFile::Commit(std::string& reason) {
  if (fd_ < 0) return false;
  if (failed_) {
    Abandon();
    return false;
  }
  if (::fsync(fd_) != 0) {
    reason = Reason("cannot write", target_, errno);
    Abandon();
    return false;
  }
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) {
    reason = Reason("cannot write", target_, errno);
    ::unlink(temp_.c_str());
    temp_.clear();
    return false;
  }
  int moved;
  if (mustNotExist_) {
    moved = ::renameat2(AT_FDCWD, temp_.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE);
  } else {
    moved = ::rename(temp_.c_str(), target_.c_str());
  }
  if (moved != 0) {
    reason = Reason("cannot replace", target_, errno);
    ::unlink(temp_.c_str());
    temp_.clear();
    return false;
  }
  temp_.clear();
  SyncFolder(target_);
  return true;
}

void ReplacingFile::Abandon() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());
    temp_.clear();
  }
}

bool ReplaceFile(const std::string& path, std::string_view data, const FileWriteOptions& options,
                 std::string& reason) {
  ReplacingFile file;
  return file.Open(path, options, reason) && file.Write(data, reason) && file.Commit(reason);
}

bool AppendToFile(const std::string& path, std::string_view data, const FileWriteOptions& options,
                  std::string& reason) {
  const int nofollow = options.followLink ? 0 : O_NOFOLLOW;
  bool created = false;
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC | nofollow);
  if (fd < 0 && errno == ENOENT) {
    fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC | nofollow,
                options.privateFile ? 0600 : 0666);
    created = fd >= 0;
  }
  if (fd < 0) {
    reason = Reason("cannot open", path, errno);
    return false;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    reason = "cannot write " + path + ": not a regular file";
    return false;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  bool ok = WriteAll(fd, data);
  int error = errno;
  if (ok && ::close(fd) != 0) {
    ok = false;
    error = errno;
    fd = -1;
  }
  if (ok) return true;
  reason = Reason("cannot write", path, error);
  if (created) {
    if (fd >= 0) ::close(fd);
    ::unlink(path.c_str());
    return false;
  }
  // What this call added goes again; the file is as long as before.
  if (fd < 0) fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | nofollow);
  if (fd >= 0) {
    if (::ftruncate(fd, st.st_size) != 0) {
      // Nothing more can be done than to say so; the reason stays the write's.
    }
    ::close(fd);
  }
  return false;
}

}  // namespace velmar::platform
