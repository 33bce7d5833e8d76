#pragma once

// The dialog's "Save Settings" and "Load Settings" buttons: the parameter
// block of the current call (callContext().parameters) to and from a file the
// user chooses, in the format of the active deliverable.
namespace veltrane::ui {

// Writes the whole parameter block. Returns true when the file was written;
// false when the user cancelled (no message) or writing failed (messages
// shown).
bool saveSettings();

// Reads a file into the parameter block; slots read before a failure keep
// their new values. The two profile-on-load flags are never changed.
// Returns true when the file loaded completely. Whatever it returns, the
// caller then refreshes the preview and every control from the parameter
// block (also after a cancelled chooser).
bool loadSettings();

inline constexpr const char* msgCannotOpenForWriting =
    "Could not open file for writing.  Note that Unicode characters in the file name are not supported and "
    "read-only files cannot be overwritten.";
inline constexpr const char* msgErrorWriting =
    "Error writing save file.  It may be read-only or the file name contains Unicode characters.";
inline constexpr const char* msgCannotOpen = "Could not open file.  Note that Unicode characters are not supported.";
inline constexpr const char* msgNotSettingsFile =
    "Not a valid Veltrane settings file.  No settings/parameters will be loaded.";
inline constexpr const char* msgNotANumber = "Value is not a number (NaN).";
inline constexpr const char* msgErrorReading =
    "Error encountered while reading settings.  Any settings/parameters loaded (if any) may be invalid.";

}  // namespace veltrane::ui
