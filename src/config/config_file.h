// Reading and committing the database manager configuration file that sqlfvald validates.
#ifndef QZ7_CONFIG_CONFIG_FILE_H_
#define QZ7_CONFIG_CONFIG_FILE_H_

#include "config/config_image.h"

namespace qz7::config {

// Fills image with zeros and reads up to 4096 bytes of the file at path (a Windows path) into
// it; a shorter file leaves the rest zero. False when the file cannot be opened for reading or
// the read reports an error. Nothing is changed on disk.
bool ReadConfigFile(const char* path, ConfigFileImage& image);

// Stamps a fresh checksum into image and makes it the whole content of the existing file at
// path (4096 bytes, whatever length the file had). False when the file cannot be opened for
// writing or a write fails.
//
// The new content is first written completely to a fresh numbered file beside the old one;
// the old file is then renamed to a second numbered name, the new one renamed into place and
// the old one removed. Any failure up to the last rename leaves the old file at path as it was
// (a failed final rename moves it back). Only when no file can be created or renamed in the
// folder is the file rewritten in place, which a failing write can leave partly written.
bool CommitConfigFile(const char* path, ConfigFileImage& image);

}  // namespace qz7::config

#endif  // QZ7_CONFIG_CONFIG_FILE_H_
