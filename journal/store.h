// Where the journal lives and how its bytes reach the disk: the one seam of
// the journal between the platforms. Paths are UTF-8. Every operation
// returns an empty text on success, otherwise what went wrong.
#pragma once

#include <string>
#include <string_view>

namespace journal::store {

// The folder of this program's journal in the platform's place for a
// user's application data (Linux: $XDG_STATE_HOME/orven-setup, by default
// ~/.local/state/orven-setup; Windows: %LOCALAPPDATA%\orven-setup). Empty
// when the system names no such place.
std::string DefaultFolder();

// The path of 'name' inside 'folder'.
std::string Join(const std::string& folder, std::string_view name);

// Creates the folder (and its parents) when missing; the folder itself is
// made readable by this user only.
std::string MakeFolder(const std::string& folder);

// Appends 'line' (ending in a newline) to the file, creating it readable by
// this user only, and waits until the bytes are on the disk. When the file
// does not end in a newline (its last line was torn by a power cut), a
// newline goes first so that the new line stays whole. 'size' is set to the
// file's length before the append.
std::string AppendDurably(const std::string& path, std::string_view line, unsigned long long& size);

// Replaces the file's whole content, never leaving half of it: a temporary
// file beside it, on the disk, then renamed over it.
std::string ReplaceDurably(const std::string& path, std::string_view content);

// The file's whole content; a missing file is empty ('missing' set).
std::string ReadAll(const std::string& path, std::string& content, bool& missing);

// This workstation's name, as the network knows it.
std::string WorkstationName();

}  // namespace journal::store
