// The seven fixed edits: where each text goes in the target, and what it is.
#ifndef PATCHER_PATCH_TABLE_H
#define PATCHER_PATCH_TABLE_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

struct Patch {
	std::int32_t offset;   // bytes from the first byte of the target
	std::string_view text; // written without a terminating zero
};

// Every text is followed in the target by these three zero bytes.
inline constexpr std::string_view terminator{"\0\0\0", 3};

// Applied in this order, each at its own absolute offset. Offsets are in
// hex, as a hex dump shows them; the checks below tie them to the decimal
// ones (record 1 at 1136488, then the spacing).
inline constexpr std::array<Patch, 7> patches{{
    {0x115768, "TARVENOK T.C."},
    {0x115789, "MECHANISED MATCH"},
    {0x1157AA, "SQUADRON ONLY"},
    {0x1157CB, "OLA VRENT"},
    {0x1157DF, "DAEL MURHAX"},
    {0x1157F3, "IVO QUENTH"},
    {0x115807, "JUN WAVERTOL"},
}};

// Bytes one record puts into the target, starting at its offset.
constexpr std::size_t record_size(const Patch &p)
{
	return p.text.size() + terminator.size();
}

// The position just after a record's last byte.
constexpr std::int64_t record_end(const Patch &p)
{
	return p.offset + static_cast<std::int64_t>(record_size(p));
}

// The largest record_size(), so one buffer holds any record.
inline constexpr std::size_t longest_record = [] {
	std::size_t n = 0;
	for (const Patch &p : patches)
		n = record_size(p) > n ? record_size(p) : n;
	return n;
}();

// The position just after the last byte the table writes.
inline constexpr std::int64_t reach = record_end(patches.back());

// Compile-time checks of the table: a typo in it must not build.
namespace table_checks {

constexpr bool texts_are_plain()
{
	for (const Patch &p : patches) {
		if (p.text.size() < 9 || p.text.size() > 16)
			return false;
		for (char c : p.text)
			if (!((c >= 'A' && c <= 'Z') || c == ' ' || c == '.'))
				return false; // so no '%' and no zero byte either
	}
	return true;
}

constexpr bool terminator_is_zeros()
{
	for (char c : terminator)
		if (c != '\0')
			return false;
	return terminator.size() == 3;
}

// Records 1-4 lie 33 bytes apart, records 4-7 20 bytes apart.
constexpr bool offsets_are_spaced()
{
	if (patches.front().offset < 0)
		return false;
	for (std::size_t i = 1; i < patches.size(); i++)
		if (patches[i].offset - patches[i - 1].offset != (i <= 3 ? 33 : 20))
			return false;
	return true;
}

// The bytes left untouched between one record's end and the next offset.
inline constexpr std::array<std::int32_t, 6> untouched{17, 14, 17, 8, 6, 7};

constexpr bool gaps_are_kept()
{
	for (std::size_t i = 0; i < untouched.size(); i++)
		if (patches[i + 1].offset - record_end(patches[i]) != untouched[i])
			return false;
	return true;
}

static_assert(terminator_is_zeros(), "the terminator is three zero bytes");
static_assert(texts_are_plain(), "texts are 9-16 of A-Z, blank and full stop");
static_assert(patches.front().offset == 1136488, "record 1 is at 1136488");
static_assert(offsets_are_spaced(), "offsets rise by 33, 33, 33, 20, 20, 20");
static_assert(gaps_are_kept(), "untouched gaps are 17, 14, 17, 8, 6, 7 bytes");
static_assert(patches.front().text.substr(patches.front().text.size() - 5) == " T.C.",
              "record 1 ends with a blank and T.C.");
static_assert(longest_record == 19, "record 2 is the longest, 19 bytes");
static_assert(reach == 0x115816, "the last byte written is at 0x115815");
static_assert(reach <= INT32_MAX, "every position fits a signed 32-bit offset");

} // namespace table_checks

#endif
