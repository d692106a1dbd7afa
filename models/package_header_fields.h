// The fields of the dialog's package header copy that drive identification
// reads, as text views into the copy.
#pragma once

#include <string_view>

#include "package/package_layout.h"

namespace tslflash {

// inquiryId without its revision: the drive the package is for, or a leading
// '*' for a package made for any drive of a model.
std::string_view PackageIdOf(const PackageHeaderCopy& header);
// 10 characters: a model code followed by NUL bytes, or an enclosure product
// name padded with blanks.
std::string_view AltProductNameOf(const PackageHeaderCopy& header);
// 2 letters that choose the tool variant.
std::string_view VariantMarkOf(const PackageHeaderCopy& header);

// True when the header starts with the maker's tag "KOVA".
[[nodiscard]] bool CheckPackageTag(const PackageHeaderCopy& header);

}  // namespace tslflash
