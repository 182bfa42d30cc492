// POSIX names are bytes: a backslash is one of them.
#include "quarnel/name_text.h"

namespace quarnel {

bool IsBackslashInNames() { return true; }

}  // namespace quarnel
