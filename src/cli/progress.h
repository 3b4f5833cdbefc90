// The line that shows how far a run has come, on a terminal only.

#ifndef PROGRESS_H
#define PROGRESS_H

#include "summer.h"

#include <QElapsedTimer>
#include <QString>

#include <cstdio>

class ProgressLine
{
public:
    // Shows nothing unless stream is a terminal: logs and pipes get no trace.
    explicit ProgressLine(FILE *stream);
    ~ProgressLine() { clear(); }

    // Has the summer report its progress here, if the line is shown at all.
    void attach(Summer &summer);
    // Takes the line away, before other messages are printed.
    void clear();

private:
    void update(const Summer::Progress &progress);

    FILE *stream;
    bool shown = false;
    QElapsedTimer sinceStart;
    qint64 lastShownMs = -1;
};

#endif // PROGRESS_H
