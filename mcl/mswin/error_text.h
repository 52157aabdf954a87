// Short English texts for Win32 and Winsock error codes, for the library's "[code:text]" messages.
#pragma once

namespace mcl::mswin {

// Never null. A text from the system stays valid on the calling thread until its next call that asks the
// system.
const char* error_text(unsigned long code);

} // namespace mcl::mswin
