#ifndef CSV_H
#define CSV_H

#include "filerecord.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

// The run's register and its list of values passed over, as tables for
// scripts: UTF-8 with a byte-order mark, ';' between fields, CR LF after each
// line, the column names first. A field beginning with '=', '+', '-', '@', tab
// or CR gets an apostrophe before it, so that a spreadsheet does not take it
// for a formula; a field holding ';', '"', CR or LF is quoted, inner '"'
// doubled.
namespace csv {

// One line per listed entry, in list order.
QByteArray registerTable(const QList<FileRecord> &records);
// One line per value passed over and kept, files in list order, values in
// document order.
QByteArray passedOverTable(const QList<FileRecord> &records);

} // namespace csv

#endif // CSV_H
