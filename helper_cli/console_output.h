// The interpreter's console writer. Everything goes through the narrow standard output stream, wide texts
// converted to UTF-8, so one byte stream carries the whole report in order: a wide stream in the "C" locale
// would fail at the first character outside ASCII and drop the rest of the report silently.
#pragma once

#include <string>
#include <string_view>

namespace helper_cli {

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string utf16_to_utf8(std::u16string_view units);

// `text` as the console may show it: C0 controls other than the tab, DEL and C1 controls (U+0080 to U+009F,
// as UTF-8 or as single bytes outside UTF-8) become U+FFFD; everything else is left as it is.
std::string printable(std::string_view text);

// Writes printable(`text`) and a line break, then flushes.
void write_line(std::string_view text);

// Writes printable(`text`) without ending the line, then flushes.
void write_text(std::string_view text);

} // namespace helper_cli
