// The replay page: the built viewer (one HTML file with its scripts and the
// 3-D library inlined) with a run's record put in its data slot, so that the
// written file opens in any browser without a network.
#pragma once

#include <string>

namespace vtal::sim {

// Where an installation keeps the built viewer.
std::string ViewerTemplatePath(const std::string &installationRoot);

// Whether this build carries the replay page (-DVTAL_VIEWER=OFF builds
// everything else without npm).
#ifndef VTAL_VIEWER_BUILT
#define VTAL_VIEWER_BUILT 1
#endif
inline constexpr bool kViewerBuilt = VTAL_VIEWER_BUILT != 0;

// The viewer with `recordJson` in its slot. Throws InputError if the viewer
// is missing or has no slot.
std::string ComposeViewPage(const std::string &templatePath, const std::string &recordJson);

// JSON made safe inside an HTML script element: no "<" is left to end it.
std::string EscapeForScript(const std::string &json);

}  // namespace vtal::sim
