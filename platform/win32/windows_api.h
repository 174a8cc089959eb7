#pragma once
// <windows.h> for the platform layer. The header maps many API names to
// their A or W function by macro (DeleteFile, CreateMutex, MessageBox, ...);
// the same names are operations and classes of platform/, so the macros are
// removed here and the layer calls the W functions by their own names.
#include <windows.h>

#undef CreateDirectory
#undef CreateFileMapping
#undef CreateMutex
#undef CreateService
#undef DeleteFile
#undef MessageBox
#undef OpenFileMapping
#undef OpenMutex
#undef OpenService
#undef RemoveDirectory
#undef ReplaceFile
#undef StartService
#undef Yield
