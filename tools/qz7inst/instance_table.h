// Printing the instances that discovery found, shared by list and demo.
#ifndef QZ7_TOOLS_QZ7INST_INSTANCE_TABLE_H_
#define QZ7_TOOLS_QZ7INST_INSTANCE_TABLE_H_

#include <cstdio>

#include "entry/existing_instance_scan.h"

namespace qz7::cli {

void PrintInstanceTable(FILE* out, const entry::ExistingInstanceScan& scan);
void PrintInstanceJson(FILE* out, const entry::ExistingInstanceScan& scan);

}  // namespace qz7::cli

#endif  // QZ7_TOOLS_QZ7INST_INSTANCE_TABLE_H_
