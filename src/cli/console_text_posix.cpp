#include "console_text.h"

namespace quorvil {

void ShowTextOnConsole() {}

} // namespace quorvil
