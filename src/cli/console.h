// Text output of svodar-cli on stdout and stderr.

#ifndef CONSOLE_H
#define CONSOLE_H

#include <QString>

#include <cstdio>

// Writes text and a line end to stream (stdout or stderr) and flushes it.
// The stream gets the text as UTF-8 bytes, except a Windows console, which
// gets it through WriteConsoleW: a console's code page is rarely UTF-8 there,
// and Cyrillic written as bytes would come out garbled.
void writeLine(FILE *stream, const QString &text);

// Whether stream is a terminal (a console on Windows), not a file or a pipe.
bool isTerminal(FILE *stream);

// Writes text over the stream's current line and leaves the line unended, to
// be written over again; an empty text clears what was there.
void rewriteLine(FILE *stream, const QString &text);

#endif // CONSOLE_H
