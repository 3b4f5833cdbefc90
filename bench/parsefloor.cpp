// The least that reading a large file costs when memory must not grow with
// it: the file is fed to expat in blocks of the size svodar-cli's reader
// uses, with no handlers at all. xmlwf maps a file and parses it in one call;
// fed in blocks, expat goes over each block once more to count its lines,
// which no handler can spare it.
//
//   svodar-parsefloor FILE...     (prints nothing; exit 1 at a file that is not well-formed)

#include <expat.h>

#include <cstdio>
#include <memory>

namespace {

constexpr int BlockSize = 1 << 20; // as the reader's

bool parse(const char *path)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(std::fopen(path, "rb"), std::fclose);
    if (!file)
        return false;
    std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> parser(XML_ParserCreate(nullptr), XML_ParserFree);
    for (;;) {
        void *buffer = XML_GetBuffer(parser.get(), BlockSize);
        if (!buffer)
            return false;
        const std::size_t n = std::fread(buffer, 1, BlockSize, file.get());
        if (std::ferror(file.get()))
            return false;
        const bool last = n < std::size_t(BlockSize);
        if (XML_ParseBuffer(parser.get(), int(n), last) != XML_STATUS_OK)
            return false;
        if (last)
            return true;
    }
}

} // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (!parse(argv[i])) {
            std::fprintf(stderr, "%s: not read or not well-formed\n", argv[i]);
            return 1;
        }
    }
    return 0;
}
