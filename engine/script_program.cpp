#include "engine/script_program.h"

#include <unistd.h>

#include <memory>
#include <system_error>

#include "values/text_file_ops.h"

namespace velmar {

namespace {

std::string_view DropByteOrderMark(std::string_view text, const CodePage& cp) {
  if (cp.id() == CodePage::kUtf8 && text.substr(0, 3) == "\xEF\xBB\xBF") return text.substr(3);
  return text;
}

// One source on the chain of includes. The included text is read in place
// of the `using` line without copying the rest of the including text, so
// loading stays linear in the size of all sources.
struct SourceFrame {
  // Text of an include file (none for the main source); held by pointer so
  // that `text` stays valid when the chain grows.
  std::unique_ptr<std::string> owned;
  std::string_view text;
  std::size_t pos = 0;
  std::string path;  // canonical path, for cutting include cycles
  uint32_t file = 0;  // index into the program's files
  uint32_t line = 0;  // the line last read, from 1
};

// Only regular files are read as scripts: a folder reads as nothing, and a
// pipe or device could block the loader or feed it without end.
std::string ReadScriptFile(const std::string& path, const CodePage& cp) {
  const std::string normalized = NormalizePath(path, cp);
  if (normalized.find('\0') != std::string::npos) return {};  // would name another file
  std::error_code ec;
  if (!std::filesystem::is_regular_file(normalized, ec)) return {};
  return ReadTextFile(path, cp);
}

// Whether `using` can read the file: a regular file that opens.
bool IsReadableScript(const std::string& path, const CodePage& cp) {
  const std::string normalized = NormalizePath(path, cp);
  if (normalized.find('\0') != std::string::npos) return false;
  std::error_code ec;
  return std::filesystem::is_regular_file(normalized, ec) && ::access(normalized.c_str(), R_OK) == 0;
}

std::string CanonicalOrSelf(const std::string& path) {
  if (path.empty()) return path;
  std::error_code ec;
  auto canonical = std::filesystem::weakly_canonical(path, ec);
  return ec ? path : canonical.string();
}

// The `using` argument as a relative path: dots and `\` separate folders.
// Neither byte is touched inside a character (a GBK trail byte may be `\`).
std::string IncludeName(std::string_view name, const CodePage& cp) {
  std::string n(CodePage::Trim(name));
  for (std::size_t pos = 0; pos < n.size(); pos += cp.CharLength(n, pos)) {
    if (n[pos] == '.' || n[pos] == '\\') n[pos] = '/';
  }
  return n;
}

}  // namespace

std::string IncludePath(const std::filesystem::path& home, std::string_view name,
                        const CodePage& cp) {
  return (home / "Script").string() + "/" + IncludeName(name, cp) + ".vlm";
}

std::string IncludePathBeside(const std::string& includingFile, std::string_view name,
                              const CodePage& cp) {
  const std::string::size_type slash = includingFile.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : includingFile.substr(0, slash + 1);
  return folder + IncludeName(name, cp) + ".vlm";
}

std::string DescribeIncludeProblem(const IncludeProblem& problem) {
  switch (problem.kind) {
    case IncludeProblem::Kind::kCycle:
      return "include cycle: " + problem.path + " is already being included";
    case IncludeProblem::Kind::kTooDeep:
      return "includes nested deeper than " + std::to_string(kMaxIncludeDepth) + ": " + problem.path;
    case IncludeProblem::Kind::kUnreadable:
      break;
  }
  return "cannot read include file " + problem.path;
}

ScriptProgram parseScript(std::string_view source, const EngineEnvironment& env,
                          const std::string& sourcePath) {
  const CodePage& cp = *env.codePage;
  ScriptProgram program;
  program.files.push_back(sourcePath);
  std::vector<SourceFrame> frames;
  frames.push_back({{}, DropByteOrderMark(source, cp), 0, CanonicalOrSelf(sourcePath), 0, 0});
  uint32_t mainLines = 0;

  while (!frames.empty()) {
    SourceFrame& frame = frames.back();
    if (frame.pos >= frame.text.size()) {
      if (frames.size() == 1) mainLines = frame.line;
      frames.pop_back();
      continue;
    }
    std::string_view line;
    const std::size_t q = frame.text.find("\r\n", frame.pos);
    // Only the main source can end without CR LF: include files are read
    // with ReadTextFile, which terminates every line.
    const bool lastLine = q == std::string_view::npos && frames.size() == 1;
    if (q == std::string_view::npos) {
      line = frame.text.substr(frame.pos);
      frame.pos = frame.text.size();
    } else {
      line = frame.text.substr(frame.pos, q - frame.pos);
      frame.pos = q + 2;
    }
    frame.line += 1;
    const SourceLine here{frame.file, frame.line};
    line = CodePage::TrimLeft(line);

    StatementSplit split = splitStatement(line, cp, env.flavor);
    switch (split.id) {
      case stmt::kLabel:
        program.labels[split.text] = static_cast<uint32_t>(program.commands.size());
        program.labelDefinitions.push_back(
            {std::move(split.text), static_cast<uint32_t>(program.commands.size()), here});
        break;
      case stmt::kUsing: {
        if (lastLine) break;
        IncludeProblem problem{IncludeProblem::Kind::kUnreadable, split.text,
                               IncludePath(env.home, split.text, cp), here};
        if (frames.size() > kMaxIncludeDepth) {
          problem.kind = IncludeProblem::Kind::kTooDeep;
          program.includeProblems.push_back(std::move(problem));
          break;
        }
        // The home folder's Script/ first, as always; then beside the
        // including file, so that a script and its includes can be kept
        // together anywhere.
        std::string path = problem.path;
        bool readable = IsReadableScript(path, cp);
        if (!readable && !program.files[frame.file].empty()) {
          std::string beside = IncludePathBeside(program.files[frame.file], split.text, cp);
          if (IsReadableScript(beside, cp)) {
            path = std::move(beside);
            readable = true;
          }
        }
        if (!readable) {
          program.includeProblems.push_back(std::move(problem));
          break;
        }
        const std::string canonical = CanonicalOrSelf(path);
        bool onChain = false;
        for (const SourceFrame& f : frames) onChain = onChain || f.path == canonical;
        if (onChain) {
          problem.kind = IncludeProblem::Kind::kCycle;
          problem.path = path;
          program.includeProblems.push_back(std::move(problem));
          break;
        }
        SourceFrame include;
        include.owned = std::make_unique<std::string>(ReadTextFile(path, cp));
        include.path = canonical;
        if (include.owned->empty()) break;
        include.text = DropByteOrderMark(*include.owned, cp);
        include.file = static_cast<uint32_t>(program.files.size());
        program.files.push_back(path);
        frames.push_back(std::move(include));
        break;
      }
      case stmt::kNone:
        if (!line.empty() && line.substr(0, 2) != "//" && !program.commands.empty()) {
          ScriptCommand& last = program.commands.back();
          last.text += '\n';
          last.text += line;
          if (last.file == here.file) last.lastLine = here.line;
        }
        break;
      default:
        program.commands.push_back({split.id, std::move(split.text), here.file, here.line, here.line});
        break;
    }
  }
  const uint32_t end = mainLines == 0 ? 1 : mainLines;
  program.commands.push_back({stmt::kExit, {}, 0, end, end});
  program.structure = BlockStructure(program.commands, program.lastIndex());
  return program;
}

ScriptProgram LoadScriptFile(const std::string& path, const EngineEnvironment& env) {
  return parseScript(ReadScriptFile(path, *env.codePage), env, NormalizePath(path, *env.codePage));
}

}  // namespace velmar
