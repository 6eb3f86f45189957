// Windows path texts as pure string work: parsing "C:\DIR\FILE" and its relative forms,
// resolving "." and ".." against the current directory, case-blind comparison of names and
// '*' / '?' name patterns. No disk is touched here; the backend maps the result onto the host.
// Multibyte text is walked by characters in the active code page, so the second byte of a
// double-byte character is never taken for a separator or folded to another case.
#ifndef QZ7_PLATFORM_WINDOWS_PATH_H_
#define QZ7_PLATFORM_WINDOWS_PATH_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qz7::platform {

// The longest path a file operation accepts, without the terminating NUL (MAX_PATH - 1).
constexpr size_t kMaxPathLength = 259;

// An absolute Windows path after resolution: a drive and the names below its root.
struct WindowsPath {
  char drive = 'C';                     // upper case
  std::vector<std::string> components;  // no empty names, no "." or ".."
  bool trailingSeparator = false;       // the text ended in a separator (kept by FullPath)

  bool IsDriveRoot() const { return components.empty(); }
  // "C:\DIR\FILE"; "C:\" for the root; a trailing backslash when trailingSeparator is set.
  std::string ToString() const;
  // The drive root and every component but the last.
  WindowsPath Parent() const;
};

// The current directory of the process (in Windows form, "C:\" at start) and the last current
// directory used on each other drive, which "D:NAME" resolves against.
class CurrentDirectories {
 public:
  const std::string& Current() const { return current_; }
  // For a drive-relative path: the current directory when it is on that drive, else the last
  // one set on that drive, else the drive's root.
  std::string ForDrive(char drive) const;
  // path must be an absolute path as WindowsPath::ToString writes it.
  void Set(const std::string& path);
  void Reset();

 private:
  std::string current_ = "C:\\";
  std::map<char, std::string> byDrive_;
};

struct ParseOptions {
  // '*' and '?' are allowed in the last component (a FindFirst pattern).
  bool allowWildcards = false;
  // Paths longer than kMaxPathLength, given or resolved, fail with 206.
  bool enforceMaxPath = true;
};

// Resolves a Windows path text ('\' or '/' as separators) against the current directories.
// Returns 0, or: 3 (path not found) for a null or empty text and for UNC and device paths
// ("\\server\share", "\\?\C:\"); 123 (invalid name) for a bad drive letter, a ':' inside a
// name, or a character Windows forbids in names ("<>|\"", control characters, and '*' '?'
// unless allowed); 206 when the text or the result is too long. Names lose the closing dots and
// spaces Windows drops: one '.' of a name followed by a separator, every '.' and ' ' at the end
// of the text ("C:\DIR.\FILE. " is "C:\DIR\FILE"); a final pattern with wildcards is kept.
uint32_t ParseWindowsPath(const char* text, const CurrentDirectories& current,
                          const ParseOptions& options, WindowsPath* out);

// Names compared as Windows compares them: letters of single-byte characters without regard to
// case (in code page 1252 the accented ones too, "\xE9" equals "\xC9"); double-byte
// characters byte for byte.
bool NamesEqualIgnoreCase(const std::string& a, const std::string& b);
// The name with its letters folded as NamesEqualIgnoreCase folds them (same length): two names
// are equal without regard to case exactly when their folded forms are equal.
std::string FoldNameCase(const std::string& name);
// An ordering consistent with NamesEqualIgnoreCase (negative, 0, positive).
int CompareNamesIgnoreCase(const std::string& a, const std::string& b);
// True when name matches pattern: '*' any run of characters, '?' exactly one character,
// others case-blind; "*.*" matches every name, as on Windows.
bool MatchesNamePattern(const std::string& name, const std::string& pattern);
// True when the text holds '*' or '?' (outside double-byte characters).
bool HasWildcards(const std::string& text);
// True when name is one Windows reserves for a device as the last name of a path: CON, PRN,
// AUX, NUL, COM1 to COM9 or LPT1 to LPT9 in any case, also with an extension or with spaces
// before it ("nul.txt", "COM1 .log").
bool IsReservedDeviceName(const std::string& name);

}  // namespace qz7::platform

#endif  // QZ7_PLATFORM_WINDOWS_PATH_H_
