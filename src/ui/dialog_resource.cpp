#include "ui/dialog_resource.h"

#include <string_view>

namespace veltrane::ui {
namespace {

using platform::ControlKind;

// Window styles of each kind, as resource-script expressions. Static texts
// notify so that their double clicks arrive; frames are empty etched
// rectangles the dialog paints into.
const char* stylesOf(ControlKind kind) noexcept {
  switch (kind) {
    case ControlKind::pushButton: return "BS_PUSHBUTTON | WS_TABSTOP";
    case ControlKind::defaultPushButton: return "BS_DEFPUSHBUTTON | WS_TABSTOP";
    case ControlKind::checkBox: return "BS_AUTOCHECKBOX | WS_TABSTOP";
    case ControlKind::staticText: return "SS_LEFT | SS_NOTIFY";
    case ControlKind::slider: return "TBS_HORZ | TBS_BOTH | TBS_NOTICKS | WS_TABSTOP";
    case ControlKind::editBox: return "ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP";
    case ControlKind::frame: return "SS_ETCHEDFRAME";
  }
  return "0";
}

void appendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (const char c : text) {
    if (c == '"') {
      out += "\"\"";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  out += '"';
}

}  // namespace

const char* windowClassOf(ControlKind kind) noexcept {
  switch (kind) {
    case ControlKind::pushButton:
    case ControlKind::defaultPushButton:
    case ControlKind::checkBox: return "Button";
    case ControlKind::staticText:
    case ControlKind::frame: return "Static";
    case ControlKind::slider: return "msctls_trackbar32";
    case ControlKind::editBox: return "Edit";
  }
  return "Static";
}

std::string dialogResourceScript(const platform::DialogTemplate& dialog, const char* name) {
  std::string out;
  out += "// The filter dialog, written by the resource generator from the dialog template.\n";
  out += "#include <windows.h>\n#include <commctrl.h>\n\n";
  out += name;
  out += " DIALOG 0, 0, " + std::to_string(dialog.width) + ", " + std::to_string(dialog.height) + "\n";
  // A popup with a caption and a sizing border, without a system menu.
  out += "STYLE DS_SETFONT | WS_POPUP | WS_CAPTION | WS_THICKFRAME\n";
  out += "CAPTION ";
  appendQuoted(out, dialog.caption);
  out += "\nFONT " + std::to_string(dialog.fontSize) + ", ";
  appendQuoted(out, dialog.font);
  out += "\nBEGIN\n";
  for (const platform::ControlSpec& c : dialog.controls) {
    out += "  CONTROL ";
    appendQuoted(out, c.text);
    out += ", " + std::to_string(c.id) + ", ";
    appendQuoted(out, windowClassOf(c.kind));
    // The statement makes a control visible unless told otherwise.
    out += c.initiallyHidden ? ", NOT WS_VISIBLE | WS_CHILD | " : ", WS_CHILD | WS_VISIBLE | ";
    out += stylesOf(c.kind);
    out += ", " + std::to_string(c.x) + ", " + std::to_string(c.y) + ", " + std::to_string(c.width) + ", " +
           std::to_string(c.height) + "\n";
  }
  out += "END\n";
  return out;
}

}  // namespace veltrane::ui
