#pragma once
// Where the manager keeps the traces of the rows that record, and how a row
// finds its latest one. Each start of the manager records into a folder of
// its own under the trace folder, named after the time it started:
//   <trace folder>/<yyyymmdd-hhmmss>/<script name>-<run number>.trace
// Run numbers start again with every start of the manager, so without the
// folder of its own a later start would replace the traces of an earlier
// one.

#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

namespace velmar {

// A folder name for a start of the manager at `when` (local time) that is
// not yet taken under `root` (a second start in the same second gets
// "-2"). Nothing is created.
std::filesystem::path NewRecordSession(const std::filesystem::path& root, std::time_t when);

// The newest trace of the script at `scriptPath` in the session folders
// under `root`: a `<script name>-<number>.trace` file whose run names this
// very script (two scripts of the same name in different folders keep
// apart). Nullopt when there is none.
std::optional<std::filesystem::path> LatestRunTrace(const std::filesystem::path& root,
                                                    const std::string& scriptPath);

}  // namespace velmar
