// The platform calls that the portable code of both programs makes, and its message boxes.
#pragma once
#include <stddef.h>
#include <stdint.h>

// An open file of the platform; null stands for none.
typedef void* FileRef;

// Stands for the running executable's folder (without its last separator) at the start of
// the paths, and anywhere in the texts, that come from an ExecutablePath which code page 932
// cannot write: a Korean or accented user name in the Downloads path. The platform that
// handed it out puts its own name of the folder back when it opens a path or shows a text.
// No code-page-932 character contains this byte and no Windows name can hold it.
constexpr char kExecutableFolderMark = '\x01';

// Begins a path whose rest is the platform's own name for it, not code page 932: a file or
// folder found on disk under a name that code page 932 cannot write (one an unpacker garbled).
// Only the platform that handed such a path out (through a listing of names) can open it.
constexpr char kNativePathMark = '\x02';

// Enclose, inside a code-page-932 text, a name as the system has it (UTF-8) that code page
// 932 cannot write: so that a message names such a file whole (café.txt, 한글.txt), not with a
// stand-in for each character. Whatever shows the text converts the enclosed part as UTF-8.
constexpr char kForeignNameBegin = '\x03';
constexpr char kForeignNameEnd = '\x04';

// File and folder access by path. Paths are code-page-932 byte strings with backslash
// separators on every platform; each implementation converts them at its own boundary.
// OpenRead, Read and Close may be called from several threads at once, each thread on files
// of its own (the concurrent digest of the command-line tools does so).
class Platform {
 public:
  // Opens a file for binary reading without denying others reading or writing it.
  virtual FileRef OpenRead(const char* path) = 0;
  // Reads up to `size` bytes; returns the count read (less than `size` only at the end
  // of the file) or -1 on a read error.
  virtual int32_t Read(FileRef file, void* buffer, uint32_t size) = 0;
  virtual bool Seek(FileRef file, uint64_t offset) = 0;
  virtual void Close(FileRef file) = 0;
  virtual bool FileSize(const char* path, uint64_t* size) = 0;
  // True exactly when the path names an existing folder.
  virtual bool IsFolder(const char* path) = 0;
  // The running executable's own path; false when it cannot be had or does not fit. When
  // code page 932 cannot write it, the path is kExecutableFolderMark, a backslash and the
  // file name, and this platform takes that text for the executable itself.
  virtual bool ExecutablePath(char* buffer, size_t capacity) = 0;
  // After ExecutablePath failed: true when it failed only because the path is longer than
  // `capacity` bytes (or than this platform takes). `buffer` then holds as much of the path
  // as it can, ended by "..." where it was cut, for a text that names it: in code page 932,
  // or enclosed in kForeignNameBegin and kForeignNameEnd in UTF-8. False by default, for a
  // platform whose executable's path always fits.
  virtual bool ExecutablePathTooLong(char* buffer, size_t capacity) {
    (void)buffer;
    (void)capacity;
    return false;
  }

 protected:
  ~Platform() = default;
};

// What kind of box a text is shown in: the button set and the icon.
enum MessageKind {
  kMessageWarning,   // OK, exclamation icon: errors of the build job and the checker
  kMessageQuestion,  // OK and Cancel, question icon
  kMessagePlain,     // OK, no icon: success boxes and the maker's own errors
};

// Shows a text to the user and waits; true when OK was chosen.
class MessageSink {
 public:
  virtual bool Show(const char* text, const char* title, MessageKind kind) = 0;

 protected:
  ~MessageSink() = default;
};
