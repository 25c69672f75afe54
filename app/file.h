#pragma once

#include <filesystem>
#include <string_view>

#include "core/settings.h"

// The one settings file of the program and its safe reading and writing.

// The largest settings file that is read; a longer one is ignored as a whole.
inline constexpr std::size_t fileLimit = 8192;

// Where the settings live: on Linux $XDG_CONFIG_HOME/Quillfen/settings.json, falling back to
// ~/.config when the variable is unset, empty or relative; on macOS the user's Application
// Support folder.
std::filesystem::path location();

// Reads the record at `file`. Any failure (missing, unreadable, longer than fileLimit, not
// decodable, not valid) gives the default record. Reads at most fileLimit + 1 bytes, so an
// endless or huge file costs no more than that, and never blocks on a pipe.
Settings load(const std::filesystem::path& file);

// Creates `folder` and its missing parents, each readable, writable and searchable by the user
// alone (0700) whatever the umask; folders that exist are left alone. Throws Failure when it
// cannot, also when a plain file stands in the way.
void prepare(const std::filesystem::path& folder);

// Replaces `file` with `bytes` atomically and durably: the bytes go to a new file in the same
// folder, private to the user (0600), are flushed to the disk, and that file is renamed over
// `file`; the folder is flushed last so the rename survives a crash. The new file has no name
// until it is complete (where the system allows), so a save killed while writing leaves nothing;
// temporary files that earlier saves left behind ("settings.json.XXXXXX") are removed first. On
// failure the old content stays and no temporary file is left behind. Throws Failure.
void store(const std::filesystem::path& file, std::string_view bytes);
