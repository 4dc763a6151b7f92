// The front end: banner, the one argument and its check, the walk, the exit code.
#pragma once

#include "text/text.h"

// Runs the tool. argument_count counts the program's name too; root_argument is the argument
// after it as UTF-16, or nullptr unless argument_count is 2. Returns the process exit code: 0
// once the tree was walked and every name with letters of the table got its Latin form; 2 once
// it was walked with something left as it is, or a directory not listed; 1 for a wrong argument
// count or a root that is not an existing directory (a root too long for a path buffer counts as
// that).
int kirlatin_main(int argument_count, const char16_t* root_argument);
