// The page shows the seven ranges before and after a run. It reads where
// they are from the program's own table, never from a copy of its own.
#include <cstddef>

#include <emscripten/emscripten.h>

#include "../src/patch_table.h"

namespace {

// Record i, or nothing past the table.
const Patch *record(int i)
{
	if (i < 0 || static_cast<std::size_t>(i) >= patches.size())
		return nullptr;
	return &patches[static_cast<std::size_t>(i)];
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
	const Patch *p = record(i);
	return p != nullptr ? p->offset : -1;
}

// How many bytes record i writes, its three zero bytes included; -1 past the table.
EMSCRIPTEN_KEEPALIVE int patch_size(int i)
{
	const Patch *p = record(i);
	return p != nullptr ? static_cast<int>(record_size(*p)) : -1;
}
}
