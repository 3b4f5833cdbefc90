#ifndef RESOLVEDPATH_H
#define RESOLVEDPATH_H

#include <QString>

// What a path names, for telling whether two paths are one: the absolute path
// with links, "." and ".." resolved. A path that does not exist yet (a folder
// a run is about to make) is resolved as far as it exists, the rest following
// as written, so it compares equal to the same place named another way. An
// empty path is the current folder, as QDir takes it. On Windows the letter
// case is folded, as the file system ignores it.
QString resolvedPath(const QString &path);

#endif // RESOLVEDPATH_H
