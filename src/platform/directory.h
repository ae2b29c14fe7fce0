// The directories the program writes into and the files it creates in them, all reached through
// open descriptors.
//
// The program runs as root in a directory an operator chose; anyone else who can write on the
// way could plant a symbolic link, or a directory of their own, where the program is about to
// write, and have root's writes land elsewhere. So:
// - a directory the program writes into is one it made itself (mode 0700 whatever the umask), or
//   one it found and checked after opening it without following a link: a directory, owned by
//   the effective user, writable by nobody else;
// - a file is always created new, relative to such a directory's descriptor
//   (O_CREAT|O_EXCL|O_NOFOLLOW), mode 0600 whatever the umask: a name that exists, a link
//   included, is never opened for writing;
// - a file found on disk is read back only when it is one this program wrote: regular, its own,
//   mode 0600, in a directory that passed the check;
// - what must survive a power cut is flushed: the file and the directories that lead to it.
// Nothing here prints or traces: callers decide what a refusal means and say so.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hlv::platform {

// Why a directory or a file was not made or not used.
struct FileProblem {
  // The errno; ELOOP for a link, EPERM for a directory that failed its check.
  int error = 0;
  // The directory or file concerned; a directory's ends in "/".
  std::string path;
  // What is wrong, for a person: "is a symbolic link", "could not be made: ...".
  std::string reason;
};

// A file this program created, open for writing; closed when destroyed.
class NewFile {
 public:
  NewFile() = default;
  NewFile(int descriptor, std::string path);
  ~NewFile();
  NewFile(NewFile&& other) noexcept;
  NewFile& operator=(NewFile&& other) noexcept;
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  bool isOpen() const { return descriptor_ >= 0; }
  int descriptor() const { return descriptor_; }
  const std::string& path() const { return path_; }

  // Writes every byte, going on after a short write or an interrupted one; false with errno
  // set (EFBIG, ENOSPC, EIO, ...).
  bool writeAll(const void* data, std::size_t size);
  // fsync: the contents on stable storage; false with errno set.
  bool sync();
  // Closes the file; false with errno set when the close reports an error (on some file systems
  // a write that failed shows only here).
  bool close();
  // Gives the descriptor up to the caller, who closes it.
  int release();

 private:
  int descriptor_ = -1;
  std::string path_;
};

// An open directory and its path text.
class Directory {
 public:
  Directory() = default;
  ~Directory();
  Directory(Directory&& other) noexcept;
  Directory& operator=(Directory&& other) noexcept;
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;

  // The directory at `path` as it is named, links on the way followed: the operator's own (the
  // program's directory), which is not checked.
  static Directory openAsNamed(const std::string& path, FileProblem& problem);

  // The directory `name` in this one: made with mode 0700 when there is none, otherwise used
  // only when it passes the check (a directory, not a link, owned by the effective user, not
  // writable by group or others). `created` tells which happened.
  Directory openOrMakePrivate(const std::string& name, FileProblem& problem,
                              bool* created = nullptr) const;
  // A new directory `name` in this one, mode 0700. A name that is taken, by whatever, fails with
  // EEXIST: an existing directory is never used.
  Directory makePrivate(const std::string& name, FileProblem& problem) const;
  // The existing directory `name` in this one, used only when it passes the check above; nothing
  // is made.
  Directory openExisting(const std::string& name, FileProblem& problem) const;

  // The names of the entries of this directory ("." and ".." left out); false with errno set.
  bool list(std::vector<std::string>& names) const;
  // Reads the whole of a file this program wrote: a regular file (not a link), owned by the
  // effective user, mode 0600, of at most `maximumSize` bytes. Anything else is refused with
  // `problem` saying why, and nothing of it is read.
  bool readOwnFile(const std::string& name, uint64_t maximumSize, std::vector<uint8_t>& bytes,
                   FileProblem& problem) const;

  bool isOpen() const { return descriptor_ >= 0; }
  int descriptor() const { return descriptor_; }
  const std::string& path() const { return path_; }  // ends in "/"

  // A new file `name` in this directory, mode 0600, open for writing. An existing name (a link,
  // a FIFO, anything) fails with EEXIST and is left alone; a name with a "/" or "." or ".." fails
  // with EINVAL. On failure the file is not open and `error` holds the errno.
  NewFile createFile(const std::string& name, int& error) const;
  // Removes a file of this directory; false with errno set.
  bool removeFile(const std::string& name) const;
  // Renames a file of this directory to `to`, replacing a file of that name: the way a file
  // written under a temporary name, and flushed, takes its place whole. false with errno set.
  bool renameFile(const std::string& from, const std::string& to) const;
  // Gives a file of this directory the name `to` only when no entry has that name: false with
  // errno EEXIST when one has (it is left as it is), or another errno. The way a file written
  // under a name that says it is not finished takes its final name once it is whole.
  bool renameFileNoReplace(const std::string& from, const std::string& to) const;
  // fsync of the directory: the files made, renamed or removed in it stay so after a power cut.
  // false with errno set.
  bool sync() const;

 private:
  Directory(int descriptor, std::string path);
  // Opens `name` in this directory without following a link and checks it; `made` when this
  // program has just made it, which then gets its mode set.
  Directory openChecked(const std::string& name, bool made, FileProblem& problem) const;

  int descriptor_ = -1;
  std::string path_;
};

// Whether a name may stand for an entry of a directory: not empty, no "/", not "." or "..".
bool isPlainName(const std::string& name);

}  // namespace hlv::platform
