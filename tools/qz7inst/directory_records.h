// The descriptions of directory files that more than one decoder of `qz7inst show` prints: a
// migration backup holds a copy of a directory (and of an intention file) and shows it the
// way the directory's own decoder does.
#ifndef QZ7_TOOLS_QZ7INST_DIRECTORY_RECORDS_H_
#define QZ7_TOOLS_QZ7INST_DIRECTORY_RECORDS_H_

#include "tools/qz7inst/show_record.h"

namespace qz7::cli {

// A system or local database directory file of any layout: the layout the migration would
// recognise, the header, the hash block, every whole entry with its named fields, the slots
// and the closing value. What does not add up goes to problems.
ShowRecord DescribeDatabaseDirectory(FileBytes bytes, Problems* problems);

// The intention file of a directory, current or earlier, told by its size.
ShowRecord DescribeIntentionFile(FileBytes bytes, Problems* problems);

// A node directory file of any layout: header, layout and every whole entry.
ShowRecord DescribeNodeDirectory(FileBytes bytes, Problems* problems);

}  // namespace qz7::cli

#endif  // QZ7_TOOLS_QZ7INST_DIRECTORY_RECORDS_H_
