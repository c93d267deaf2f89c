#pragma once
// The CRC register of structure cards and result files: IEEE 802.3 table,
// started at -1, no final inversion; line ends are never summed.
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "model/Protein.h"

namespace cavitas {

constexpr std::int32_t kCheckSumStart = -1;

std::int32_t UpdateCheckSum(std::uint8_t b, std::int32_t r);
// Folds every character of the line into the register, in order.
void AddToCheckSum(const std::string& text, std::int32_t& sum);
// AddToCheckSum for each line of the list, in order.
void ListCheckSum(const TMyCollection<TString>& list, std::int32_t& sum);
// Sums the line, then writes it with a line end ("\n").
void WriteLineWithSum(const std::string& text, std::ostream& file, std::int32_t& sum);
void WriteListWithSum(const TMyCollection<TString>& list, std::ostream& file, std::int32_t& sum);
// Writes the lines without summing them.
void WriteLines(const TMyCollection<TString>& list, std::ostream& file);

// The "CH-SUM" card: the register as a signed decimal right-aligned in 12 columns.
std::string CheckSumCard(std::int32_t sum);

// The value of the file's last CH-SUM card, or -1 when it has none. A card
// whose value is not a 32-bit decimal integer is reported to log (nullptr:
// not at all) and leaves the value as it was. Lines end at a line feed; a carriage return
// before it is not part of the line. The file must be readable (IoError otherwise).
std::int32_t ReadCheckSum(const std::string& fileName, TLogFileObject* log);
// The same scan over a text already read, so that an input is read only once
// (a pipe cannot be read twice).
std::int32_t ReadCheckSumOfText(std::string_view text, TLogFileObject* log);
// The same scan; lineMode false (lines read up to a line feed) gives the same
// lines here, since a trailing carriage return and blanks never belong to the value.
void ReadCheckSum(const TProteinObject& protein, const std::string& fileName, std::int32_t& stored);

}  // namespace cavitas
