// QZRRemote for Windows: the command line arrives as UTF-16 (wmain, linked
// with -municode), whatever the console's code page.
#include "app/tool_main.h"
#include "platform/win32/arguments_win32.h"

int wmain(int argc, wchar_t** argv) { return kvx::RunQZRRemote(kvx::Utf8Arguments(argc, argv)); }
