// The filter conversion behind the file-open dialog, exposed for its test.
#pragma once

#include <QString>
#include <string>

namespace ui::detail {

// The platform's "desc|pattern||" filter as the toolkit's "desc (pattern)".
QString FileDialogFilter(const std::string& filter);

}  // namespace ui::detail
