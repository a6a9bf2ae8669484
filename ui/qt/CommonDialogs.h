// Conversions behind the file-open dialog, exposed for their tests.
#pragma once

#include <QString>
#include <string>

namespace ui::detail {

// The platform's "desc|pattern||" filter as the toolkit's "desc (pattern)".
QString FileDialogFilter(const std::string& filter);
// The suffix appended to a name typed without one; empty for "*.*".
QString DefaultSuffix(const std::string& extension);

}  // namespace ui::detail
