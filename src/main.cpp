// patcher: writes seven fixed texts, each followed by three zero bytes, at
// fixed offsets into DUKE3D.EXE in the current folder. It prints nothing and
// reads no arguments; the exit status is the report: 0 when every record was
// written and the file closed cleanly, -1 when anything failed.
#include <array>
#include <csignal>
#include <fstream>

#include "patch_table.h"

int main()
{
#ifdef SIGXFSZ
	// Past the file-size limit a write must fail like any other, not kill
	// the run before it can close the file and report.
	std::signal(SIGXFSZ, SIG_IGN);
#endif
	std::ofstream target;
	// Unbuffered: each record leaves in one write whose result is known at
	// once, and nothing held back is retried at close after a failure.
	target.rdbuf()->pubsetbuf(nullptr, 0);
	// in|out is update mode: the file must exist and is never created or
	// truncated. Binary, so the bytes land untranslated.
	target.open("DUKE3D.EXE", std::ios::in | std::ios::out | std::ios::binary);
	if (!target.is_open())
		return -1;

	for (const Patch &p : patches) {
		std::array<char, longest_record> record{};
		p.text.copy(record.data(), p.text.size());
		terminator.copy(record.data() + p.text.size(), terminator.size());
		// Stop at the first failure: after a failed seek the next write
		// would land wherever the last one stopped.
		if (!target.seekp(p.offset) ||
		    !target.write(record.data(), static_cast<std::streamsize>(record_size(p))))
			break;
	}
	if (target)
		target.flush();
	target.close();
	return target ? 0 : -1;
}
