// Reading and committing the database manager configuration file that sqlfvald validates.
#ifndef QZ7_CONFIG_CONFIG_FILE_H_
#define QZ7_CONFIG_CONFIG_FILE_H_

#include <string>

#include "config/config_image.h"

namespace qz7::config {

// Fills image with zeros and reads up to 4096 bytes of the file at path (a Windows path) into
// it; a shorter file leaves the rest zero. False when the file cannot be opened for reading or
// the read reports an error. Nothing is changed on disk.
[[nodiscard]] bool ReadConfigFile(const char* path, ConfigFileImage& image);

enum class Staging { kReplaced, kFailed, kUnavailable };

// Writes image as it is (no checksum is stamped) to staged, a new file beside path, syncs and
// closes it, moves it over path in one step and syncs the folder, so that path holds the old
// or the new contents at every moment, whatever fails or ends the process. kUnavailable:
// staged could not be made and nothing changed; kFailed: the old file is still at path, or
// the new one is but its folder could not be synced.
[[nodiscard]] Staging ReplaceThroughNewFile(const std::string& path, const std::string& staged,
                                            const ConfigFileImage& image);

// Stamps a fresh checksum into image and makes it the whole content of the existing file at
// path (4096 bytes, whatever length the file had). False when the file cannot be opened for
// writing or a write fails.
//
// The new content is first written completely to a staging file beside the file (its full
// name with ".vld" appended; a free numbered name when that would be too long), which then
// replaces the file in one step, so that the file holds the old or the new content at every
// moment. A relative or drive-relative path ("C:qz7systm") is made full first, so the staging
// file lies in the same folder whatever form the path has. The staging file is synced before
// the replacement and the folder after it, so that a true result means the new content stays,
// also through a power cut: a failing sync of the staging file fails the call before the file
// changes; a failing sync of the folder comes after the change and fails the call too, with
// the file holding the new content for now but not known to keep it through a power cut. When
// the writing or the replacement fails, the staging file is removed and the old file stays as
// it was; one that a stopped commit left behind is written again by the next commit. Only
// when no staging file can be made in the folder (no right to create one) is the file
// rewritten in place (and synced), which a failing write can leave partly written.
[[nodiscard]] bool CommitConfigFile(const char* path, ConfigFileImage& image);

}  // namespace qz7::config

#endif  // QZ7_CONFIG_CONFIG_FILE_H_
