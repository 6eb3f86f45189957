// Reading and committing the database manager configuration file that sqlfvald validates.
#ifndef QZ7_CONFIG_CONFIG_FILE_H_
#define QZ7_CONFIG_CONFIG_FILE_H_

#include "config/config_image.h"

namespace qz7::config {

// Fills image with zeros and reads up to 4096 bytes of the file at path (a Windows path) into
// it; a shorter file leaves the rest zero. False when the file cannot be opened for reading or
// the read reports an error. Nothing is changed on disk.
[[nodiscard]] bool ReadConfigFile(const char* path, ConfigFileImage& image);

// Stamps a fresh checksum into image and makes it the whole content of the existing file at
// path (4096 bytes, whatever length the file had). False when the file cannot be opened for
// writing or a write fails.
//
// The new content is first written completely to a fresh numbered file in the same folder,
// which then replaces the file at path in one step, so that path holds the old or the new
// content at every moment. The numbered file is synced before the replacement and the
// folder after it, so that a true result means the new content stays, also through a power
// cut: a failing sync of the numbered file fails the call before path changes; a failing sync
// of the folder comes after the change and fails the call too, with path holding the new
// content for now but not known to keep it through a power cut. When the writing or the
// replacement fails, the numbered file is removed and the old file stays at path as it was.
// Only when no numbered file can be made in the folder (no free name, no right to create one,
// or a drive-relative path) is the file rewritten in place (and synced), which a failing write
// can leave partly written.
[[nodiscard]] bool CommitConfigFile(const char* path, ConfigFileImage& image);

}  // namespace qz7::config

#endif  // QZ7_CONFIG_CONFIG_FILE_H_
