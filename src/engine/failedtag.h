#ifndef FAILEDTAG_H
#define FAILEDTAG_H

// The look back at a file whose parser failed: whether it failed inside a
// <report> or <draft> start tag.

#include "singlebyte.h"

#include <string_view>

namespace reading {

// Whether a parser of file that failed at byte offset error was inside a
// <report> or <draft> start tag (right after its name included). head holds the
// file's first bytes; table is how the file was fed, if by table.
bool failedInReportTag(QFile *file, const ByteTable *table, std::string_view head, qint64 error);

} // namespace reading

#endif // FAILEDTAG_H
