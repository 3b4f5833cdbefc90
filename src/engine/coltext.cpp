#include "coltext.h"

#include "filerecord.h"

namespace reading {

std::string CodeText::text() const
{
    return plain ? std::to_string(number) : asWritten;
}

std::string ColText::shown() const
{
    std::string_view t(gathered);
    // A text that was cut goes on beyond what is kept: no trailing blanks.
    while (!overLimit && !t.empty() && isXmlSpace(t.back()))
        t.remove_suffix(1);
    std::size_t characters = 0;
    for (std::size_t at = 0; at < t.size(); ++at) {
        if ((static_cast<unsigned char>(t[at]) & 0xc0) != 0x80 && ++characters > PassedOverValue::TextMax)
            return std::string(t.substr(0, at)) + "\u2026";
    }
    return std::string(t);
}

} // namespace reading
