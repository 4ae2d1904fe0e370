// The head-up display as an SVG picture (--hud): the readouts' columns of
// spaces reach the picture and are declared as kept (a renderer collapses
// runs of spaces otherwise), and text is escaped for XML. A browser measures
// the kept spaces on the written file in tests/viewer/hud_svg_test.cjs.
#include <gtest/gtest.h>

#include <regex>

#include "SimTestSupport.h"
#include "sim/world/HudCanvas.h"

namespace vtal::simtest {
namespace {

// The text elements' contents, in order.
std::vector<std::string> TextContents(const std::string &svg) {
    std::vector<std::string> texts;
    const std::regex element("<text[^>]*>([^<]*)</text>");
    for (auto it = std::sregex_iterator(svg.begin(), svg.end(), element); it != std::sregex_iterator(); ++it)
        texts.push_back((*it)[1]);
    return texts;
}

TEST(HudSvg, ColumnsOfSpacesAreWrittenAndDeclaredKept) {
    VtalCanvas canvas;
    canvas.runs.push_back({10, 10, 0x0000FFFF, "ALT   1234.5 m   V/S   -1.20 m/s"});
    canvas.runs.push_back({10, 30, 0x0000FF00, "  K = Solar panels      (ground)  "});
    const std::string svg = sim::CanvasToSvg(canvas);
    const std::vector<std::string> texts = TextContents(svg);
    ASSERT_EQ(texts.size(), 2u) << svg;
    EXPECT_EQ(texts[0], canvas.runs[0].text);
    EXPECT_EQ(texts[1], canvas.runs[1].text) << "leading and trailing spaces too";
    // Kept for every text: the root's xml:space, and CSS white-space for renderers that follow CSS.
    const std::string root = svg.substr(svg.find("<svg"), svg.find('>', svg.find("<svg")) - svg.find("<svg"));
    EXPECT_NE(root.find("xml:space=\"preserve\""), std::string::npos) << root;
    EXPECT_TRUE(std::regex_search(svg, std::regex("text\\s*\\{[^}]*white-space:\\s*pre\\s*;")));
}

TEST(HudSvg, MarkupAndControlCharactersInTheTextAreEscaped) {
    VtalCanvas canvas;
    canvas.runs.push_back({0, 0, 0, "a<b & \"c\">d\te"});
    const std::vector<std::string> texts = TextContents(sim::CanvasToSvg(canvas));
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], "a&lt;b &amp; &quot;c&quot;&gt;d?e");
}

TEST(HudSvg, TheDefaultDescentsLegendKeepsItsSpacing) {
    auto w = MakeWorld(ScenarioWith(LanderBlock(LandedLines(), "  MANUAL 0\n")));
    w->Step();
    w->PaintHud();
    ASSERT_FALSE(w->Canvas().runs.empty());
    const std::vector<std::string> texts = TextContents(sim::CanvasToSvg(w->Canvas()));
    ASSERT_EQ(texts.size(), w->Canvas().runs.size());
    bool anyColumns = false;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::string &painted = w->Canvas().runs[i].text;
        if (painted.find_first_of("<>&\"") == std::string::npos) {
            EXPECT_EQ(texts[i], painted);
        }
        anyColumns |= painted.find("  ") != std::string::npos;
    }
    EXPECT_TRUE(anyColumns) << "the legend has columns of spaces to keep";
}

}  // namespace
}  // namespace vtal::simtest
