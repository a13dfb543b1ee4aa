#include "checker_image.h"

// This build was made without the Windows checker: vexorin-build then needs --image.
bool BuiltinCheckerImage(const unsigned char**, size_t*) { return false; }
