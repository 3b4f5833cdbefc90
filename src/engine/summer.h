#ifndef SUMMER_H
#define SUMMER_H

#include "reportstore.h"

#include <QString>

// Sums a folder of XML reports: every report of the same code, year and period
// goes into one summed report, stamped with the head organisation's OKPO code.
//
// A run is: construct, readReports(), then writeReports() if reading succeeded.
// Both return false on failure and leave a message for the user in lastError().
class Summer
{
public:
    Summer();
    virtual ~Summer();

    Summer(const Summer &) = delete;
    Summer &operator=(const Summer &) = delete;

    bool readReports(const QString &path);
    bool writeReports(const QString &path, const QString &okpo);
    QString lastError() const;

    // What has been summed so far (for callers that want to look before writing).
    const ReportMap &reportMap() const { return reports; }
    const TitleItems &titleItemMap() const { return titleItems; }

    // Number of threads that parse files and write summed ones; 0 (the default)
    // means one per core for parsing and at least 8 for writing, which mostly
    // waits for the disk. Results never depend on it: files are merged in list
    // order on the calling thread, and summed files replaced in key order.
    void setReaderThreads(int count) { readerThreads = count; }

private:
    void setError(const QString &message) { errorText = message; }

    ReportMap reports;
    TitleItems titleItems;
    QString errorText;
    int readerThreads = 0;
};

#endif // SUMMER_H
