// patcher: writes seven fixed texts, each followed by three zero bytes, at
// fixed offsets into DUKE3D.EXE in the current folder. It prints nothing and
// reads no arguments; the exit status is the report: 0 when every record was
// written and the file closed cleanly, -1 when anything failed.
#include <array>
#include <csignal>
#include <cstddef>
#include <cstdio>

#include "patch_table.h"

int main()
{
#ifdef SIGXFSZ
	// Past the file-size limit a write must fail like any other, not kill
	// the run before it can close the file and report. Should this fail,
	// the signal still ends the run with a failing status: safe to go on.
	(void)std::signal(SIGXFSZ, SIG_IGN);
#endif
	// Update mode: the file must exist and is never created or truncated.
	// Binary, so the bytes land untranslated.
	std::FILE *target = std::fopen("DUKE3D.EXE", "r+b");
	if (target == nullptr)
		return -1;

	// Unbuffered: a buffered stream in update mode reads a block at every
	// seek, and holds back bytes that close would retry after a failure.
	// This way each record leaves in one write whose result is known at once.
	bool ok = std::setvbuf(target, nullptr, _IONBF, 0) == 0;
	for (std::size_t i = 0; ok && i < patches.size(); i++) {
		const Patch &p = patches[i];
		std::array<char, longest_record> record{};
		p.text.copy(record.data(), p.text.size());
		terminator.copy(record.data() + p.text.size(), terminator.size());
		// Stop at the first failure: after a failed seek the next write
		// would land wherever the last one stopped.
		ok = std::fseek(target, p.offset, SEEK_SET) == 0 &&
		     std::fwrite(record.data(), 1, record_size(p), target) == record_size(p);
	}
	// Nothing is held back on an unbuffered stream, so this writes nothing
	// today; it stays so that bytes held back by a buffered stream, should
	// it ever be one again, are written and checked before the close.
	if (ok)
		ok = std::fflush(target) == 0;
	if (std::fclose(target) != 0)
		ok = false;
	return ok ? 0 : -1;
}
