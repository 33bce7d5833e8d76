// The dialog resource script generated from the dialog template.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "shell/parameter_tables.h"
#include "ui/dialog_resource.h"
#include "ui/dialog_template.h"

namespace veltrane::ui {
namespace {

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The control statement of `id`, or "" when there is none; fails when there
// is more than one.
std::string controlLine(const std::vector<std::string>& lines, std::int32_t id) {
  std::string found;
  const std::string key = "\", " + std::to_string(id) + ", \"";
  for (const std::string& line : lines) {
    if (line.rfind("  CONTROL ", 0) != 0 || line.find(key) == std::string::npos) continue;
    EXPECT_TRUE(found.empty()) << "id " << id << " twice";
    found = line;
  }
  return found;
}

TEST(DialogResource, DeclaresTheTemplateWithEveryControlInOrder) {
  const DialogTemplate& t = dialogTemplate(halvaneDeliverable());
  const std::vector<std::string> lines = linesOf(dialogResourceScript(t, "FILTERDIALOG"));
  const std::vector<std::string> head = {"FILTERDIALOG DIALOG 0, 0, 564, 498",
                                         "STYLE DS_SETFONT | WS_POPUP | WS_CAPTION | WS_THICKFRAME",
                                         "CAPTION \"Veltrane\"", "FONT 8, \"MS Sans Serif\"", "BEGIN"};
  std::size_t at = 0;
  while (at < lines.size() && lines[at] != head[0]) ++at;
  ASSERT_LE(at + head.size() + t.controls.size() + 1, lines.size());
  for (std::size_t i = 0; i < head.size(); ++i) EXPECT_EQ(lines[at + i], head[i]);
  for (std::size_t i = 0; i < t.controls.size(); ++i) {
    const std::string& line = lines[at + head.size() + i];
    EXPECT_EQ(line, controlLine(lines, t.controls[i].id)) << "control " << i << " out of order";
  }
  EXPECT_EQ(lines[at + head.size() + t.controls.size()], "END");

  EXPECT_EQ(controlLine(lines, 1),
            "  CONTROL \"&OK\", 1, \"Button\", WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON | WS_TABSTOP, "
            "7, 477, 134, 14");
  const RealControl& overall = halvaneDeliverable().controls.reals[0];
  EXPECT_NE(controlLine(lines, overall.sliderId).find(", \"msctls_trackbar32\", WS_CHILD | WS_VISIBLE | TBS_HORZ"),
            std::string::npos);
  EXPECT_NE(controlLine(lines, overall.editId).find(", \"Edit\", "), std::string::npos);
  // Labels report double clicks; panes are frames.
  EXPECT_NE(controlLine(lines, labelIdOf(overall)).find("SS_NOTIFY"), std::string::npos);
  EXPECT_NE(controlLine(lines, 900).find(", \"Static\", WS_CHILD | WS_VISIBLE | SS_ETCHEDFRAME, "), std::string::npos);
}

TEST(DialogResource, EscapesTextsAndHidesHiddenControls) {
  const std::vector<std::string> halvane =
      linesOf(dialogResourceScript(dialogTemplate(halvaneDeliverable()), "FILTERDIALOG"));
  // A quote doubles; "&&" (one literal '&') stays as the dialog reads it.
  EXPECT_EQ(controlLine(halvane, 935).rfind(
                "  CONTROL \"[3] Adjust the \"\"Mix in original B&&W detail\"\" slider according to your tastes. \", "
                "935, \"Static\", ",
                0),
            0u);
  const std::vector<std::string> mirelle =
      linesOf(dialogResourceScript(dialogTemplate(mirelleDeliverable()), "FILTERDIALOG"));
  EXPECT_NE(controlLine(mirelle, 306).find(", \"Static\", NOT WS_VISIBLE | WS_CHILD | "), std::string::npos);
  EXPECT_EQ(controlLine(mirelle, 907), "");  // no manual selection in the matte filter
}

}  // namespace
}  // namespace veltrane::ui
