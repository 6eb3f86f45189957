// The migration backup decoders of `qz7inst show`: SQLDDDIR.TMP / SQLDDDIR.BAK of a database
// directory and SQLNDDIR.TMP / SQLNDDIR.BAK of a node directory. Each shows its header (the
// status "I" unfinished or "C" completed, the layout it was made for), the lengths of the
// copies it holds, and the copies themselves as their own decoders show them. A backup is
// known by its signature, or by its release label when the signature is damaged (which the
// migration refuses, so show reports it).
#include <cstring>
#include <string>

#include "base/directory_layout.h"
#include "base/node_directory_layout.h"
#include "tools/qz7inst/directory_records.h"
#include "tools/qz7inst/file_decoder.h"

namespace qz7::cli {
namespace {

std::string StatusMeaning(char status, Problems* problems) {
  if (status == base::kBackupStatusIncomplete) return "unfinished";
  if (status == base::kBackupStatusComplete) return "completed";
  problems->push_back("status byte " + std::to_string(static_cast<unsigned char>(status)) +
                      " is neither \"I\" nor \"C\"");
  return "unknown";
}

// Adds the problems of a copy's own description under a prefix.
void AddCopyProblems(const char* copy, const Problems& found, Problems* problems) {
  for (const std::string& problem : found) problems->push_back(std::string(copy) + ": " + problem);
}

bool HasSignatureOrLabel(FileBytes bytes, const char* signature, size_t checkLength,
                         const char* label, size_t labelOffset, size_t labelWidth) {
  if (bytes.size() >= checkLength && std::memcmp(bytes.data(), signature, checkLength) == 0) {
    return true;
  }
  return Holds(bytes, labelOffset, labelWidth) &&
         FieldText(bytes, labelOffset, labelWidth) == label;
}

// ---- SQLDDDIR.TMP / .BAK ----

bool RecognisesDatabaseBackup(const DecodedFile& file) {
  return HasSignatureOrLabel(file.bytes, base::kBackupSignature, base::kBackupSignatureCheckLength,
                             base::kBackupReleaseLabel, base::kBackupReleaseOffset,
                             base::kBackupReleaseWidth);
}

// The layout a backup's layout name stands for; 99 when it names none.
base::DirectoryLayoutType DatabaseLayoutOfName(const std::string& name) {
  using base::DirectoryLayoutType;
  for (DirectoryLayoutType type :
       {DirectoryLayoutType::kLayout1, DirectoryLayoutType::kLayout2, DirectoryLayoutType::kLayout3,
        DirectoryLayoutType::kLayout4, DirectoryLayoutType::kEmpty}) {
    if (name == base::DirectoryLayoutName(type)) return type;
  }
  return DirectoryLayoutType::kUnrecognised;
}

int PrintDatabaseBackup(Invocation& invocation, const DecodedFile& file) {
  const FileBytes bytes(file.bytes);
  Problems problems;
  ShowRecord body;
  const auto finish = [&]() {
    return FinishShow(invocation, file, "database-directory-backup",
                      "database directory migration backup (SQLDDDIR.TMP, SQLDDDIR.BAK)", body,
                      problems);
  };
  if (bytes.size() < base::kBackupHeaderSize) {
    body.Text("signature", FieldText(bytes, 0, 40));
    problems.push_back("truncated: " + std::to_string(bytes.size()) +
                       " bytes, the backup header takes " +
                       std::to_string(base::kBackupHeaderSize));
    return finish();
  }
  unsigned char raw[base::kBackupHeaderSize];
  std::memcpy(raw, bytes.data(), sizeof raw);
  const base::DirectoryBackupHeader header = base::DecodeBackupHeader(raw);
  body.Text("signature", header.signature.c_str())
      .Flag("signatureMatches", header.signatureMatches);
  body.Text("layoutName", header.layoutName.c_str());
  body.Number("layoutType", static_cast<uint64_t>(DatabaseLayoutOfName(header.layoutName.c_str())));
  body.Text("releaseLabel", header.releaseLabel.c_str());
  body.Text("status", std::string(1, header.status));
  body.Word("statusMeaning", StatusMeaning(header.status, &problems));

  const int64_t size = static_cast<int64_t>(bytes.size());
  const int64_t directoryLength = base::BackupDirectoryLength(header);
  const int64_t intentionLength = size - static_cast<int64_t>(header.directoryEnd);
  body.Number("directoryStart", header.directoryStart).Number("directoryEnd", header.directoryEnd);
  body.Signed("directoryLength", directoryLength).Signed("intentionLength", intentionLength);
  if (!header.signatureMatches) {
    problems.push_back("signature damaged: the migration will not restore from this backup");
  }
  if (header.directoryStart != base::kBackupHeaderSize) {
    problems.push_back("the directory copy should start at " +
                       std::to_string(base::kBackupHeaderSize));
  }
  if (directoryLength <= 0 || intentionLength < 0 ||
      header.directoryStart < base::kBackupHeaderSize) {
    problems.push_back("the directory copy (" + std::to_string(header.directoryStart) + " to " +
                       std::to_string(header.directoryEnd) + ") does not lie within the " +
                       std::to_string(size) + " bytes of the file");
    return finish();
  }
  Problems found;
  body.Child(
      "directory",
      DescribeDatabaseDirectory(
          bytes.subspan(header.directoryStart, static_cast<size_t>(directoryLength)), &found));
  AddCopyProblems("directory copy", found, &problems);
  if (intentionLength > 0) {
    found.clear();
    body.Child("intention", DescribeIntentionFile(bytes.subspan(header.directoryEnd), &found));
    AddCopyProblems("intention copy", found, &problems);
  }
  return finish();
}

// ---- SQLNDDIR.TMP / .BAK ----

bool RecognisesNodeBackup(const DecodedFile& file) {
  return HasSignatureOrLabel(file.bytes, base::kNodeBackupSignature,
                             base::kNodeBackupSignatureCheckLength, base::kNodeBackupReleaseLabel,
                             base::kNodeBackupReleaseOffset, base::kNodeBackupReleaseWidth);
}

int PrintNodeBackup(Invocation& invocation, const DecodedFile& file) {
  const FileBytes bytes(file.bytes);
  Problems problems;
  ShowRecord body;
  const auto finish = [&]() {
    return FinishShow(invocation, file, "node-directory-backup",
                      "node directory migration backup (SQLNDDIR.TMP, SQLNDDIR.BAK)", body,
                      problems);
  };
  body.Text("signature", FieldText(bytes, 0, base::kNodeBackupSignatureWidth));
  if (bytes.size() < base::kNodeBackupHeaderSize) {
    problems.push_back("truncated: " + std::to_string(bytes.size()) +
                       " bytes, the backup header takes " +
                       std::to_string(base::kNodeBackupHeaderSize));
    return finish();
  }
  unsigned char raw[base::kNodeBackupHeaderSize];
  std::memcpy(raw, bytes.data(), sizeof raw);
  const bool signatureMatches = base::NodeBackupSignatureMatches(raw);
  const std::string layoutName =
      FieldText(bytes, base::kNodeBackupLayoutNameOffset, base::kNodeBackupLayoutNameWidth);
  auto layoutType = base::NodeDirectoryLayoutType::kUnrecognised;
  for (const base::NodeLayoutSpec& layout : base::kNodeLayouts) {
    if (layoutName == layout.backupName) layoutType = layout.type;
  }
  const char status = static_cast<char>(bytes[base::kNodeBackupStatusOffset]);
  const size_t dataLength = bytes.size() - base::kNodeBackupHeaderSize;
  body.Flag("signatureMatches", signatureMatches);
  body.Text("layoutName", layoutName).Number("layoutType", static_cast<uint64_t>(layoutType));
  body.Text("releaseLabel",
            FieldText(bytes, base::kNodeBackupReleaseOffset, base::kNodeBackupReleaseWidth));
  body.Text("status", std::string(1, status));
  body.Word("statusMeaning", StatusMeaning(status, &problems));
  body.Number("directoryLength", dataLength);
  if (!signatureMatches) {
    problems.push_back("signature damaged: the migration will not restore from this backup");
  }
  if (dataLength == 0) {
    problems.push_back("the backup holds no directory: the migration will not restore from it");
    return finish();
  }
  Problems found;
  body.Child("directory",
             DescribeNodeDirectory(bytes.subspan(base::kNodeBackupHeaderSize), &found));
  AddCopyProblems("directory copy", found, &problems);
  return finish();
}

QZ7_FILE_DECODER("database-directory-backup", "database directory migration backup", 10,
                 RecognisesDatabaseBackup, PrintDatabaseBackup);
QZ7_FILE_DECODER("node-directory-backup", "node directory migration backup", 10,
                 RecognisesNodeBackup, PrintNodeBackup);

}  // namespace
}  // namespace qz7::cli
