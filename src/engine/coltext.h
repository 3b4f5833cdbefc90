#ifndef COLTEXT_H
#define COLTEXT_H

// Texts of the walk over a file: the code attribute of a section, row or col
// as the file has it, and the text of a col.

#include "singlebyte.h"

#include <QtGlobal>

#include <algorithm>
#include <string>
#include <string_view>

namespace reading {

// A col's text is kept up to ValueText bytes, leading and trailing blanks
// aside, so that a hostile file cannot take the machine's memory: no number is
// that long, and the rest only has to be told apart from blanks.
constexpr std::size_t ValueText = 1 << 20;
// Of a col's text longer than ValueText, this many bytes are kept to show.
constexpr std::size_t ShownText = 1024;

// A code attribute's text as the file has it, kept for telling the user where
// a value was passed over. Nearly every code is written the plain way, as its
// number is: then only the number is kept, for this happens on every col of
// a large file. Any other text is copied.
class CodeText
{
public:
    void assign(std::string_view text, bool valid, quint32 code)
    {
        const auto digit = [](char c) { return c >= '0' && c <= '9'; };
        plain = valid && digit(text.front()) && digit(text.back()) && (text.front() != '0' || text.size() == 1);
        if (plain)
            number = code;
        else
            asWritten.assign(text);
    }
    std::string text() const;

private:
    bool plain = false;
    quint32 number = 0;
    std::string asWritten;
};

// The text of the col whose first child is still to come. Leading blanks are
// left out (blanks alone are no node, and a number is read without them), and
// so are trailing ones once the text is long; anything past ValueText bytes
// only marks it as no number.
class ColText
{
public:
    void clear()
    {
        gathered.clear();
        overLimit = blanksAfter = false;
    }
    // Gives back the memory a hostile file made it take.
    void trim()
    {
        if (gathered.capacity() > ValueText / 8)
            std::string().swap(gathered);
    }

    void append(const char *s, std::size_t n)
    {
        if (overLimit)
            return;
        if (gathered.empty()) {
            while (n > 0 && isXmlSpace(*s)) {
                ++s;
                --n;
            }
        }
        if (n == 0)
            return;
        if (gathered.size() + n <= ValueText && !blanksAfter) {
            gathered.append(s, n);
            return;
        }
        // Past the limit: blanks at the end are left out, anything else after
        // left-out blanks, or too much of it, is no number.
        std::size_t content = n;
        while (content > 0 && isXmlSpace(s[content - 1]))
            --content;
        if (content > 0 && (blanksAfter || gathered.size() + content > ValueText)) {
            overLimit = true;
            if (gathered.size() < ShownText)
                gathered.append(s, std::min(n, ShownText - gathered.size()));
            return;
        }
        gathered.append(s, content);
        blanksAfter = content < n;
    }

    // No text at all has come but blanks.
    bool blank() const { return gathered.empty() && !overLimit; }
    // More than ValueText bytes came: no number, whatever they are.
    bool cut() const { return overLimit; }
    std::string_view text() const { return gathered; }

    // The text as the user is shown it: blanks trimmed, a long one cut after
    // TextMax characters, with "…".
    std::string shown() const;

private:
    std::string gathered;
    bool overLimit = false;
    bool blanksAfter = false;
};

} // namespace reading

#endif // COLTEXT_H
