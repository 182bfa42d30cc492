// Windows reads a backslash in a path as a folder's end.
#include "quarnel/name_text.h"

namespace quarnel {

bool IsBackslashInNames() { return false; }

}  // namespace quarnel
