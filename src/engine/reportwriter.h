#ifndef REPORTWRITER_H
#define REPORTWRITER_H

#include "reportstore.h"

#include <QString>

#include <string>

class QIODevice;

// Writes summed reports as XML text: UTF-8 without byte-order mark and without
// declaration, one element a line, indented by one blank per level, attributes in
// a fixed order. Written by hand because the bytes are part of the format.
class ReportWriter
{
public:
    // The title items are the same in every report of a run, so their text is
    // made once: the okpo item first, then every other item in name order.
    ReportWriter(const QString &okpo, const TitleItems &titleItems);

    // Writes one group's report. A large one is put into text on up to threads
    // threads at once; the bytes are the same. False when the device did not
    // take all bytes.
    bool write(QIODevice *device, const ReportKey &key, const SectionMap &sections, int threads = 1) const;

    // "code_year_period.xml"
    static QString fileName(const ReportKey &key);
    // Characters 7 to 9 of a code of at least 9 characters, else "1".
    static QString form(const QString &code);

private:
    std::string title;
};

#endif // REPORTWRITER_H
