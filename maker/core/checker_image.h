// The checker executable that the maker carries and writes at the start of every checker.
#pragma once
#include <stddef.h>

// False when this build carries no checker image (a native build made without the
// Windows programs); a checker image must then be given from outside.
bool BuiltinCheckerImage(const unsigned char** data, size_t* size);
