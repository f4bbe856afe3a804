// Writing Module records as an XM file, so that songs built in code (tests, the composer)
// become files the loader reads, and loaded songs can be written back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessivane::music {

struct Module;

// Writes module as XM bytes (replacing bytes). Loading them gives the same song: the same
// counts, orders, cells, instruments and sample values, after the loader's own conversions
// (for example, note 255 is stored as 97 and read back as 255, and a cell's instrument 129
// is written as it is and read back as 0). A sample whose bits are 8 is stored as 8-bit
// data, which it must be able to hold (every value's low byte 0); any other as 16-bit.
// Values the loader would reject or repair are written as they are, so that such files can
// be made too. False, with error naming the record, only when the module cannot be stored
// in the format's fields: a negative or too large count, a missing pattern, cells or sample,
// an odd fadeout (the file stores half of it), 8-bit data that is not, a pattern whose
// packed cells exceed 65535 bytes.
// title (at most 20 characters are kept) is the module's name in the file.
bool writeModule(const Module& module, std::vector<std::uint8_t>& bytes, std::string& error,
                 const char* title = "");

// "" when a and b hold the same song, else a line naming the first difference. Compared is
// everything the file stores except how sample values are stored (bits): the values are
// compared, as far as they can sound: a looping sample's values from its loop end on are
// never played (the loader writes the loop's guard value over the first of them). The
// playback position is not compared.
std::string moduleDifference(const Module& a, const Module& b);

} // namespace tessivane::music
