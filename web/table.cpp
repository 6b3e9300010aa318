// The page shows the seven ranges before and after a run. It reads where
// they are from the program's own table, never from a copy of its own.
#include <cstddef>

#include <emscripten/emscripten.h>

#include "../src/patch_table.h"

namespace {

bool in_table(int i)
{
	return i >= 0 && static_cast<std::size_t>(i) < patches.size();
}

} // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE int patch_count()
{
	return static_cast<int>(patches.size());
}

// Where record i starts in the target; -1 past the table.
EMSCRIPTEN_KEEPALIVE int patch_offset(int i)
{
	return in_table(i) ? patches[static_cast<std::size_t>(i)].offset : -1;
}

// How many bytes record i writes, its three zero bytes included; -1 past the table.
EMSCRIPTEN_KEEPALIVE int patch_size(int i)
{
	return in_table(i) ? static_cast<int>(record_size(patches[static_cast<std::size_t>(i)])) : -1;
}
}
