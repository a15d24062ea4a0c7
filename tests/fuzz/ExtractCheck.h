// The properties of the extractor, shared by its strict and fuzzy targets.
#pragma once

#include <string_view>

namespace qbfuzz {

void CheckExtraction(std::string_view bytes, bool ambiguous);

}  // namespace qbfuzz
