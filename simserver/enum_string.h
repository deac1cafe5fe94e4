// An IEnumString over a fixed list of strings, shared by its clones.
#pragma once

#include <objbase.h>

#include <memory>
#include <string>
#include <vector>

namespace simserver {

using StringList = std::vector<std::wstring>;

// Hands out a new enumerator with one reference in *out.
HRESULT CreateStringEnumerator(std::shared_ptr<const StringList> strings, IEnumString **out);

}  // namespace simserver
