#ifndef CODEPAGE_H
#define CODEPAGE_H

// Legacy single-byte encodings through Windows' own code pages.

// Qt built without ICU, as on Windows, decodes no legacy encodings; Windows
// itself knows them as code pages. Fills map with the character of each byte
// 0-255 in the single-byte encoding called name (windows-1251, cp866, ibm866,
// koi8-r, koi8-u, iso-8859-5, x-mac-cyrillic, ...; letter case ignored), -1
// for a byte that is no character, and returns true. Returns false for a name
// it does not know or a multi-byte code page, and always off Windows.
bool windowsCodePageMap(const char *name, int map[256]);

#endif // CODEPAGE_H
