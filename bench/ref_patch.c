/* Reference for the benchmark: the least a program can do for the same job,
 * one open, seven positioned writes and one close, with no C++ runtime. */
#include <fcntl.h>
#include <unistd.h>

static const struct {
	off_t offset;
	const char *bytes;
	size_t size;
} refs[] = {
    {1136488, "TARVENOK T.C.\0\0", 16},
    {1136521, "MECHANISED MATCH\0\0", 19},
    {1136554, "SQUADRON ONLY\0\0", 16},
    {1136587, "OLA VRENT\0\0", 12},
    {1136607, "DAEL MURHAX\0\0", 14},
    {1136627, "IVO QUENTH\0\0", 13},
    {1136647, "JUN WAVERTOL\0\0", 15},
};

int main(void)
{
	int status = 0;
	int fd = open("DUKE3D.EXE", O_RDWR);
	if (fd < 0)
		return 255;
	for (size_t i = 0; i < sizeof refs / sizeof refs[0]; i++)
		if (pwrite(fd, refs[i].bytes, refs[i].size, refs[i].offset) !=
		    (ssize_t)refs[i].size)
			status = 255;
	if (close(fd) != 0)
		status = 255;
	return status;
}
