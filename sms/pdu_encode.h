#pragma once
// Building the SMS-SUBMIT PDUs (hexadecimal, two upper-case digits per octet) that carry one
// text to one number: the modem's default service centre, a relative validity of four days,
// the 7-bit default alphabet and a status-report request. A text longer than 160 characters
// is cut into parts of 152 characters, each with a concatenation header (16-bit reference).

#include <string>
#include <vector>

namespace tovalink {

// The PDUs of `text` (single bytes, Windows-1252) for `destination`, in part order; empty for
// an empty text. `reference` (its low 8 bits) ties the parts of a long text together. Pure.
std::vector<std::string> EncodePdu(const std::string& destination, const std::string& text,
                                   int reference);

// The septet values of a text: the extension characters become an escape and their code,
// and characters that the alphabet table does not hold are left out. Exposed for tests and
// diagnostics.
std::vector<int> TextToSeptets(const std::string& text);

// Septets packed into octets, least significant bit first, as upper-case hexadecimal.
std::string PackSeptets(const std::vector<int>& septets);

}  // namespace tovalink
