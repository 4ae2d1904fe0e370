#include "sim/view/ViewPage.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/base/InputError.h"

namespace vtal::sim {
namespace {

// The viewer's data slot; the page reads the record from this script element.
const char *const kDataSlot = "__VTAL_FLIGHT_RECORD__";

}  // namespace

std::string ViewerTemplatePath(const std::string &installationRoot) {
    return (std::filesystem::path(installationRoot) / "Viewer" / "vtal-viewer.html").string();
}

std::string EscapeForScript(const std::string &json) {
    // "<" stands only inside JSON strings, where "\u003c" reads back as "<";
    // without it neither "</script" nor "<!--" can reach the HTML parser.
    std::string out;
    out.reserve(json.size());
    for (char c : json) {
        if (c == '<')
            out += "\\u003c";
        else
            out += c;
    }
    return out;
}

std::string ComposeViewPage(const std::string &templatePath, const std::string &recordJson) {
    std::ifstream in(templatePath, std::ios::binary);
    if (!in)
        throw InputError(At(templatePath, 0, "the replay viewer is not installed (it is built by the vtal_viewer target)"));
    std::ostringstream text;
    text << in.rdbuf();
    std::string page = text.str();
    const std::size_t slot = page.find(kDataSlot);
    if (slot == std::string::npos || page.find(kDataSlot, slot + 1) != std::string::npos)
        throw InputError(At(templatePath, 0, "not a replay viewer (it needs exactly one data slot)"));
    page.replace(slot, std::char_traits<char>::length(kDataSlot), EscapeForScript(recordJson));
    return page;
}

}  // namespace vtal::sim
